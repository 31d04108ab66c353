#include "avi/avi_writer.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "avi/codecs/mp3_library.h"
#include "platform/file_sink.h"
#include "platform/job_reporter.h"

namespace zembra::avi {

namespace {

constexpr int kKeyFrameEvery = 15;
constexpr size_t kStagingBytes = 16384;  // PCM staging area and MP3 output buffer
constexpr uint32_t kStreamScale = 1000;

bool fileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

// An old file of the name goes, so the piece starts afresh; not one that
// another rip is writing, and never a folder (remove() takes empty ones):
// opening them is then refused with a message.
void removeFile(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(std::filesystem::symlink_status(path, ec))) return;
    if (FileSink::busy(path)) return;
    std::filesystem::remove(path, ec);
}

}  // namespace

AviWriter::AviWriter(JobReporter& reporter) : AviWriter(reporter, Mp3Library::instance()) {}

AviWriter::AviWriter(JobReporter& reporter, Mp3Library& mp3) : reporter_(reporter), mp3_(mp3) {}

AviWriter::~AviWriter() {
    if (open_) (void)closeAvi();
}

std::string AviWriter::baseName(const std::string& path) {
    size_t dot = path.rfind('.');
    size_t slash = path.rfind('/');
    // A dot in a folder name is no extension.
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
    return path.substr(0, dot);
}

std::string AviWriter::pieceName(const std::string& base, int n, const std::string& ext) {
    if (n <= 1) return base + "." + ext;
    char number[16];
    std::snprintf(number, sizeof number, "_%02d.", n);
    return base + number + ext;
}

uint32_t AviWriter::videoRate(double fps) {
    // Truncated, as the stream header has always had it: 29.97002997 -> 29970.
    double r = fps * 1000.0;
    return r > 0 && r < 4294967295.0 ? uint32_t(r) : 0;
}

void AviWriter::setVideoInput(int width, int height, int exportFormat) {
    rgb_ = rgbHeader(width, height, exportFormat == kExportRgb32 ? 32 : 24);
    yuy2_ = yuy2Header(width, height);
    input_ = exportFormat == kExportYuy2 ? yuy2_ : rgb_;
}

int AviWriter::listVideoCompressors(int width, int height, int exportFormat,
                                    std::vector<CompressorInfo>& out) {
    setVideoInput(width, height, exportFormat);
    out.clear();
    for (const CompressorInfo& info : installedVideoCompressors()) {
        auto c = openVideoCompressorDriver(info.fccType, info.fccHandler);
        if (c && c->queryInput(input_)) out.push_back(c->info());
    }
    return int(out.size());
}

bool AviWriter::configureVideoCompressor(uint32_t fccType, uint32_t fccHandler,
                                         std::vector<uint8_t>& state,
                                         const std::string& keyValues) {
    auto c = openVideoCompressorDriver(fccType, fccHandler);
    if (!c) return false;
    size_t size = c->stateSize();
    if (!state.empty() && (state.size() != size || !c->setState(state))) state.clear();
    if (state.empty()) state = c->getState();
    if (!c->configure(keyValues)) return false;
    state = c->getState();
    return true;
}

Status AviWriter::openVideoCompressor(uint32_t fccType, uint32_t fccHandler,
                                      const std::vector<uint8_t>& state) {
    compressor_ = openVideoCompressorDriver(fccType, fccHandler);
    compressorStarted_ = false;
    stateLoaded_ = false;
    if (!compressor_) return Status::error("STR_ERROR_38");
    if (!compressor_->queryInput(input_)) {
        compressor_.reset();
        return Status::error("STR_ERROR_86");
    }
    if (!state.empty()) {
        if (state.size() == compressor_->stateSize() && compressor_->setState(state)) {
            stateLoaded_ = true;
        } else if (!reporter_.confirm(Status::question("STR_ERROR_87"))) {
            // Yes goes on with the compressor's own settings.
            compressor_.reset();
            return Status::failed();
        }
    }
    if (!statsFile_.empty()) compressor_->useStatsFile(statsFile_);
    compressor_->useThreads(compressorThreads_);
    return {};
}

void AviWriter::chooseAudioCodec(int type, int bitRate, int stereo, int quality, int lowpass,
                                 int highpass) {
    chosen_.reset();
    if (type == kAudioMp3) {
        Mp3Library::Values v;
        v.bitRate = bitRate;
        v.stereo = stereo;
        v.quality = quality;
        v.lowpass = lowpass;
        v.highpass = highpass;
        mp3_.setValues(v);
    }
}

