#pragma once
// The AVI output of a rip: pictures in the export format through a video
// compressor, the 16-bit stereo sound as MP3, through an audio converter, into
// a separate WAV file, or left out; one numbered piece at a time.
//
// Pieces: "<base>.avi", then "<base>_02.avi", "<base>_03.avi", ... (base = the
// output path cut at its last '.'); the WAV export names its files the same
// way with ".wav". A failure closes the piece, so what was written stays
// readable. What stops a piece in its middle is told to the job reporter
// before the piece is closed (the user reads it before the closing's status
// line); what is only known once the piece is closed, or before a file is
// made, comes back as the call's Status for the caller to show.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "avi/codecs/audio_converter.h"
#include "avi/codecs/formats.h"
#include "avi/codecs/video_compressor.h"
#include "avi/riff/avi_file.h"
#include "avi/side_thread.h"
#include "avi/wav_file.h"
#include "platform/cancel_token.h"
#include "platform/status.h"

namespace zembra {
class JobReporter;
}

namespace zembra::avi {

class Mp3Library;
class Mp3Encoder;

// DoAVIAudio.
enum AudioCodecType : int { kAudioNone = 0, kAudioWav = 1, kAudioMp3 = 2, kAudioConverter = 3 };
// ExportYUV: the picture format handed to writeAviFrame.
enum ExportFormat : int { kExportRgb32 = 0, kExportRgb24 = 1, kExportYuy2 = 3 };

class AviWriter {
public:
    explicit AviWriter(JobReporter& reporter);
    AviWriter(JobReporter& reporter, Mp3Library& mp3);
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // The job's cancel token (may be null); a request stops writing.
    void setCancelFlag(const CancelToken* cancel) { cancel_ = cancel; }

    // The two-pass statistics file the compressor of the following passes
    // uses (empty: the compressor's own choice).
    void setStatsFile(std::string path) { statsFile_ = std::move(path); }
    // The threads the video compressor may code with (see useThreads).
    void setCompressorThreads(int count) { compressorThreads_ = count; }
    // MP3 sound encoded on a thread of its own while the picture of the same
    // frame is compressed; the file gets the same chunks in the same order.
    void setSoundThread(bool on);

    // Opens the first piece. frameLimit: writeAviFrame stops once that many
    // frames were written. overwrite or passIndex > 0: never ask before
    // replacing a file. state: the compressor's stored settings (may be empty).
    // A setting the writer refuses before it makes a file, and a sound
    // encoder or converter that cannot start (told once the piece is
    // closed), come back for the caller to show; what opening the piece
    // meets before that is told as it comes up.
    Status openAvi(const std::string& path, int frameLimit, int width, int height, double fps,
                   bool overwrite, int audioType, bool videoOn, int exportFormat, int passIndex,
                   uint32_t fccType, uint32_t fccHandler, const std::vector<uint8_t>& state);
    // One picture (export format, bottom-up for RGB) and the sound that
    // belongs to it (count 16-bit values, interleaved stereo). Not done:
    // stop (frame limit, cancel or failure, already told; the piece is
    // closed except where a question was answered No).
    Status writeAviFrame(const uint8_t* bits, const int16_t* pcm, int count);
    // Closes the current piece and opens the next numbered one; not done
    // as openAvi.
    Status nextAviPiece();
    // Finishes and releases everything; safe when nothing is open. Not done
    // when the piece could not be completed (already told to the user).
    Status closeAvi();
    // Video and audio bytes of the current piece in MiB.
    double getAviSizeMB() const;
    // 44100 or 48000: the rate of the PCM handed in.
    void setAudioOutputRate(int rate) { outputRate_ = rate; }
    int audioOutputRate() const { return outputRate_; }

    // Builds the picture descriptions for this size and export format.
    void setVideoInput(int width, int height, int exportFormat);
    const BitmapInfoHeader& inputFormat() const { return input_; }
    // The installed compressors that take pictures of this size and format.
    int listVideoCompressors(int width, int height, int exportFormat,
                             std::vector<CompressorInfo>& out);
    // Edits a compressor's settings with "key=value" lines; state is the
    // stored settings in and the new ones out (a stored state of the wrong
    // size is dropped). False when the compressor is missing or refuses.
    bool configureVideoCompressor(uint32_t fccType, uint32_t fccHandler,
                                  std::vector<uint8_t>& state, const std::string& keyValues);
    // Opens the compressor for the current input format and loads the state
    // (a stored state that does not fit is a question: Yes goes on with the
    // compressor's own settings).
    Status openVideoCompressor(uint32_t fccType, uint32_t fccHandler,
                               const std::vector<uint8_t>& state);

    // Forgets any chosen converter format; type 2 stores the MP3 settings.
    void chooseAudioCodec(int type, int bitRate, int stereo, int quality, int lowpass,
                          int highpass);
    // Type 3: picks the converter format by driver or tag name and the bit
    // rate nearest to kbps at the output rate (where the design shows a
    // chooser). False: nothing of that name, no format chosen.
    bool chooseAudioCodec(int type, const std::string& name, int kbps);
    void describeAudioCodec(int type, std::string& line1, std::string& line2) const;
    Status openAudioConverter();
    const std::optional<AudioFormatChoice>& chosenAudioFormat() const { return chosen_; }

