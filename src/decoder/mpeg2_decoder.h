#pragma once
// The MPEG-1/MPEG-2 video decoder: reads the title's bytes through the
// program-stream demultiplexer (video to the bit reader, the chosen audio
// track and subtitle stream to their consumers), parses the headers, reconstructs pictures into a
// three-buffer frame store and hands each picture, in display order, to the frame sink.
//
// There is one decoder per process; it runs on the user-interface thread only.
// The frame queue drives it one picture at a time through decodeStep().

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "decoder/idct.h"
#include "decoder/mc.h"
#include "dvd/decoder_input.h"
#include "dvd/program_stream_demux.h"
#include "dvd/title_catalogue.h"
#include "mpeg/decode_status.h"
#include "mpeg/picture_type.h"
#include "platform/cancel_token.h"
#include "platform/file_sink.h"
#include "platform/status.h"

namespace zembra {

class JobReporter;

// The coding of the chosen audio track as the demultiplexer matches packets
// against it (the decoder's audioFormat).
enum PacketCoding : int {
    kPacketAny = 0,  // not known: the first coding met decides
    kPacketAc3 = 1,
    kPacketMpeg = 3,
    kPacketLpcm = 5,
    kPacketDts = 7,  // recognised, never decoded
};
// From the title's audio coding code (0 AC-3, 2 MPEG-1, 3 MPEG-2x, 4 LPCM, 6 DTS).
int packetCodingOf(int titleCoding);

enum RunMode : int { kRunVideoAudio = 1, kRunVideoOnly = 2, kRunAudioOnly = 3, kRunScan = 4 };

// Audio payloads of the chosen track. The audio module plugs in here; the
// default does nothing, so video-only runs need no audio at all.
class AudioRoute {
public:
    virtual ~AudioRoute() = default;
    virtual void open(int /*audioMode*/, double /*gain*/, bool /*dolby*/, bool /*avSynch*/) {}
    // Decoding restarts elsewhere: the audio decoded so far and the per-track
    // audio state belong to the old position.
    virtual void reseek() {}
    virtual void setAudioWanted(bool /*wanted*/) {}
    virtual void setSyncInputs(int64_t /*lastAudioPtsMs*/, int64_t /*videoStartPtsMs*/,
                               double /*sourceRate*/, bool /*mpeg2*/) {}
    virtual void setAnchor(uint32_t /*frameCount*/, int64_t /*videoPtsMs*/) {}
    virtual void ac3Start() {}
    [[nodiscard]] virtual DecodeStatus ac3Payload(const uint8_t* /*data*/, size_t /*length*/) {
        return DecodeStatus::Ok;
    }
    virtual void mpaStart() {}
    [[nodiscard]] virtual DecodeStatus mpaPayload(const uint8_t* /*data*/, size_t /*length*/) {
        return DecodeStatus::Ok;
    }
    [[nodiscard]] virtual DecodeStatus lpcmPayload(const uint8_t* /*data*/, size_t /*length*/) {
        return DecodeStatus::Ok;
    }
    // "%dHz %s" of the first valid MPEG audio frame header in the bytes.
    // The default reads the header itself, so a scan names MPEG audio tracks
    // even without the audio module.
    virtual bool mpaProbe(const uint8_t* data, size_t length, std::string& text);
    virtual int sampleRate() const { return 48000; }
    // True when the PCM waiting to be handed out leaves no room for another
    // packet's worth of sound.
    virtual bool backlogged() const { return false; }
};

// One picture in display order, as handed to the frame sink. The planes
// belong to the frame store and stay valid until the next decodeStep().
struct DecodedPicture {
    const uint8_t* planes[3] = {nullptr, nullptr, nullptr};
    int width = 0;  // coded (multiple of 16); rows are packed at these widths
    int height = 0;
    int chromaWidth = 0;
    int chromaHeight = 0;
    int chromaFormat = 1;
    uint32_t frameNumber = 0;  // decoded-frame counter, from 0
    mpeg::PictureType pictureType{};
    bool topFieldFirst = false;
    bool repeatFirstField = false;
    bool progressiveFrame = false;
    bool fieldPictures = false;  // made of two field pictures
    // The last reference picture, emitted after decoding stopped (the end of
    // the input, a pause for the sound): it is still to be shown.
    bool afterStop = false;
};

// Everything openDecoder takes, in the order of the settings it comes from.
struct DecoderOpenParams {
    std::vector<std::string> files;
    int audioTrack = 0;       // 0-7
    int audioFormat = 0;      // title's coding: 0 AC-3, 2 MPEG, 3 MPEG-2x, 4 LPCM, 6 DTS
    int subtitleStream = -1;  // -1 none
    int subOffset = 0;
    bool subColor = true;  // the title's palette, else white on black
    bool useAspi = false;
    int downSampling = 0;
    int frameRate = 2;
    bool detect24Fps = true;
    bool force24 = false;
    double ac3Gain = 3.0;
    int title = -1;  // index into the catalogue, -1 = plain files
    int angle = 0;
    int idct = 0;  // iDCT setting 0-4
    bool luminanceFilter = false;
    int luminanceGain = 128;
    int luminanceOffset = 0;
    bool avSynch = false;
    int deinterlace = 0;
    bool dolby = true;
    int saveBufferSize = 1;
    int saveBufferLocation = 0;
    std::string ac3File;
    std::string tempPath;
};

struct DecoderHooks {
    // A picture is complete in display order. A fatal status stops decoding
    // (the queue is full, the sound overflowed).
    std::function<DecodeStatus(const DecodedPicture&)> emitFrame;
    // A payload of the chosen sub-picture stream (its PTS is in lastSubPtsMs).
    std::function<void(const uint8_t*, size_t)> subpicturePayload;
    // Sub-picture state reset (open, reseek).
    std::function<void()> subpictureReset;
    // The decoder was closed (queued frames can go).
    std::function<void()> closed;
};

class Mpeg2Decoder : private PacketSink {
public:
    // Messages, the scan's progress and pumps go to the reporter as they come up.
    Mpeg2Decoder(JobReporter& reporter, TitleCatalogue& catalogue);
    ~Mpeg2Decoder() override;
    Mpeg2Decoder(const Mpeg2Decoder&) = delete;
    Mpeg2Decoder& operator=(const Mpeg2Decoder&) = delete;