bool AviWriter::chooseAudioCodec(int type, const std::string& name, int kbps) {
    chosen_.reset();
    if (type != kAudioConverter) return false;
    chosen_ = findAudioFormat(name, kbps, outputRate_);
    return chosen_.has_value();
}

void AviWriter::describeAudioCodec(int type, std::string& line1, std::string& line2) const {
    line1.clear();
    line2.clear();
    char buf[160];
    switch (type) {
        case kAudioNone:
            line1 = reporter_.text("STR_ERROR_41");
            break;
        case kAudioWav:
            line1 = "WAV Export (not compressed)";
            line2 = "16Bits Stereo 44.1KHz";
            break;
        case kAudioMp3:
            if (mp3_.loaded()) {
                line1 = "Lame MP3 " + mp3_.versionText();
                auto v = mp3_.values();
                std::snprintf(buf, sizeof buf, "%d Kb/s %4.1fKHz 16Bits Q%d", v.bitRate,
                              outputRate_ / 1000.0, v.quality);
                line2 = buf;
            } else {
                line1 = "Lame library not loaded";
            }
            break;
        case kAudioConverter:
            if (chosen_) {
                line1 = "ACM: " + chosen_->tagName;
                line2 = chosen_->description;
            } else {
                line1 = line2 = "Not selected";
            }
            break;
        default:
            break;
    }
}

Status AviWriter::openAudioConverter() {
    converter_.reset();
    // The format was chosen at the rate of that moment; the sound may come at
    // another (DownSampling changed since, or a 44.1 kHz track kept as it
    // is). The same converter's nearest format at the sound's own rate is
    // taken, so that the file is labelled with the rate it holds.
    if (chosen_ && int(chosen_->format.samplesPerSec) != outputRate_) {
        const int kbps = int(chosen_->format.avgBytesPerSec * 8 / 1000);
        if (auto atRate = findAudioFormat(chosen_->tagName, kbps, outputRate_))
            chosen_ = std::move(atRate);
    }
    if (chosen_) converter_ = openAudioConverterFor(chosen_->format, outputRate_);
    if (!converter_) return Status::error("STR_ERROR_313");
    size_t size = converter_->destinationSize(kStagingBytes);
    if (size == 0) {
        converter_.reset();
        return Status::failed();
    }
    soundOut_.reserve(size);
    return {};
}

Status AviWriter::openAvi(const std::string& path, int frameLimit, int width, int height,
                          double fps, bool overwrite, int audioType, bool videoOn, int exportFormat,
                          int passIndex, uint32_t fccType, uint32_t fccHandler,
                          const std::vector<uint8_t>& state) {
    if (open_) (void)closeAvi();
    base_ = baseName(path);
    frameLimit_ = frameLimit;
    width_ = width;
    height_ = height;
    fps_ = fps;
    audioType_ = audioType;
    videoOn_ = videoOn;
    exportFormat_ = exportFormat;
    fccType_ = fccType;
    fccHandler_ = fccHandler;
    state_ = state;
    noPrompt_ = overwrite || passIndex > 0;
    piece_ = 1;
    framesWritten_ = 0;
    videoPosition_ = audioPosition_ = videoBytes_ = audioBytes_ = 0;
    if (audioType_ == kAudioConverter && !chosen_) return Status::warning("STR_ERROR_37");
    // Checked before any file is made, so the refusal leaves no empty AVI.
    if (audioType_ == kAudioWav && !wavRateAllowed()) return Status::error("STR_ERROR_79");
    return openPiece(true);
}

bool AviWriter::askOverwrite(const std::string& path) {
    if (noPrompt_ || !fileExists(path)) return true;
    return reporter_.confirm(Status::question("STR_ERROR_33").leadBy(path + " "));
}

Status AviWriter::openPiece(bool first) {
    failureShown_ = false;
    aviPath_ = pieceName(base_, piece_, "avi");
    wavPath_.clear();
    aviMade_ = wavMade_ = false;
    if (!askOverwrite(aviPath_)) return Status::failed();
    removeFile(aviPath_);
    file_ = std::make_unique<riff::AviFile>(riffLimit_);
    open_ = true;
    if (!file_->open(aviPath_)) {
        if (file_->lockedByAnother())
            return stopPiece(Status::warning("STR_ERROR_OutputBusy").leadBy(aviPath_ + " "));
        return stopPiece(Status::warning("STR_ERROR_34"));
    }
    aviMade_ = true;
    if (videoOn_) {
        if (Status video = openVideoStream(first); !video) return video;
    }
    return openSound(first);
}