    bool isOpen() const { return open_; }
    int pieceNumber() const { return piece_; }
    int framesWritten() const { return framesWritten_; }
    const std::string& aviPath() const { return aviPath_; }
    const std::string& wavPath() const { return wavPath_; }
    // The file name of piece n: "<base>.<ext>" for 1, "<base>_NN.<ext>" after.
    static std::string pieceName(const std::string& base, int n, const std::string& ext);
    // The base name of an output path: cut at its last '.'.
    static std::string baseName(const std::string& path);
    // The video stream's rate (frames per second x 1000, truncated) and scale.
    static uint32_t videoRate(double fps);

    // Size at which an AVI piece goes on in OpenDML RIFF extensions (tests).
    void setRiffLimit(uint64_t bytes) { riffLimit_ = bytes; }

private:
    Status openPiece(bool first);
    bool askOverwrite(const std::string& path);
    void removeEmptyPiece();
    Status openVideoStream(bool first);
    Status openSound(bool first);
    Status openWav();
    Status createAudioStream();
    Status writeVideo(const uint8_t* bits);
    bool compressVideo(const uint8_t* bits, bool& key);
    Status storeVideo(bool compressed, bool key);
    Status writeSound(const int16_t* pcm, int count);
    Status writeMp3(const int16_t* pcm, int count);
    // writeMp3's steps: the PCM split into the encoder's two channels, the
    // encoding (the part that can run beside the picture), and the chunk.
    void splitChannels(const int16_t* pcm, int count);
    int encodeMp3();
    Status storeMp3(int bytes);
    // The picture and, on the side thread, its MP3 sound.
    Status writeVideoBesideMp3(const uint8_t* bits, const int16_t* pcm, int count);
    Status writeConverted(const int16_t* pcm, int count);
    bool writeAudioChunk(const uint8_t* data, size_t size, uint32_t samples);
    // Writes what the MP3 encoder or the converter still holds.
    bool flushSound();
    // LAME's own words, as warnings, where they came up.
    void tellLame(const std::vector<std::string>& said);
    void tellLame();
    // Tells why (when it says anything) and closes the piece: failed().
    Status stopPiece(const Status& why);
    // Closes the piece with no failure of its own told and returns `then`.
    Status closeThen(Status then);

    JobReporter& reporter_;
    Mp3Library& mp3_;
    const CancelToken* cancel_ = nullptr;

    // Arguments of openAvi, kept for the following pieces.
    std::string base_;
    int frameLimit_ = 0;
    int width_ = 0, height_ = 0;
    double fps_ = 25.0;
    int audioType_ = kAudioNone;
    bool videoOn_ = true;
    int exportFormat_ = kExportRgb24;
    uint32_t fccType_ = 0, fccHandler_ = 0;
    std::vector<uint8_t> state_;
    std::string statsFile_;
    int compressorThreads_ = 1;
    bool noPrompt_ = false;
    int outputRate_ = 44100;
    // The WAV file refuses 48 kHz sound (the user is told to convert it to
    // 44.1 kHz); sound that comes at another rate of its own (32 kHz AC-3 or
    // MPEG audio, never resampled) is written at that rate, as it is.
    bool wavRateAllowed() const { return outputRate_ != 48000; }
    uint64_t riffLimit_ = riff::AviFile::kRiffLimit;

    // Picture descriptions.
    BitmapInfoHeader rgb_, yuy2_, input_;

    // The current piece.
    bool open_ = false;
    bool failureShown_ = false;
    int piece_ = 0;
    std::string aviPath_, wavPath_;
    // The piece's files this writer made (not another rip's, not an old one
    // the user kept by answering No).
    bool aviMade_ = false, wavMade_ = false;
    std::unique_ptr<riff::AviFile> file_;
    std::unique_ptr<VideoCompressor> compressor_;
    bool compressorStarted_ = false;
    bool stateLoaded_ = false;
    int videoStream_ = -1, audioStream_ = -1;
    riff::StreamHeader videoHeader_;
    WaveFormat audioFormat_;
    std::unique_ptr<Mp3Encoder> encoder_;
    std::unique_ptr<AudioConverter> converter_;
    WavFile wav_;
    std::vector<uint8_t> compressed_;
    std::vector<int16_t> left_, right_;
    std::vector<uint8_t> soundOut_;
    std::unique_ptr<SideThread> soundThread_;

    // Counters.
    int framesWritten_ = 0;
    uint64_t videoPosition_ = 0, audioPosition_ = 0;
    uint64_t videoBytes_ = 0, audioBytes_ = 0;

    // Audio choice, kept across rips.
    std::optional<AudioFormatChoice> chosen_;
};

}  // namespace zembra::avi