    // Input and audio; the decoder keeps pointers, the owner keeps them alive.
    // Without setInput the decoder reads plain files.
    void setInput(DecoderInput* input);
    DecoderInput& input() { return *input_; }
    void setAudio(AudioRoute* audio);
    DecoderHooks hooks;

    void setRunMode(int mode) { runMode_ = mode; }
    int getRunMode() const { return runMode_; }

    // Done with the source rate (after film detection), chroma format and
    // coded size; or the failure for the caller to show (the decoder is
    // closed then). A file set the input could not open fails without a
    // message of its own: the input has said why.
    Status openDecoder(const DecoderOpenParams& params, double& frameRate, int& chromaFormat,
                       int& width, int& height);
    // Restarts decoding at a sector of the file set.
    Status reseek(int64_t sector);
    int currentTimeSeconds() const;
    // Reads plain VOB/MPEG files through for what their title needs: each
    // file's picture count, rate and size, the audio tracks and sub-picture
    // streams (setScannedTitle makes the title of it). Fails when a file has
    // no video (with the message) or the scan was cancelled (without one).
    Status scanVobFiles(const std::vector<std::string>& files, bool detect24, bool force24,
                        VobScan& found, const CancelToken* cancel = nullptr);
    void closeDecoder();
    int reopenDecoder();
    int getAudioSampleRate() const;

    // --- The picture loop ---
    // Reads headers up to the next picture header; 1 when one was read.
    int getHeader();
    // Decodes the picture whose header getHeader read (a frame or one field),
    // rotating the frame store and emitting the display picture when a frame
    // is complete.
    void decodePicture();
    // getHeader, the A/V anchor at I-pictures, decodePicture. 1 when a picture
    // was decoded, 0 at the end of the input or on a fatal fault.
    int decodeStep();
    // At the end of a stream: emits the last reference picture, which no later
    // picture will push out. Used by the decode command (the rip never shows it).
    bool flushLastReference();
    // Goes on after a pause for the sound (AudioBacklog) where it stopped.
    void resumeAfterAudioPause();

    // --- Bit reader (video elementary stream) ---
    uint32_t showBits(int n) {  // 1..32
        return uint32_t(window_ >> (64 - n));
    }
    void flushBits(int n) {
        window_ <<= n;
        windowBits_ -= n;
        if (windowBits_ < 32) refillWindow();
    }
    uint32_t getBits(int n) {
        uint32_t v = showBits(n);
        flushBits(n);
        return v;
    }
    uint32_t getBit() { return getBits(1); }
    void nextStartCode();
    // Resets the bit reader at the current input position.
    void resetBitReader();

    // --- State, grouped by how long it lives ---