Status AviWriter::openVideoStream(bool first) {
    if (first) setVideoInput(width_, height_, exportFormat_);
    if (Status compressor = openVideoCompressor(fccType_, fccHandler_, state_); !compressor)
        return stopPiece(compressor);
    if (first) {
        videoHeader_ = riff::StreamHeader{};
        videoHeader_.fccType = fourcc("vids");
        videoHeader_.fccHandler = compressor_->info().fccHandler;
        videoHeader_.quality = -1;
        videoHeader_.scale = kStreamScale;
        videoHeader_.rate = videoRate(fps_);
        videoHeader_.suggestedBufferSize = exportFormat_ == kExportYuy2
                                               ? uint32_t(width_) * uint32_t(height_) * 2
                                               : rgb_.sizeImage;
    }
    compressor_->framesInfo(videoHeader_.rate, kStreamScale, kKeyFrameEvery);
    videoStream_ = file_->createStream(videoHeader_);
    if (videoStream_ < 0) return stopPiece(Status::warning("STR_ERROR_302"));
    if (!file_->setFormat(videoStream_, compressor_->outputFormat(input_).bytes()))
        return stopPiece(Status::warning(first ? "STR_ERROR_305" : "STR_ERROR_300"));
    if (!compressor_->start(input_)) {
        if (exportFormat_ == kExportYuy2)
            return stopPiece(Status::warning(first ? "STR_ERROR_306" : "STR_ERROR_301"));
        // The compressed-stream path starts the compressor when its format is set.
        return stopPiece(Status::warning(first ? "STR_ERROR_305" : "STR_ERROR_300"));
    }
    compressorStarted_ = true;
    return {};
}

// The refusals below come after the piece is closed, so they are returned
// for the caller to show; what comes up before the closing is told first.
Status AviWriter::openSound(bool first) {
    switch (audioType_) {
        case kAudioWav:
            return openWav();
        case kAudioMp3: {
            if (!mp3_.loaded()) return closeThen(Status::error("STR_ERROR_42"));
            std::vector<std::string> lameSaid;
            encoder_ = mp3_.newEncoder(outputRate_, &lameSaid);
            tellLame(lameSaid);
            if (!encoder_) return closeThen(Status::error("STR_ERROR_35"));
            soundOut_.resize(kStagingBytes);
            // The rate LAME codes at, so the record states the stream's own.
            if (first) audioFormat_ = mp3WaveFormat(encoder_->bitRate(), outputRate_);
            return createAudioStream();
        }
        case kAudioConverter:
            // The converter's own complaint (no converter for the format)
            // comes first, then the writer's, once the piece is closed.
            if (Status converter = openAudioConverter(); !converter) {
                if (converter.hasMessage()) reporter_.notice(converter);
                return closeThen(first ? Status::error("STR_ERROR_36")
                                       : Status::warning("STR_ERROR_36"));
            }
            if (first) audioFormat_ = chosen_->format;
            return createAudioStream();
        default:
            return {};
    }
}

Status AviWriter::openWav() {
    // Refused before the first piece is made (openAvi); a later piece keeps
    // the rate of the first.
    if (!wavRateAllowed()) return Status::error("STR_ERROR_79");
    wavPath_ = pieceName(base_, piece_, "wav");
    if (!askOverwrite(wavPath_)) return closeThen(Status::failed());
    removeFile(wavPath_);
    if (wav_.open(wavPath_, outputRate_)) {
        wavMade_ = true;
        return {};
    }
    if (wav_.lockedByAnother())
        return stopPiece(Status::warning("STR_ERROR_OutputBusy").leadBy(wavPath_ + " "));
    return Status::failed();
}

void AviWriter::tellLame(const std::vector<std::string>& said) {
    for (const std::string& text : said) reporter_.notice(Status::plain(BoxKind::Warning, text));
}

void AviWriter::tellLame() {
    if (encoder_) tellLame(encoder_->takeMessages());
}

Status AviWriter::createAudioStream() {
    riff::StreamHeader h;
    h.fccType = fourcc("auds");
    h.scale = std::max<uint32_t>(audioFormat_.blockAlign, 1);
    h.rate = audioFormat_.avgBytesPerSec;
    h.quality = -1;
    h.sampleSize = audioFormat_.blockAlign;
    h.name = "Audio Stream";
    audioStream_ = file_->createStream(h);
    if (audioStream_ < 0) return stopPiece(Status::warning("STR_ERROR_302"));
    if (!file_->setFormat(audioStream_, audioFormat_.bytes()))
        return stopPiece(Status::warning("STR_ERROR_303"));
    return {};
}

