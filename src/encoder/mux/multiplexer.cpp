#include "encoder/mux/multiplexer.h"

#include <cmath>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <type_traits>

#include "mpeg/audio_tables.h"
#include "mpeg/start_codes.h"
#include "mpeg/timestamps.h"
#include "platform/byte_order.h"
#include "platform/job_reporter.h"

namespace zembra {

namespace {

constexpr std::uint8_t kVideoId = mpeg::kVideoStreamFirst;
constexpr std::uint8_t kAudioId = mpeg::kAudioStreamFirst;
constexpr std::uint8_t kPaddingId = mpeg::kPaddingStream;
constexpr int kAudioBufferSize = 32;  // units of 128 bytes

void put16(std::vector<std::uint8_t>& s, int v) {
    s.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    s.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

void startCode(std::vector<std::uint8_t>& s, std::uint8_t id) {
    s.push_back(0);
    s.push_back(0);
    s.push_back(1);
    s.push_back(id);
}

// A PTS or DTS field (or an MPEG-1 pack's SCR) for a 27 MHz time.
void putStamp(std::vector<std::uint8_t>& s, int prefix, double ticks) {
    std::uint8_t field[5];
    mpeg::writeTimestamp(field, prefix, mpeg::timestamp90kHz(ticks));
    s.insert(s.end(), field, field + 5);
}

void fill(std::vector<std::uint8_t>& s, std::size_t n, std::uint8_t v) { s.insert(s.end(), n, v); }

std::uint8_t bcd(int v) { return static_cast<std::uint8_t>(((v / 10) << 4) | (v % 10)); }

}  // namespace

ClockStamp clockFromTicks(double ticks, MuxLayout layout) {
    return mpeg::toClockStamp(ticks, layout == MuxLayout::Svcd);
}

Multiplexer::Multiplexer(JobReporter& reporter) : reporter_(reporter) {}

Multiplexer::~Multiplexer() { closeFiles(); }

void Multiplexer::reset(const MuxSettings& settings) {
    closeFiles();
    settings_ = settings;
    videoStore_.clear();
    audioStore_.clear();
    videoQueue_.clear();
    audioQueue_.clear();
    queuedVideoBytes_ = queuedAudioBytes_ = 0;
    video_ = Current{};
    audio_ = Current{};
    sectorCount_ = 0;
    firstSectorsLeft_ = 0;
    firstVideoPes_ = firstAudioPes_ = true;
    videoPictures_ = 0;
    videoUnderflows_ = audioUnderflows_ = 0;
    started_ = finished_ = failed_ = endOfData_ = false;
    failure_ = {};
    cache_.clear();
    bytesWritten_ = 0;
    diag_.clear();
    scr_ = 0;
}

void Multiplexer::diag(const char* fmt, ...) {
    if (diag_.size() > 65536) return;  // nobody reads a novel
    char line[256];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    diag_ += line;
    diag_ += '\n';
}

void Multiplexer::fail(Status why) {
    failed_ = true;
    failure_ = std::move(why);
}

Status Multiplexer::outcome() {
    if (!failed_) return {};
    Status told = std::move(failure_);
    failure_ = Status::failed();
    return told;
}

void Multiplexer::tellFailure() { reporter_.notice(outcome()); }

Status Multiplexer::pushVideoUnit(const VideoUnit& unit) {
    if (videoQueue_.size() >= kQueueLimit) return Status::warning("STR_ERROR_100");
    videoQueue_.push_back(unit);
    if (videoQueue_.back().size < 0) videoQueue_.back().size = 0;
    queuedVideoBytes_ += videoQueue_.back().size;
    return {};
}

Status Multiplexer::pushAudioUnit(const AudioUnit& unit) {
    if (audioQueue_.size() >= kQueueLimit) return Status::warning("STR_ERROR_101");
    audioQueue_.push_back(unit);
    if (audioQueue_.back().size < 0) audioQueue_.back().size = 0;
    queuedAudioBytes_ += audioQueue_.back().size;
    return {};
}

void Multiplexer::computeDerived() {
    const int S = kSectorSize;
    pv_ = isVcd() ? S - 12 - 18 : S - 14 - 22;
    pa_ = isVcd() ? pv_ - 15 : pv_ + 5;
    long videoRate = static_cast<long>(std::floor(settings_.videoBitRate / 8.0));
    int idx = settings_.audioBitrateIndex;
    long audioRate = (idx >= 0 && idx < 15 ? mpeg::kLayer2BitrateKbps[idx] : 0) * 125L;
    double raw = std::ceil(static_cast<double>(videoRate + audioRate) * S / pv_);
    muxRateField_ = static_cast<int>(std::ceil(raw * settings_.muxRateFactor / 50.0));
    if (muxRateField_ < 1) muxRateField_ = 1;
    long R = muxRateField_ * 50L;
    sectorsPerSecond_ = static_cast<int>(R / S);
    if (sectorsPerSecond_ < 1) sectorsPerSecond_ = 1;
    sectorTicks_ = 27000000.0 / sectorsPerSecond_;
    double startScr = (isVcd() ? 30 : 0) * sectorTicks_;
    timeOffset_ = (isVcd() ? 364 : 180) * 27000.0 + startScr;
    scr_ = startScr;
    diag("    Video data rate : %ld bytes/sec", videoRate);
    diag("    Audio data rate : %ld bytes/sec", audioRate);
    diag("    Total data rate : %ld bytes/sec", R);
}

bool Multiplexer::nextVideo() {
    video_.valid = false;
    if (videoQueue_.empty()) return false;
    const VideoUnit u = videoQueue_.front();
    videoQueue_.pop_front();
    queuedVideoBytes_ -= u.size;
    video_.valid = true;
    video_.type = u.type;
    video_.remaining = u.size;
    video_.startsPacket = true;
    video_.dts = clockTicks(u.dts) + timeOffset_;
    video_.pts = clockTicks(u.pts) + timeOffset_;
    video_.number = videoPictures_++;
    return true;
}

bool Multiplexer::nextAudio() {
    audio_.valid = false;
    if (audioQueue_.empty()) return false;
    const AudioUnit u = audioQueue_.front();
    audioQueue_.pop_front();
    queuedAudioBytes_ -= u.size;
    audio_.valid = true;
    audio_.type = {};
    audio_.remaining = u.size;
    audio_.startsPacket = true;
    audio_.pts = audio_.dts = clockTicks(u.pts) + timeOffset_;
    return true;
}

Status Multiplexer::muxStart() {
    if (started_) return {};
    started_ = true;
    sectorCount_ = 0;
    videoUnderflows_ = audioUnderflows_ = 0;
    cache_.clear();
    cache_.reserve(kCacheSize);
    bytesWritten_ = 0;
    firstVideoEnd_ = 0;
    computeDerived();
    videoModel_.reset((isVcd() ? 46 : 230) * 1024);
    audioModel_.reset(4096);
    firstSectorsLeft_ = isVcd() ? 2 : 1;
    firstVideoPes_ = firstAudioPes_ = true;

    // The piece is opened first: its lock tells whether another rip is
    // writing it, before the scan list beside it is touched. Other failures
    // are reported in the order of the files.
    const bool pieceOpen = out_.open(settings_.outputPath);
    pieceMade_ = pieceOpen;
    if (!pieceOpen && out_.lockedByAnother()) {
        fail(Status::warning("STR_ERROR_OutputBusy").leadBy(settings_.outputPath + " "));
        return outcome();
    }
    if (!isVcd()) {
        if (!list_.open(iPictureListPath())) {
            closeFiles();
            fail(Status::warning("STR_ERROR_356", spaced(iPictureListPath())));
            return outcome();
        }
    }
    if (!pieceOpen) {
        closeFiles();
        fail(Status::warning("STR_ERROR_357", " " + settings_.outputPath));
        return outcome();
    }
    if (!nextAudio()) {
        closeFiles();
        fail(Status::error("STR_ERROR_343"));
        return outcome();
    }
    if (!nextVideo()) {
        closeFiles();
        fail(Status::error("STR_ERROR_344"));
        return outcome();
    }
    return {};
}

Status Multiplexer::muxPump() {
    if (failed_) return outcome();
    if (finished_) return {};
    if (!started_) {
        if (Status started = muxStart(); !started) return started;
    }
    while (queuedVideoBytes_ > pv_ && queuedAudioBytes_ > pa_) {
        if (!muxSector()) return outcome();
    }
    // The sectors of each picture go to the file at once: a full disk is
    // then noticed at the picture that met it, while the rip can still
    // stop, rather than when the piece is closed.
    (void)flushCache();
    return outcome();
}

Status Multiplexer::muxDrain() {
    if (failed_) {
        cache_.clear();
        closeFiles();
        return outcome();
    }
    if (finished_) return {};
    if (!started_) {
        if (Status started = muxStart(); !started) return started;
    }
    while (muxSector()) {
    }
    if (!finished_) muxFinish();
    return outcome();
}

void Multiplexer::packHeader(std::vector<std::uint8_t>& s) const {
    startCode(s, mpeg::kPackStart);
    const int mux = muxRateField_;
    if (isVcd()) {
        putStamp(s, mpeg::kPtsOnly, scr_);
        s.push_back(static_cast<std::uint8_t>(0x80 | ((mux >> 15) & 0x7F)));
        s.push_back(static_cast<std::uint8_t>((mux >> 7) & 0xFF));
        s.push_back(static_cast<std::uint8_t>(((mux & 0x7F) << 1) | 1));
        return;
    }
    double t = scr_ < 0 ? 0 : scr_;
    std::uint64_t base = mpeg::timestamp90kHz(t);
    int ext = static_cast<int>(static_cast<std::uint64_t>(std::floor(t)) % 300);
    s.push_back(
        static_cast<std::uint8_t>(0x40 | ((base >> 27) & 0x38) | 0x04 | ((base >> 28) & 0x03)));
    s.push_back(static_cast<std::uint8_t>((base >> 20) & 0xFF));
    s.push_back(static_cast<std::uint8_t>(((base >> 12) & 0xF8) | 0x04 | ((base >> 13) & 0x03)));
    s.push_back(static_cast<std::uint8_t>((base >> 5) & 0xFF));
    s.push_back(static_cast<std::uint8_t>(((base << 3) & 0xF8) | 0x04 | ((ext >> 7) & 0x03)));
    s.push_back(static_cast<std::uint8_t>(((ext << 1) & 0xFE) | 1));
    s.push_back(static_cast<std::uint8_t>((mux >> 14) & 0xFF));
    s.push_back(static_cast<std::uint8_t>((mux >> 6) & 0xFF));
    s.push_back(static_cast<std::uint8_t>(((mux & 0x3F) << 2) | 0x03));
    s.push_back(0xF8);
}

void Multiplexer::systemHeader(std::vector<std::uint8_t>& s, bool audio, bool video) const {
    startCode(s, mpeg::kSystemHeader);
    const int entries = (audio ? 1 : 0) + (video ? 1 : 0);
    put16(s, 6 + 3 * entries);
    const int rb = muxRateField_;
    s.push_back(static_cast<std::uint8_t>(0x80 | ((rb >> 15) & 0x7F)));
    s.push_back(static_cast<std::uint8_t>((rb >> 7) & 0xFF));
    s.push_back(static_cast<std::uint8_t>(((rb & 0x7F) << 1) | 1));
    // audio_bound, fixed_flag 0, CSPS_flag (set for VCD only)
    s.push_back(static_cast<std::uint8_t>(((audio ? 1 : 0) << 2) | (isVcd() ? 1 : 0)));
    s.push_back(static_cast<std::uint8_t>(0xE0 | (video ? 1 : 0)));
    s.push_back(isVcd() ? 0xFF : 0x7F);
    const int vsize = isVcd() ? 46 : 230;
    if (video) {
        s.push_back(kVideoId);
        s.push_back(static_cast<std::uint8_t>(0xC0 | (1 << 5) | ((vsize >> 8) & 0x1F)));
        s.push_back(static_cast<std::uint8_t>(vsize & 0xFF));
    }
    if (audio) {
        s.push_back(kAudioId);
        s.push_back(static_cast<std::uint8_t>(0xC0 | ((kAudioBufferSize >> 8) & 0x1F)));
        s.push_back(static_cast<std::uint8_t>(kAudioBufferSize & 0xFF));
    }
}

void Multiplexer::writeFirstSector() {
    std::vector<std::uint8_t> s;
    s.reserve(kSectorSize);
    packHeader(s);
    if (isVcd()) {
        // The first sector announces the video stream, the second the audio.
        const bool first = sectorCount_ == 0;
        systemHeader(s, !first, first);
        paddingPacket(s, first ? 2291 : 2271);
        if (!first) fill(s, 20, 0);
    } else {
        systemHeader(s, true, true);
        paddingPacket(s, 2286);
    }
    --firstSectorsLeft_;
    emit(s);
}

void Multiplexer::writePaddingSector() {
    std::vector<std::uint8_t> s;
    s.reserve(kSectorSize);
    packHeader(s);
    paddingPacket(s, isVcd() ? pv_ + 12 : pv_ + 16);
    emit(s);
}

void Multiplexer::paddingPacket(std::vector<std::uint8_t>& s, int length) const {
    startCode(s, kPaddingId);
    put16(s, length);
    // An MPEG-1 packet states that it carries no time stamp.
    if (isVcd()) {
        s.push_back(0x0F);
        fill(s, length - 1, 0xFF);
    } else {
        fill(s, length, 0xFF);
    }
}

Multiplexer::StreamPackets Multiplexer::videoPackets() const {
    return {kVideoId, pv_, 2, 1, isVcd() ? 46 : 230, 0};
}

Multiplexer::StreamPackets Multiplexer::audioPackets() const {
    return {kAudioId, pa_, 1, 0, kAudioBufferSize, isVcd() ? 20 : 0};
}

// The payload of one packet from a stream's units: the bytes of the current
// unit and of those after it while they fit, the stamps of the first unit
// that starts in the packet. A unit cut short by a store that ran dry ends
// where the store did.
template <class Unit>
void Multiplexer::gather(Current& current, std::deque<Unit>& queue, EsStore& store,
                         BufferModel& model, int payload, bool (Multiplexer::*next)(),
                         Payload& out) {
    out = Payload{};
    out.data.reserve(static_cast<std::size_t>(payload));
    bool tailTaken = false;
    while (static_cast<int>(out.data.size()) < payload && current.valid) {
        if (current.startsPacket) {
            if (!out.haveStamp) {
                out.haveStamp = true;
                out.stamp = current;
            }
            if (current.type == mpeg::PictureType::I && out.data.empty()) out.iStarts = true;
            current.startsPacket = false;
        }
        int n = std::min(current.remaining, payload - static_cast<int>(out.data.size()));
        std::size_t at = out.data.size();
        out.data.resize(at + n);
        n = static_cast<int>(store.take(out.data.data() + at, n));
        out.data.resize(at + n);
        model.add(n, current.dts);
        current.remaining -= n;
        if (current.remaining > 0) {
            if (n == 0)
                current.remaining = 0;  // store ran dry: the unit was cut
            else
                break;
        }
        if (queue.empty()) {
            // The sequence end code follows the last picture without a unit
            // of its own: it goes out with that picture.
            if (!tailTaken && store.size() > 0) {
                tailTaken = true;
                current.remaining = static_cast<int>(store.size());
                continue;
            }
            current.valid = false;
            break;
        }
        if constexpr (std::is_same_v<Unit, VideoUnit>) {
            if (!isVcd() && queue.front().type == mpeg::PictureType::I && !out.data.empty() &&
                static_cast<int>(out.data.size()) < payload) {
                (this->*next)();  // the I picture waits for the next packet
                break;
            }
        }
        (this->*next)();
    }
}

// One packet with its header in the layout's form: MPEG-1 with its STD
// buffer field in every packet, MPEG-2 with a PES header whose extension
// states the buffer in the stream's first packet. Both keep room for every
// stamp the stream can carry and stuff what a packet does not use; a payload
// short by more than a padding packet's header ends in one.
bool Multiplexer::writePacket(const StreamPackets& stream, const Payload& payload, int stamps,
                              bool& firstPes) {
    const int size = static_cast<int>(payload.data.size());
    const int room = stream.payload - size;
    const int extra = room > 6 ? 0 : room;
    const int stampRoom = 5 * stream.maxStamps;
    const std::uint8_t buffer[2] = {static_cast<std::uint8_t>(0x40 | (stream.bufferScale << 5) |
                                                              ((stream.bufferSize >> 8) & 0x1F)),
                                    static_cast<std::uint8_t>(stream.bufferSize & 0xFF)};
    auto putStamps = [&](std::vector<std::uint8_t>& s) {
        if (stamps == 2) {
            putStamp(s, mpeg::kPtsBeforeDts, payload.stamp.pts);
            putStamp(s, mpeg::kDtsAfterPts, payload.stamp.dts);
        } else if (stamps == 1) {
            putStamp(s, mpeg::kPtsOnly, payload.stamp.pts);
        }
    };

    std::vector<std::uint8_t> s;
    s.reserve(kSectorSize);
    packHeader(s);
    startCode(s, stream.id);
    if (isVcd()) {
        const int stampBytes = stamps > 0 ? 5 * stamps : 1;  // or the '0000 1111' byte
        const int stuffing = stampRoom - stampBytes + extra;
        put16(s, size + stuffing + 2 + stampBytes);
        fill(s, stuffing, 0xFF);
        s.insert(s.end(), buffer, buffer + 2);
        putStamps(s);
        if (stamps == 0) s.push_back(0x0F);
    } else {
        const bool ext = firstPes;
        firstPes = false;
        const int stuffing = stampRoom - 5 * stamps + (ext ? 0 : 3) + extra;
        const int headerLength = stampRoom + 3 + extra;
        const int flags = stamps == 2 ? 3 : stamps == 1 ? 2 : 0;
        put16(s, 3 + headerLength + size);
        s.push_back(0x81);
        s.push_back(static_cast<std::uint8_t>(flags << 6 | (ext ? 1 : 0)));
        s.push_back(static_cast<std::uint8_t>(headerLength));
        putStamps(s);
        if (ext) {
            s.push_back(0x1E);
            s.insert(s.end(), buffer, buffer + 2);
        }
        fill(s, stuffing, 0xFF);
    }
    s.insert(s.end(), payload.data.begin(), payload.data.end());
    if (room > 6) paddingPacket(s, room - 6);
    fill(s, static_cast<std::size_t>(stream.trailingZeros), 0);
    return emit(s);
}

bool Multiplexer::writeVideoSector() {
    Payload p;
    gather(video_, videoQueue_, videoStore_, videoModel_, pv_, &Multiplexer::nextVideo, p);
    const bool bPicture = p.stamp.type == mpeg::PictureType::B;
    if (p.haveStamp) {
        const double governing = bPicture ? p.stamp.pts : p.stamp.dts;
        if (governing < scr_) {
            ++videoUnderflows_;
            diag(bPicture ? "video PTS underflow at pack %u diff=%d fr=%d"
                          : "video DTS underflow at pack %u diff=%d fr=%d",
                 static_cast<unsigned>(sectorCount_), static_cast<int>(governing - scr_),
                 p.stamp.number);
        }
    }
    if (!isVcd() && p.iStarts && list_.isOpen()) {
        std::uint8_t le[4];
        writeLe32(le, static_cast<std::uint32_t>(sectorCount_));
        if (!list_.append(le, sizeof le))
            reporter_.notice(Status::warning("STR_ERROR_364", spaced(iPictureListPath())));
    }
    // A B picture is shown as it is decoded: its DTS would equal its PTS.
    const int stamps = p.haveStamp ? (bPicture ? 1 : 2) : 0;
    if (!writePacket(videoPackets(), p, stamps, firstVideoPes_)) return false;
    if (firstVideoEnd_ == 0) firstVideoEnd_ = bytesWritten_;
    return true;
}

bool Multiplexer::writeAudioSector() {
    Payload p;
    gather(audio_, audioQueue_, audioStore_, audioModel_, pa_, &Multiplexer::nextAudio, p);
    if (p.haveStamp && p.stamp.pts < scr_) {
        ++audioUnderflows_;
        diag("audio PTS underflow at pack %u", static_cast<unsigned>(sectorCount_));
    }
    return writePacket(audioPackets(), p, p.haveStamp ? 1 : 0, firstAudioPes_);
}

bool Multiplexer::muxSector() {
    if (failed_ || finished_ || !started_) return false;
    const bool closedToVideo = isVcd() && sectorCount_ == 3;
    if (sectorCount_ > 0) scr_ += sectorTicks_;
    const double lookAhead = scr_ + 2 * sectorTicks_;
    videoModel_.expire(scr_);
    audioModel_.expire(scr_);
    const bool audioUrgent = audio_.valid && audio_.pts < lookAhead;
    const bool videoUrgent = video_.valid && video_.dts < lookAhead;

    bool ok = true;
    try {
        if (firstSectorsLeft_ > 0) {
            writeFirstSector();
            ++sectorCount_;
            return !failed_;
        }
        ok = chooseAndWrite(videoUrgent, audioUrgent, closedToVideo);
    } catch (const std::bad_alloc&) {
        fail(Status::error("STR_ERROR_342"));
        return false;
    }
    ++sectorCount_;
    if (endOfData_) {
        diag("Reached end of data at sector %d", sectorCount_);
        muxFinish();
        return false;
    }
    return ok && !failed_;
}

bool Multiplexer::chooseAndWrite(bool videoUrgent, bool audioUrgent, bool closedToVideo) {
    const bool videoBlocked = videoModel_.freeSpace() < pv_ || !video_.valid ||
                              (audioUrgent && audio_.valid) || closedToVideo;
    if (!videoBlocked) return writeVideoSector();
    const bool audioBlocked =
        audioModel_.freeSpace() < pa_ || !audio_.valid || (videoUrgent && video_.valid);
    if (!audioBlocked) return writeAudioSector();
    if (audioModel_.freeSpace() >= pa_ && audio_.valid && audioUrgent) return writeAudioSector();
    if (videoModel_.freeSpace() >= pv_ && video_.valid && videoUrgent) return writeVideoSector();
    writePaddingSector();
    // The piece ends only when both streams are out, or the tail of the
    // longer one would be lost.
    if (!video_.valid && !audio_.valid) endOfData_ = true;
    return !failed_;
}

bool Multiplexer::emit(const std::vector<std::uint8_t>& sector) {
    if (failed_ || !out_.isOpen()) return false;
    if (cache_.size() + sector.size() > kCacheSize && !flushCache()) return false;
    cache_.insert(cache_.end(), sector.begin(), sector.end());
    bytesWritten_ += sector.size();
    return true;
}

bool Multiplexer::flushCache() {
    if (failed_) return false;
    if (cache_.empty()) return true;
    if (!out_.append(cache_.data(), cache_.size())) {
        keepWholeSectors();
        fail(Status::error("STR_ERROR_346"));
        return false;
    }
    cache_.clear();
    return true;
}

// The cache could not be written as a whole (full disk, file-size limit):
// the sectors that still fit are kept one by one, so the piece ends with
// the last complete pack that made it to the disk.
void Multiplexer::keepWholeSectors() {
    for (std::size_t at = 0; at + kSectorSize <= cache_.size(); at += kSectorSize)
        if (!out_.append(cache_.data() + at, kSectorSize)) break;
    cache_.clear();
}

void Multiplexer::closeFiles() {
    (void)out_.close();
    // A piece that got no picture data to the disk (its first writes
    // failed, or its scan list could not be made) would only be a stub
    // beside the real output.
    if (pieceMade_ && (firstVideoEnd_ == 0 || out_.size() < firstVideoEnd_)) {
        std::error_code ec;
        std::filesystem::remove(settings_.outputPath, ec);
    }
    pieceMade_ = false;
    if (list_.isOpen()) {
        (void)list_.close();
        // The I-picture list only serves the scan of a finished piece.
        std::error_code ec;
        std::filesystem::remove(iPictureListPath(), ec);
    }
}

void Multiplexer::muxFinish() {
    if (finished_ || !started_) return;
    finished_ = true;
    // What stopped the piece comes before what its close has to say.
    tellFailure();
    if (out_.isOpen() && !failed_) {
        scr_ += sectorTicks_;
        std::vector<std::uint8_t> s;
        s.reserve(kSectorSize);
        packHeader(s);
        paddingPacket(s, isVcd() ? pv_ + 8 : pv_ + 12);
        startCode(s, mpeg::kProgramEnd);
        if (cache_.size() + s.size() > kCacheSize && !flushCache()) tellFailure();
        if (!failed_) {
            cache_.insert(cache_.end(), s.begin(), s.end());
            bytesWritten_ += s.size();
            ++sectorCount_;
            if (!out_.append(cache_.data(), cache_.size())) {
                keepWholeSectors();
                reporter_.notice(Status::warning("STR_ERROR_358", " " + settings_.outputPath));
                fail(Status::failed());
            }
        }
        cache_.clear();
    }
    // The scan runs while the piece is still held open (and locked), so no
    // other rip can take the file between its last sector and its offsets.
    if (!isVcd() && out_.isOpen() && list_.isOpen() && !failed_) scanOffsets();
    const bool wasOpen = out_.isOpen();
    if (!out_.close() && wasOpen && !failed_) {
        reporter_.notice(Status::warning("STR_ERROR_359", " " + settings_.outputPath));
        fail(Status::failed());
    }
    closeFiles();
    if (videoUnderflows_) diag(" %u video underflows", videoUnderflows_);
    if (audioUnderflows_) diag(" %u audio underflows", audioUnderflows_);
    diag("  %d packets written.", sectorCount_);
}

void Multiplexer::scanOffsets() {
    const std::string listPath = iPictureListPath();
    const std::string& path = settings_.outputPath;
    reporter_.setStatus(reporter_.text("STR_ERROR_363"));
    std::vector<std::uint32_t> sectors;
    std::vector<std::uint8_t> buf;
    try {
        std::vector<std::uint8_t> raw(static_cast<std::size_t>(list_.size()));
        if (list_.read(0, raw.data(), raw.size()) != raw.size()) {
            reporter_.notice(Status::warning("STR_ERROR_362", " " + listPath));
            return;
        }
        for (std::size_t i = 0; i + 4 <= raw.size(); i += 4) sectors.push_back(readLe32(&raw[i]));
        buf.resize(kCacheSize);
    } catch (const std::bad_alloc&) {
        reporter_.notice(Status::warning("STR_ERROR_333", " " + path + "."));
        return;
    }

    const int n = static_cast<int>(sectors.size());
    const double rate = settings_.frameRate;
    int perGop = 15;
    if (std::fabs(rate - 25.0) < 0.01 || std::fabs(rate - 23.976) < 0.01)
        perGop = 12;
    else if (std::fabs(rate - 29.97) < 0.01)
        perGop = 14;
    // Under pull-down the sequence header says 29.97, but the pictures are
    // still coded at 23.976 a second (the repeated fields spread each over a
    // 23.976th of a second of display), so the jump is counted as for 23.976
    // without pull-down (168 = 7 x 24): the same I pictures and the same
    // stretch of film either way. Reading the rate as 29.97 would jump 12 I
    // pictures instead of 14, a shorter stretch than the same film without.
    const int jump = settings_.pulldown ? static_cast<int>(std::ceil(168.0 / perGop))
                                        : static_cast<int>(std::ceil(7.0 * rate / perGop));
    diag("Calculating %d SVCD user data scan offsets", n);

    auto address = [&](int q, std::uint8_t* out) {
        if (q < 0) {
            out[0] = out[1] = out[2] = 0xFF;
            return;
        }
        const std::uint32_t s = sectors[static_cast<std::size_t>(q)];
        out[0] = bcd(static_cast<int>(s / 4500) % 100);
        out[1] = static_cast<std::uint8_t>(bcd(static_cast<int>((s % 4500) / 75)) + 0x80);
        out[2] = static_cast<std::uint8_t>(bcd(static_cast<int>(s % 75)) + 0x80);
    };

    // Byte-aligned search for 00 00 01 B2 10 0E across read chunks.
    static const std::uint8_t kPattern[6] = {0, 0, 1, mpeg::kUserDataStart, 0x10, 0x0E};
    long filePos = 0;  // file offset of buf[0]
    std::size_t have = 0, pos = 0;
    int matched = 0;  // bytes of the pattern matched so far
    int lastPercent = -1;
    int q = 0;
    bool eof = false;
    for (; q < n; ++q) {
        long found = -1;
        while (found < 0) {
            if (pos >= have) {
                if (eof) break;
                filePos += static_cast<long>(have);
                const std::optional<std::size_t> got =
                    out_.read(static_cast<std::uint64_t>(filePos), buf.data(), buf.size());
                if (!got) {
                    reporter_.notice(Status::warning("STR_ERROR_336", " " + path));
                    return;
                }
                have = *got;
                eof = have < buf.size();
                pos = 0;
                if (have == 0) break;
            }
            if (matched == 0) {
                // The pattern's 01 is the rare byte (a third of a DVD
                // stream's bytes are zero): jump from one 01 to the next and
                // look at the two bytes before it. The scan runs alone at the
                // end of a rip; a byte at a time it took a noticeable share
                // of the whole rip's time.
                const auto* one = static_cast<const std::uint8_t*>(
                    std::memchr(buf.data() + pos, 1, have - pos));
                const std::size_t next = one ? static_cast<std::size_t>(one - buf.data()) : have;
                if (next >= pos + 2) {
                    if (next == have) {
                        // No 01 left here: carry the zeros that end the chunk.
                        matched = buf[have - 1] != 0 ? 0 : buf[have - 2] != 0 ? 1 : 2;
                        pos = have;
                    } else {
                        matched = buf[next - 2] == 0 && buf[next - 1] == 0 ? 3 : 0;
                        pos = next + 1;
                    }
                    continue;
                }
            }
            const std::uint8_t b = buf[pos++];
            if (matched < 2) {
                matched = b == 0 ? matched + 1 : 0;
            } else if (matched == 2) {
                matched = b == 1 ? 3 : b == 0 ? 2 : 0;
            } else if (b == kPattern[matched]) {
                ++matched;
            } else {
                matched = b == 0 ? 1 : 0;
            }
            if (matched == 6) {
                found = filePos + static_cast<long>(pos);
                matched = 0;
            }
        }
        if (found < 0) break;
        std::uint8_t data[12];
        address(q > 0 ? q - 1 : -1, data);
        address(q + 1 < n ? q + 1 : -1, data + 3);
        address(q < jump ? 0 : q - jump, data + 6);
        address(q >= n - jump - 1 ? n - 1 : q + jump, data + 9);
        diag("  i frame: %d", q);
        diag("    Prev I Offset: %02X:%02X:%02X", data[0], data[1] & 0x7F, data[2] & 0x7F);
        diag("    Next I Offset: %02X:%02X:%02X", data[3], data[4] & 0x7F, data[5] & 0x7F);
        diag("    Back I Offset: %02X:%02X:%02X", data[6], data[7] & 0x7F, data[8] & 0x7F);
        diag("    Forw I Offset: %02X:%02X:%02X", data[9], data[10] & 0x7F, data[11] & 0x7F);
        if (!out_.patch(static_cast<std::uint64_t>(found), data, sizeof data)) {
            reporter_.notice(Status::warning("STR_ERROR_358", " " + path));
            return;
        }
        // Keep the read buffer in step with what was just written.
        for (int i = 0; i < 12; ++i) {
            long at = found + i - filePos;
            if (at >= 0 && at < static_cast<long>(have))
                buf[static_cast<std::size_t>(at)] = data[i];
        }
        const int percent = n > 0 ? q * 100 / n : 100;
        if (percent != lastPercent) {
            lastPercent = percent;
            char pct[16];
            std::snprintf(pct, sizeof pct, "%3d %%", percent);
            reporter_.setStatus(reporter_.text("STR_ERROR_403") + pct);
            reporter_.setProgress(percent, 100);
        }
        if (q % 10 == 0) reporter_.pumpMessages();
    }
    if (q < n) {
        reporter_.notice(Status::warning(
            "STR_ERROR_404", std::to_string(q) + reporter_.text("STR_ERROR_405") + " " + path));
    } else {
        reporter_.setStatus(reporter_.text("STR_MAIN_LABEL_MONITOR_ScanOffsetDone"));
    }
}

}  // namespace zembra