    // Of the sequence header and its extension: kept from one sequence header
    // to the next (the frame store keeps the layout of the first).
    struct SequenceState {
        int horizontalSize = 0;
        int verticalSize = 0;
        int aspectRatio = 0;
        int frameRateCode = 0;
        bool mpeg2 = false;
        bool progressiveSequence = false;
        int chromaFormat = 1;
        uint8_t intraMatrix[64]{};  // natural order
        uint8_t nonIntraMatrix[64]{};
        uint8_t chromaIntraMatrix[64]{};
        uint8_t chromaNonIntraMatrix[64]{};
        int mbWidth = 0;
        int mbHeight = 0;
        int codedWidth = 0;
        int codedHeight = 0;
        int chromaWidth = 0;
        int chromaHeight = 0;
        int blockCount = 6;
        double sequenceFrameRate = 0.0;
        double frameRate = 0.0;  // after film detection
    };
    // Of the picture header and its coding extension: one picture long.
    struct PictureState {
        int temporalReference = 0;
        mpeg::PictureType pictureCodingType{};
        bool fullPelForward = false;
        int forwardFCode = 0;
        bool fullPelBackward = false;
        int backwardFCode = 0;
        int fCode[2][2]{};
        int intraDcPrecision = 0;
        int pictureStructure = 3;
        bool topFieldFirst = false;
        bool framePredFrameDct = true;
        bool concealmentMotionVectors = false;
        bool qScaleType = false;
        bool intraVlcFormat = false;
        bool alternateScan = false;
        bool repeatFirstField = false;
        bool progressiveFrame = true;
    };
    // Time stamps (ms) and picture counts of the run since the last open or
    // reseek.
    struct TimingState {
        int64_t lastVideoPtsMs = 0;
        int64_t lastAudioPtsMs = 0;
        int64_t lastSubPtsMs = 0;
        int64_t videoStartPtsMs = 0;
        uint32_t anchorFrameCount = 0;
        int64_t anchorVideoPtsMs = 0;
        uint32_t outputFrames = 0;   // handed out by the frame queue (MPEG-1 timing)
        uint32_t decodedFrames = 0;  // frames counted (field pairs once)
        uint32_t emittedFrames = 0;
        // A new VOB restarted its time stamps: the next audio PTS rebases
        // the VOB clock's offset.
        bool rebasePending = false;
    };
    // Where in the title's VOBs the time stamps are: kept over a reseek, so
    // that the elapsed time carries across VOB boundaries.
    struct VobClock {
        int64_t ptsOffsetMs = 0;
        int baseVobNumber = -1;
        int vobNumber = 0;
        int cellNumber = 0;
    };
    // The chosen audio track and sub-picture stream, and what the packets of
    // each track number have shown so far.
    struct AudioRouting {
        int audioTrack = 0;
        int audioFormat = kPacketAny;  // PacketCoding of the chosen track
        int audioMode = 1;
        int audioPath = 2;  // 2 decode to PCM, 1 export raw AC-3
        int subtitleStream = -1;
        std::string ac3File;
        // What went to the audio side since the last open or reseek.
        struct Flow {
            bool audioWanted = false;  // decoding has started: payloads go out
            std::array<bool, 8> ac3Seen{};
            std::array<bool, 8> mpaStarted{};
        };
        Flow flow;
    };

    const SequenceState& sequence() const { return sequence_; }
    const PictureState& picture() const { return picture_; }
    const TimingState& timing() const { return timing_; }
    const VobClock& vobClock() const { return clock_; }
    const AudioRouting& routing() const { return routing_; }
    bool isOpen() const { return opened_; }
    bool isSystemStream() const { return demux_.systemStream(); }
    // The frame queue's count of frames handed out, which MPEG-1 timing uses.
    void setOutputFrames(uint32_t frames) { timing_.outputFrames = frames; }

    // How decoding stands: damage in the last picture, or why it stopped.
    DecodeStatus status() const { return status_; }
    // Ends decoding for a reason found outside the decoder (nothing more came
    // when the frame queue asked for a picture).
    void stop(DecodeStatus why) { status_ = why; }

    // Frame store: the forward (older) and backward (newer) references and the
    // B-picture buffer; each three planes, rows packed at the plane width.
    struct Picture {
        std::vector<uint8_t> bytes;
        uint8_t* plane[3] = {nullptr, nullptr, nullptr};
        // Of the picture decoded into it, for the frame handed out later.
        mpeg::PictureType type{};
        bool topFieldFirst = false, repeatFirstField = false, progressiveFrame = true;
        bool fieldPictures = false;
    };
    Picture* forwardRef() { return forward_; }
    Picture* backwardRef() { return backward_; }
    Picture* bPicture() { return &store_[2]; }
    bool frameStoreReady() const { return !store_[0].bytes.empty(); }