Status AviWriter::writeAviFrame(const uint8_t* bits, const int16_t* pcm, int count) {
    if (!open_) return Status::failed();
    if (framesWritten_ >= frameLimit_ || (cancel_ && cancel_->requested())) {
        (void)closeAvi();
        return Status::failed();
    }
    const bool sound = count > 0 && pcm;
    if (soundThread_ && videoOn_ && sound && audioType_ == kAudioMp3) {
        if (Status written = writeVideoBesideMp3(bits, pcm, count); !written) return written;
    } else {
        if (videoOn_) {
            if (Status video = writeVideo(bits); !video) return video;
        }
        if (sound) {
            if (Status written = writeSound(pcm, count); !written) return written;
        }
    }
    ++framesWritten_;
    ++videoPosition_;
    return {};
}

Status AviWriter::writeVideo(const uint8_t* bits) {
    bool key = false;
    const bool compressed = compressVideo(bits, key);
    return storeVideo(compressed, key);
}

bool AviWriter::compressVideo(const uint8_t* bits, bool& key) {
    compressed_.clear();
    return bits && compressor_->compress(bits, compressed_, key);
}

Status AviWriter::storeVideo(bool compressed, bool key) {
    if (!compressed)
        return stopPiece(
            Status::warning(exportFormat_ == kExportYuy2 ? "STR_ERROR_307" : "STR_ERROR_309"));
    if (!file_->write(videoStream_, compressed_.data(), compressed_.size(), 1, key))
        return stopPiece(Status::warning("STR_ERROR_309"));
    videoBytes_ += compressed_.size();
    return {};
}

Status AviWriter::writeSound(const int16_t* pcm, int count) {
    switch (audioType_) {
        case kAudioWav:
            if (!wav_.write(pcm, size_t(count) * 2))
                return stopPiece(Status::warning("STR_ERROR_309"));
            audioBytes_ += uint64_t(count) * 2;
            return {};
        case kAudioMp3:
            return writeMp3(pcm, count);
        case kAudioConverter:
            return writeConverted(pcm, count);
        default:
            return {};
    }
}

void AviWriter::setSoundThread(bool on) {
    if (on && !soundThread_) soundThread_ = std::make_unique<SideThread>();
    if (!on) soundThread_.reset();
}

Status AviWriter::writeMp3(const int16_t* pcm, int count) {
    splitChannels(pcm, count);
    const int bytes = encodeMp3();
    tellLame();
    return storeMp3(bytes);
}

void AviWriter::splitChannels(const int16_t* pcm, int count) {
    int n = count / 2;
    left_.resize(size_t(n));
    right_.resize(size_t(n));
    for (int i = 0; i < n; ++i) {
        left_[size_t(i)] = pcm[2 * i];
        right_[size_t(i)] = pcm[2 * i + 1];
    }
    // LAME needs room for 1.25 x the samples + 7200 bytes; a frame's worth
    // stays inside the usual 16 KiB, a long one gets more.
    soundOut_.resize(std::max(kStagingBytes, size_t(n) * 5 / 4 + 7200));
}

int AviWriter::encodeMp3() {
    return encoder_->encode(left_.data(), right_.data(), int(left_.size()), soundOut_.data(),
                            int(soundOut_.size()));
}

Status AviWriter::storeMp3(int bytes) {
    if (bytes < 0) return stopPiece(Status::error("STR_ERROR_40"));
    if (bytes > 0 && !writeAudioChunk(soundOut_.data(), size_t(bytes), uint32_t(bytes)))
        return stopPiece(Status::warning("STR_ERROR_309"));
    return {};
}

// The video chunk is written before the sound's, as without the side thread.
// The encoder and the sound buffers belong to the side thread until it is
// waited for, before the chunk is written and before anything can close the
// piece. What LAME said while encoding is told once the thread is back, on
// this thread, before the picture is stored.
Status AviWriter::writeVideoBesideMp3(const uint8_t* bits, const int16_t* pcm, int count) {
    splitChannels(pcm, count);
    int bytes = 0;
    soundThread_->run([this, &bytes] { bytes = encodeMp3(); });
    bool key = false;
    const bool compressed = compressVideo(bits, key);
    soundThread_->wait();
    tellLame();
    if (Status video = storeVideo(compressed, key); !video) return video;
    return storeMp3(bytes);
}

Status AviWriter::writeConverted(const int16_t* pcm, int count) {
    int n = count / 2;
    const WaveFormat& f = audioFormat_;
    uint32_t perBlock = f.blockAlign ? f.avgBytesPerSec / f.blockAlign : 0;
    auto blocks = uint32_t(double(perBlock) * n / outputRate_ + 0.5);
    size_t given = size_t(count) * 2;
    size_t used = 0;
    soundOut_.clear();
    if (!converter_->convert(reinterpret_cast<const uint8_t*>(pcm), given, soundOut_, used))
        return closeThen(Status::failed());
    if (!writeAudioChunk(soundOut_.data(), soundOut_.size(), blocks))
        return stopPiece(Status::warning("STR_ERROR_309"));
    // Asked while the piece is open: No stops the rip with the piece left
    // for the caller to close.
    if (used < given && !reporter_.confirm(Status::question("STR_ERROR_310")))
        return Status::failed();
    return {};
}

bool AviWriter::writeAudioChunk(const uint8_t* data, size_t size, uint32_t samples) {
    if (!file_->write(audioStream_, data, size, samples, true)) return false;
    audioPosition_ += samples;
    audioBytes_ += size;
    return true;
}

bool AviWriter::flushSound() {
    if (!file_ || file_->failed() || audioStream_ < 0) return true;
    if (audioType_ == kAudioMp3 && encoder_) {
        // The encoder holds the last partial frame: without this the end of
        // every piece's sound would be lost.
        soundOut_.resize(std::max<size_t>(soundOut_.size(), Mp3Encoder::kFlushBytes));
        int bytes = encoder_->flush(soundOut_.data(), int(soundOut_.size()));
        tellLame();
        if (bytes < 0) return false;
        if (bytes > 0) return writeAudioChunk(soundOut_.data(), size_t(bytes), uint32_t(bytes));
    } else if (audioType_ == kAudioConverter && converter_) {
        std::vector<uint8_t> out;
        if (!converter_->flush(out)) return false;
        if (!out.empty()) {
            uint32_t align = std::max<uint32_t>(audioFormat_.blockAlign, 1);
            return writeAudioChunk(out.data(), out.size(), uint32_t(out.size() / align));
        }
    }
    return true;
}

// A piece that could not be completed is told here, before the status line
// of the closing is cleared, as the user has always seen it; the call then
// returns failed() with nothing more to tell.
Status AviWriter::closeAvi() {
    if (!open_) return {};
    open_ = false;  // a message pumped below must not write into the closing piece
    // Writing the index of a long piece takes a while, and a kill now would
    // leave a file without one: the status line says so, not only
    // "Releasing AVI file." (the first words of the longer text).
    reporter_.setStatus(reporter_.text("STR_ERROR_312"));
    reporter_.setProgress(100, 100);
    reporter_.pumpMessages();
    bool ok = flushSound();
    converter_.reset();
    encoder_.reset();
    if (compressor_ && compressorStarted_) compressor_->end();
    compressorStarted_ = false;
    if (file_ && !file_->close()) ok = false;
    file_.reset();
    if (wav_.isOpen() && !wav_.close()) ok = false;
    compressor_.reset();
    videoStream_ = audioStream_ = -1;
    removeEmptyPiece();
    if (!ok && !failureShown_) reporter_.notice(Status::warning("STR_ERROR_309"));
    reporter_.setStatus("");
    return ok ? Status{} : Status::failed();
}

// A piece that got neither a picture nor sound (the rip failed or stopped
// before its first frame, or the title ended just as the piece began) would
// only be a stub beside the real output: the files made for it go.
void AviWriter::removeEmptyPiece() {
    if (videoBytes_ != 0 || audioBytes_ != 0) return;
    std::error_code ec;
    if (aviMade_) std::filesystem::remove(aviPath_, ec);
    if (wavMade_) std::filesystem::remove(wavPath_, ec);
    aviMade_ = wavMade_ = false;
}

Status AviWriter::nextAviPiece() {
    if (!open_) return Status::failed();
    if (Status closed = closeAvi(); !closed) return closed;
    ++piece_;
    videoPosition_ = audioPosition_ = videoBytes_ = audioBytes_ = 0;
    return openPiece(false);
}

double AviWriter::getAviSizeMB() const { return double(videoBytes_ + audioBytes_) / 1048576.0; }

// What stops a piece in its middle is told before the piece is closed: the
// user reads it while the closing's status line and progress are still to
// come and before an empty piece's files go, so it cannot wait for the call
// to return.
Status AviWriter::stopPiece(const Status& why) {
    failureShown_ = true;
    if (why.hasMessage()) reporter_.notice(why);
    (void)closeAvi();
    return Status::failed();
}

// The piece is closed first and `then` goes back to the caller to show: no
// failure of the piece is told on top of it.
Status AviWriter::closeThen(Status then) {
    failureShown_ = true;
    (void)closeAvi();
    return then;
}

}  // namespace zembra::avi