    TitleCatalogue& catalogue() { return catalogue_; }

    // Slice-level work of the picture reconstruction (mpeg2_slice.cpp).
    struct SliceContext;

private:
    friend struct SliceContext;

    // What the demultiplexer hands over.
    bool goOn() override;
    bool wantsStream(uint8_t streamId) override;
    Take take(const DemuxPacket& packet) override;
    void payload(const DemuxPacket& packet, const uint8_t* data, size_t length) override;
    void navigation(int vobId, int cellId) override;
    Take takePrivateStream1(const DemuxPacket& packet);
    Take takeMpegAudio(const DemuxPacket& packet);
    void refillWindow();
    void refillSlow();
    void exportAc3(const uint8_t* data, size_t length, bool first);
    // Whether a packet of the chosen number and this coding is the track's.
    bool takesCoding(int coding);

    // Headers.
    void sequenceHeader();
    void extensionsAndUserData();
    void sequenceExtension();
    void quantMatrixExtension();
    void pictureDisplayExtension();
    void pictureCodingExtension();
    void gopHeader();
    void pictureHeader();
    void loadMatrix(uint8_t* matrix);
    void setupFrameStore();
    double frameRateFromCode() const;

    // Opening.
    bool findSequenceHeader();
    Status refuseTransportStream(const std::string& name);
    void filmDetection(bool detect24, bool force24);
    bool startDecoding();
    bool startedOnStillPicture();
    void pauseForAudio();
    void resetState();
    void freeFrameStore();
    void emit(const Picture* picture, bool afterStop = false);
    // Takes a fatal status of the audio side or the frame sink as decoding's
    // own, unless decoding has already stopped for another reason.
    void absorb(DecodeStatus s) {
        if (isFatal(s) && !isFatal(status_)) status_ = s;
    }
    void finishFrame();
    bool detectSystemStream(int64_t firstSector);
    int64_t firstSector() const;
    void notePts(int64_t ms);
    void decodeFrameFromHeader();
    const TitleRecord* currentTitle() const;

    JobReporter& reporter_;
    TitleCatalogue& catalogue_;
    DecodeStatus status_ = DecodeStatus::Ok;
    bool opened_ = false;
    int runMode_ = kRunVideoAudio;
    SequenceState sequence_;
    PictureState picture_;
    TimingState timing_;
    VobClock clock_;
    AudioRouting routing_;
    IdctVariant idctVariant_ = IdctVariant::Ap922;
    std::unique_ptr<PlainFileInput> plainInput_;
    DecoderInput* input_ = nullptr;
    AudioRoute defaultAudio_;
    AudioRoute* audio_ = &defaultAudio_;
    DecoderOpenParams params_;
    bool filmFlag_ = false;
    bool scanning_ = false;
    bool headerSeen_ = false;
    bool sequenceSeen_ = false;

    ProgramStreamDemux demux_{*this};
    // The raw AC-3 track's file while it is exported (audioPath 1).
    FileSink ac3Export_;
    uint64_t window_ = 0;
    int windowBits_ = 0;
    int zeroFill_ = 0;  // bytes fed past the end of the input
    // The bit reader's window when decoding paused for the sound.
    uint64_t pausedWindow_ = 0;
    int pausedWindowBits_ = 0;
    int pausedZeroFill_ = 0;

    // What the scan found so far (the packets of run mode kRunScan go here).
    VobScan scan_;
    Status scanOneFile(const std::string& file, size_t index, size_t count, bool detect24,
                       bool force24, const CancelToken* cancel);

    // Frame store.
    std::array<Picture, 3> store_;
    Picture* forward_ = nullptr;
    Picture* backward_ = nullptr;
    // Where the frame store is in the run since the last open or reseek.
    struct StoreProgress {
        uint32_t framesSinceStart = 0;
        bool unemittedReference = false;
        bool secondField = false;  // the first field of a frame is decoded
        bool pendingEmit = false;  // the frame of that field waits to be emitted
    };
    StoreProgress progress_;
    Picture* currentTarget_ = nullptr;
    mpeg::PictureType currentType_{};
    int firstFieldType_ = 0;
    bool haveReference_ = false;
    struct SliceDeleter {
        void operator()(SliceContext* s) const;
    };
    std::unique_ptr<SliceContext, SliceDeleter> slice_;
    const McKernels* mc_ = nullptr;
    const IdctKernels* idct_ = nullptr;
};

}  // namespace zembra
