#include "decoder/mpeg2_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "decoder/mpeg2_vlc.h"
#include "dvd/stream_format.h"
#include "dvd/title_catalogue.h"
#include "mpeg/scan_tables.h"
#include "mpeg/start_codes.h"
#include "mpeg/timestamps.h"
#include "platform/byte_order.h"
#include "platform/job_reporter.h"
#include "platform/paths.h"

namespace zembra {

namespace {

constexpr int kMaxDimension = 4096;  // larger pictures are taken as damage

std::string format(const char* fmt, auto... args) {
    char buf[1024];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction

Mpeg2Decoder::Mpeg2Decoder(JobReporter& reporter, TitleCatalogue& catalogue)
    : reporter_(reporter), catalogue_(catalogue), plainInput_(std::make_unique<PlainFileInput>()) {
    input_ = plainInput_.get();
    demux_.setInput(input_);
}

Mpeg2Decoder::~Mpeg2Decoder() { closeDecoder(); }

void Mpeg2Decoder::setInput(DecoderInput* input) {
    input_ = input ? input : plainInput_.get();
    demux_.setInput(input_);
}
void Mpeg2Decoder::setAudio(AudioRoute* audio) { audio_ = audio ? audio : &defaultAudio_; }

// ---------------------------------------------------------------------------
// Read buffer and bit reader

void Mpeg2Decoder::refillWindow() {
    while (windowBits_ < 32) {
        if (demux_.videoEnd - demux_.cursor >= 4) {
            const uint32_t v = readBe32(demux_.cursor);
            demux_.cursor += 4;
            window_ |= uint64_t(v) << (32 - windowBits_);
            windowBits_ += 32;
        } else {
            refillSlow();
        }
    }
}

// One more byte of video. Past the end of the input zero bytes come, and
// once the real bits are used up the end (or read error) becomes the status.
void Mpeg2Decoder::refillSlow() {
    if (demux_.cursor >= demux_.videoEnd && (isFatal(status_) || !demux_.moreVideo())) {
        windowBits_ += 8;
        if (++zeroFill_ >= 8 && !isFatal(status_)) status_ = demux_.endStatus();
        return;
    }
    window_ |= uint64_t(*demux_.cursor++) << (56 - windowBits_);
    windowBits_ += 8;
}

void Mpeg2Decoder::resetBitReader() {
    window_ = 0;
    windowBits_ = 0;
    zeroFill_ = 0;
    demux_.restart();
    refillWindow();
}

void Mpeg2Decoder::nextStartCode() {
    flushBits(windowBits_ & 7);
    while (!isFatal(status_) && showBits(24) != 1) {
        // Skip fast over bytes that cannot start a start code.
        if ((showBits(8)) > 1) {
            flushBits(8);
            continue;
        }
        flushBits(8);
    }
}

// ---------------------------------------------------------------------------
// Demultiplexer

// The sound of the packets read ahead fills the FIFO while no video comes
// (a still picture with its sound): stop before the next packet. Until the
// decoding goes on, the bit reader gets zero bytes, which end the picture
// being read; the window as it was is kept, so going on re-reads its bits
// (the end of a picture's data, skipped on the way to the next start code)
// and then the packets from where the demultiplexer stopped.
void Mpeg2Decoder::pauseForAudio() {
    status_ = DecodeStatus::AudioBacklog;
    pausedWindow_ = window_;
    pausedWindowBits_ = windowBits_;
    pausedZeroFill_ = zeroFill_;
}

void Mpeg2Decoder::resumeAfterAudioPause() {
    if (status_ != DecodeStatus::AudioBacklog) return;
    status_ = DecodeStatus::Ok;
    window_ = pausedWindow_;
    windowBits_ = pausedWindowBits_;
    zeroFill_ = pausedZeroFill_;
    refillWindow();
}

void Mpeg2Decoder::notePts(int64_t ms) {
    timing_.lastAudioPtsMs = ms;
    if (timing_.rebasePending) {
        clock_.ptsOffsetMs -= ms;
        timing_.rebasePending = false;
    } else if (clock_.ptsOffsetMs == 0) {
        clock_.ptsOffsetMs = -ms;
    }
}

bool Mpeg2Decoder::goOn() {
    if (isFatal(status_)) return false;
    if (routing_.flow.audioWanted && audio_->backlogged()) {
        pauseForAudio();
        return false;
    }
    return true;
}

// The video of stream 0 and the MPEG audio tracks 0-7; of MPEG audio only the
// chosen track, or while scanning the tracks not yet found. Another coding's
// track of the same number is not ours, time stamps included.
bool Mpeg2Decoder::wantsStream(uint8_t id) {
    if (id == ps::kVideoFirst || id == ps::kPrivateStream1) return true;
    if (id < ps::kMpegAudioFirst || id > ps::kMpegAudioFirst + 7) return false;
    const int track = id - ps::kMpegAudioFirst;
    if (runMode_ == kRunScan) return !scan_.hasAudio(2, track);
    return track == routing_.audioTrack &&
           (routing_.audioFormat == kPacketAny || routing_.audioFormat == kPacketMpeg);
}

// MPEG-1 system streams are timed by their picture count and their sound's
// sample count (see currentTimeSeconds), so only the time stamps of the
// MPEG-2 packet header are used.
PacketSink::Take Mpeg2Decoder::take(const DemuxPacket& packet) {
    if (packet.streamId == ps::kPrivateStream1) return takePrivateStream1(packet);
    if (packet.streamId != ps::kVideoFirst) return takeMpegAudio(packet);
    if (packet.header.hasPts && !packet.header.mpeg1) {
        timing_.lastVideoPtsMs = mpeg::timestampToMs(packet.header.pts);
        if (!routing_.flow.audioWanted) timing_.videoStartPtsMs = timing_.lastVideoPtsMs;
    }
    return Take::Video;
}

Mpeg2Decoder::Take Mpeg2Decoder::takePrivateStream1(const DemuxPacket& packet) {
    if (packet.header.hasPts && !packet.header.mpeg1) {
        const int64_t ms = mpeg::timestampToMs(packet.header.pts);
        notePts(ms);
        timing_.lastSubPtsMs = ms;
    }
    const uint8_t sub = packet.subStream;
    const bool scan = runMode_ == kRunScan;
    if (ps::isAc3(sub)) {
        const int track = sub - ps::kAc3First;
        if (scan) {
            if (!scan_.hasAudio(0, track)) scan_.audio.push_back({0, track, {}});
        } else if (track == routing_.audioTrack && routing_.flow.audioWanted &&
                   takesCoding(kPacketAc3)) {
            return Take::Payload;
        }
    } else if (ps::isLpcm(sub)) {
        const int track = sub - ps::kLpcmFirst;
        if (scan) {
            if (!scan_.hasAudio(4, track)) scan_.audio.push_back({4, track, {}});
        } else if (track == routing_.audioTrack && routing_.flow.audioWanted &&
                   takesCoding(kPacketLpcm)) {
            return Take::Payload;
        }
    } else if (ps::isSubpicture(sub)) {
        const int stream = sub - ps::kSubpictureFirst;
        if (scan) {
            scan_.subpictures[size_t(stream)] = true;
        } else if (stream == routing_.subtitleStream) {
            return Take::Payload;
        }
    }
    return Take::Skip;
}

Mpeg2Decoder::Take Mpeg2Decoder::takeMpegAudio(const DemuxPacket& packet) {
    if (packet.header.hasPts && !packet.header.mpeg1)
        notePts(mpeg::timestampToMs(packet.header.pts));
    if (runMode_ == kRunScan) return Take::Payload;
    if (!routing_.flow.audioWanted || !takesCoding(kPacketMpeg)) return Take::Skip;
    const auto track = size_t(packet.streamId - ps::kMpegAudioFirst);
    if (!routing_.flow.mpaStarted[track]) {
        routing_.flow.mpaStarted[track] = true;
        audio_->mpaStart();
    }
    return Take::Payload;
}

void Mpeg2Decoder::payload(const DemuxPacket& packet, const uint8_t* data, size_t length) {
    if (packet.streamId != ps::kPrivateStream1) {
        const int track = packet.streamId - ps::kMpegAudioFirst;
        if (runMode_ == kRunScan) {
            std::string text;
            if (audio_->mpaProbe(data, length, text))
                scan_.audio.push_back({2, track, std::move(text)});
            return;
        }
        audio_->setSyncInputs(timing_.lastAudioPtsMs, timing_.videoStartPtsMs, sequence_.frameRate,
                              sequence_.mpeg2);
        absorb(audio_->mpaPayload(data, length));
        return;
    }
    const uint8_t sub = packet.subStream;
    if (ps::isSubpicture(sub)) {
        if (hooks.subpicturePayload) hooks.subpicturePayload(data, length);
        return;
    }
    audio_->setSyncInputs(timing_.lastAudioPtsMs, timing_.videoStartPtsMs, sequence_.frameRate,
                          sequence_.mpeg2);
    if (ps::isLpcm(sub)) {
        absorb(audio_->lpcmPayload(data, length));
        return;
    }
    // AC-3: the frame count and first-access-unit pointer come first.
    const size_t skip = std::min<size_t>(3, length);
    data += skip;
    length -= skip;
    const auto track = size_t(sub - ps::kAc3First);
    const bool first = !routing_.flow.ac3Seen[track];
    routing_.flow.ac3Seen[track] = true;
    if (routing_.audioPath == 2) {
        if (first) audio_->ac3Start();
        absorb(audio_->ac3Payload(data, length));
    } else {
        exportAc3(data, length, first);
    }
}

int packetCodingOf(int titleCoding) {
    switch (titleCoding) {
        case 0:
            return kPacketAc3;
        case 2:
        case 3:
            return kPacketMpeg;
        case 4:
            return kPacketLpcm;
        case 6:
            return kPacketDts;
        default:
            return kPacketAny;
    }
}

// A stream number alone does not make a track: ffmpeg and dvdauthor number
// each coding from 0, so an AC-3 and an LPCM track both carry number 0.
// Without the title's word on the coding, the first coding the number comes
// with during decoding is the track's.
bool Mpeg2Decoder::takesCoding(int coding) {
    if (routing_.audioFormat == kPacketAny) routing_.audioFormat = coding;
    return routing_.audioFormat == coding;
}

// The track goes to its file from its first sync word on. The file starts
// again with the track's first packet after an open or reseek, as the
// decoded sound does; until a sync word comes nothing is written, so a
// file left from before is never continued.
void Mpeg2Decoder::exportAc3(const uint8_t* data, size_t length, bool first) {
    if (routing_.ac3File.empty()) return;
    if (first && ac3Export_.isOpen()) (void)ac3Export_.close();
    size_t from = 0;
    if (!ac3Export_.isOpen()) {
        while (from + 1 < length && !(data[from] == 0x0B && data[from + 1] == 0x77)) ++from;
        if (from + 1 >= length || !ac3Export_.open(routing_.ac3File)) return;
    }
    // A write that fails (a full disk) takes its packet back; the picture
    // goes on, the export being a by-product of decoding.
    (void)ac3Export_.append(data + from, length - from);
}

void Mpeg2Decoder::navigation(int vob, int cell) {
    if (clock_.baseVobNumber < 0) {
        clock_.baseVobNumber = vob;
    } else if (vob != clock_.vobNumber) {
        // A new VOB restarts its time stamps: carry the elapsed time over and
        // rebase on the next audio time stamp.
        clock_.ptsOffsetMs += timing_.lastAudioPtsMs;
        timing_.rebasePending = true;
    }
    clock_.vobNumber = vob;
    clock_.cellNumber = cell;
}

bool AudioRoute::mpaProbe(const uint8_t* data, size_t length, std::string& text) {
    static const int kRates[3][3] = {
        {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    for (size_t i = 0; i + 4 <= length; ++i) {
        if (data[i] != 0xFF || (data[i + 1] & 0xE0) != 0xE0) continue;
        const int version = (data[i + 1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
        const int layer = (data[i + 1] >> 1) & 3;
        const int bitrate = data[i + 2] >> 4;
        const int rate = (data[i + 2] >> 2) & 3;
        if (version == 1 || layer == 0 || bitrate == 15 || rate == 3) continue;
        const int hz = kRates[version == 3 ? 0 : version == 2 ? 1 : 2][rate];
        const bool mono = (data[i + 3] >> 6) == 3;
        text = format("%dHz %s", hz, mono ? "Mono" : "Stereo");
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Headers

int Mpeg2Decoder::getHeader() {
    for (int i = 0; i < 1000; ++i) {
        nextStartCode();
        if (isFatal(status_)) break;
        const uint32_t code = getBits(32);
        if (code == mpeg::startCode(mpeg::kPictureStart)) {
            pictureHeader();
            if (isFatal(status_)) break;
            return 1;
        }
        if (code == mpeg::startCode(mpeg::kSequenceHeader))
            sequenceHeader();
        else if (code == mpeg::startCode(mpeg::kGroupStart))
            gopHeader();
    }
    // An end of input, a read error or a pause for the sound keeps its own code.
    if (status_ != DecodeStatus::EndOfInput && status_ != DecodeStatus::ReadError &&
        status_ != DecodeStatus::AudioBacklog)
        status_ = DecodeStatus::NoPicture;
    return 0;
}

void Mpeg2Decoder::loadMatrix(uint8_t* matrix) {
    for (int i = 0; i < 64; ++i) {
        int v = int(getBits(8));
        matrix[mpeg::kZigZag[i]] = uint8_t(v ? v : 1);  // a zero would wipe the block
    }
}

double Mpeg2Decoder::frameRateFromCode() const {
    static const double kRates[9] = {0,  24000.0 / 1001, 24, 25, 30000.0 / 1001, 30,
                                     50, 60000.0 / 1001, 60};
    return sequence_.frameRateCode >= 1 && sequence_.frameRateCode <= 8
               ? kRates[sequence_.frameRateCode]
               : -1.0;
}

void Mpeg2Decoder::sequenceHeader() {
    sequence_.horizontalSize = int(getBits(12));
    sequence_.verticalSize = int(getBits(12));
    sequence_.aspectRatio = int(getBits(4));
    sequence_.frameRateCode = int(getBits(4));
    getBits(18);  // bit_rate
    getBits(1);
    getBits(10);  // vbv_buffer_size
    getBits(1);   // constrained_parameters_flag
    if (getBits(1)) {
        loadMatrix(sequence_.intraMatrix);
    } else {
        std::memcpy(sequence_.intraMatrix, mpeg::kDefaultIntraMatrix.data(), 64);
    }
    if (getBits(1)) {
        loadMatrix(sequence_.nonIntraMatrix);
    } else {
        std::memset(sequence_.nonIntraMatrix, 16, 64);
    }
    std::memcpy(sequence_.chromaIntraMatrix, sequence_.intraMatrix, 64);
    std::memcpy(sequence_.chromaNonIntraMatrix, sequence_.nonIntraMatrix, 64);
    sequence_.mpeg2 = false;
    sequence_.sequenceFrameRate = frameRateFromCode();
    extensionsAndUserData();
    headerSeen_ = true;
    if (!frameStoreReady()) setupFrameStore();
}

void Mpeg2Decoder::extensionsAndUserData() {
    for (;;) {
        nextStartCode();
        if (isFatal(status_)) return;
        const uint32_t code = showBits(32);
        if (code == mpeg::startCode(mpeg::kUserDataStart)) {
            flushBits(32);
            continue;
        }
        if (code != mpeg::startCode(mpeg::kExtensionStart)) return;
        flushBits(32);
        switch (getBits(4)) {
            case 1:
                sequenceExtension();
                break;
            case 2:  // sequence display: nothing kept
                getBits(3);
                if (getBits(1)) getBits(24);
                getBits(14);
                getBits(1);
                getBits(14);
                break;
            case 3:
                quantMatrixExtension();
                break;
            case 7:
                pictureDisplayExtension();
                break;
            case 8:
                pictureCodingExtension();
                break;
            default:
                break;
        }
    }
}

void Mpeg2Decoder::sequenceExtension() {
    sequence_.mpeg2 = true;
    getBits(8);  // profile and level
    sequence_.progressiveSequence = getBits(1) != 0;
    int format = int(getBits(2));
    if (format == 0) format = 1;
    // The frame store keeps the layout of the first sequence header; a later
    // header cannot change how its planes are addressed.
    if (!frameStoreReady()) sequence_.chromaFormat = format;
    sequence_.horizontalSize = (sequence_.horizontalSize & 0xFFF) | int(getBits(2) << 12);
    sequence_.verticalSize = (sequence_.verticalSize & 0xFFF) | int(getBits(2) << 12);
    getBits(12);  // bit_rate_extension
    getBits(1);
    getBits(8);  // vbv_buffer_size_extension
    getBits(1);  // low_delay
    const int n = int(getBits(2)), d = int(getBits(5));
    sequence_.sequenceFrameRate = frameRateFromCode() * (n + 1) / (d + 1);
}

void Mpeg2Decoder::quantMatrixExtension() {
    if (getBits(1)) {
        loadMatrix(sequence_.intraMatrix);
        std::memcpy(sequence_.chromaIntraMatrix, sequence_.intraMatrix, 64);
    }
    if (getBits(1)) {
        loadMatrix(sequence_.nonIntraMatrix);
        std::memcpy(sequence_.chromaNonIntraMatrix, sequence_.nonIntraMatrix, 64);
    }
    if (getBits(1)) loadMatrix(sequence_.chromaIntraMatrix);
    if (getBits(1)) loadMatrix(sequence_.chromaNonIntraMatrix);
}

void Mpeg2Decoder::pictureDisplayExtension() {
    int count;
    if (sequence_.progressiveSequence)
        count = picture_.repeatFirstField ? (picture_.topFieldFirst ? 3 : 2) : 1;
    else if (picture_.pictureStructure != 3)
        count = 1;
    else
        count = picture_.repeatFirstField ? 3 : 2;
    for (int i = 0; i < count; ++i) {
        getBits(16);
        getBits(1);
        getBits(16);
        getBits(1);
    }
}

void Mpeg2Decoder::pictureCodingExtension() {
    picture_.fCode[0][0] = int(getBits(4));
    picture_.fCode[0][1] = int(getBits(4));
    picture_.fCode[1][0] = int(getBits(4));
    picture_.fCode[1][1] = int(getBits(4));
    picture_.intraDcPrecision = int(getBits(2));
    picture_.pictureStructure = int(getBits(2));
    if (picture_.pictureStructure == 0) picture_.pictureStructure = 3;
    picture_.topFieldFirst = getBits(1) != 0;
    picture_.framePredFrameDct = getBits(1) != 0;
    picture_.concealmentMotionVectors = getBits(1) != 0;
    picture_.qScaleType = getBits(1) != 0;
    picture_.intraVlcFormat = getBits(1) != 0;
    picture_.alternateScan = getBits(1) != 0;
    picture_.repeatFirstField = getBits(1) != 0;
    getBits(1);  // chroma_420_type
    picture_.progressiveFrame = getBits(1) != 0;
    if (getBits(1)) getBits(20);  // composite display
}

void Mpeg2Decoder::gopHeader() {
    getBits(1);   // drop_frame_flag
    getBits(24);  // time code and marker
    getBits(1);   // closed_gop
    getBits(1);   // broken_link
    extensionsAndUserData();
}

void Mpeg2Decoder::pictureHeader() {
    picture_.temporalReference = int(getBits(10));
    picture_.pictureCodingType = mpeg::PictureType(getBits(3));
    getBits(16);  // vbv_delay
    if (picture_.pictureCodingType == mpeg::PictureType::P ||
        picture_.pictureCodingType == mpeg::PictureType::B) {
        picture_.fullPelForward = getBits(1) != 0;
        picture_.forwardFCode = int(getBits(3));
    }
    if (picture_.pictureCodingType == mpeg::PictureType::B) {
        picture_.fullPelBackward = getBits(1) != 0;
        picture_.backwardFCode = int(getBits(3));
    }
    while (getBits(1) && !isFatal(status_)) getBits(8);
    if (!sequence_.mpeg2) {
        picture_.intraDcPrecision = 0;
        picture_.pictureStructure = 3;
        picture_.topFieldFirst = false;
        picture_.framePredFrameDct = true;
        picture_.concealmentMotionVectors = false;
        picture_.qScaleType = false;
        picture_.intraVlcFormat = false;
        picture_.alternateScan = false;
        picture_.repeatFirstField = false;
        picture_.progressiveFrame = true;
    }
    extensionsAndUserData();
}

void Mpeg2Decoder::setupFrameStore() {
    if (sequence_.horizontalSize <= 0 || sequence_.verticalSize <= 0 ||
        sequence_.horizontalSize > kMaxDimension || sequence_.verticalSize > kMaxDimension)
        return;
    sequence_.mbWidth = (sequence_.horizontalSize + 15) / 16;
    sequence_.mbHeight = (sequence_.mpeg2 && !sequence_.progressiveSequence)
                             ? 2 * ((sequence_.verticalSize + 31) / 32)
                             : (sequence_.verticalSize + 15) / 16;
    sequence_.codedWidth = sequence_.mbWidth * 16;
    sequence_.codedHeight = sequence_.mbHeight * 16;
    sequence_.chromaWidth =
        sequence_.chromaFormat == 3 ? sequence_.codedWidth : sequence_.codedWidth / 2;
    sequence_.chromaHeight =
        sequence_.chromaFormat == 1 ? sequence_.codedHeight / 2 : sequence_.codedHeight;
    sequence_.blockCount = sequence_.chromaFormat == 1 ? 6 : sequence_.chromaFormat == 2 ? 8 : 12;
    const size_t luma = size_t(sequence_.codedWidth) * sequence_.codedHeight;
    const size_t chroma = size_t(sequence_.chromaWidth) * sequence_.chromaHeight;
    for (auto& p : store_) {
        p.bytes.assign(luma + 2 * chroma, 128);
        std::memset(p.bytes.data(), 16, luma);
        p.plane[0] = p.bytes.data();
        p.plane[1] = p.bytes.data() + luma;
        p.plane[2] = p.bytes.data() + luma + chroma;
    }
    forward_ = &store_[0];
    backward_ = &store_[1];
    sequenceSeen_ = true;
}

void Mpeg2Decoder::freeFrameStore() {
    for (auto& p : store_) {
        std::vector<uint8_t>().swap(p.bytes);
        p.plane[0] = p.plane[1] = p.plane[2] = nullptr;
    }
    forward_ = backward_ = nullptr;
    slice_.reset();
}

// ---------------------------------------------------------------------------
// The picture loop

void Mpeg2Decoder::decodeFrameFromHeader() {
    decodePicture();
    while (progress_.secondField && !isFatal(status_)) {
        if (!getHeader()) return;
        decodePicture();
    }
}

int Mpeg2Decoder::decodeStep() {
    if (!opened_ || isFatal(status_)) return 0;
    if (!getHeader()) return 0;
    if (picture_.pictureCodingType == mpeg::PictureType::I && !progress_.secondField) {
        timing_.anchorFrameCount = timing_.emittedFrames;
        timing_.anchorVideoPtsMs = timing_.lastVideoPtsMs;
        audio_->setAnchor(timing_.anchorFrameCount, timing_.anchorVideoPtsMs);
    }
    decodePicture();
    return isFatal(status_) ? 0 : 1;
}

// ---------------------------------------------------------------------------
// Opening, seeking, closing

const TitleRecord* Mpeg2Decoder::currentTitle() const { return catalogue_.title(params_.title); }

int64_t Mpeg2Decoder::firstSector() const {
    const TitleRecord* t = currentTitle();
    return t && !t->cells.empty() ? int64_t(t->cells.front().firstSector) : 0;
}

void Mpeg2Decoder::resetState() {
    status_ = DecodeStatus::Ok;
    demux_.setSystemStream(false);
    routing_ = {};
    timing_ = {};
    clock_ = {};
    progress_ = {};
    picture_ = {};
}

// Looks from the start for a pack header (a system stream) or a sequence
// header (a raw video stream), then restarts the input in the right mode.
bool Mpeg2Decoder::detectSystemStream(int64_t sector) {
    demux_.setSystemStream(false);
    status_ = DecodeStatus::Ok;
    if (input_->seek(sector) < 0) return false;
    resetBitReader();
    bool system = false;
    for (int i = 0; i < 100000; ++i) {
        nextStartCode();
        if (isFatal(status_)) return false;
        const uint32_t code = showBits(32);
        if (code == 0x1BA) {
            system = true;
            break;
        }
        if (code == mpeg::startCode(mpeg::kSequenceHeader)) break;
        flushBits(32);
    }
    if (system) {
        status_ = DecodeStatus::Ok;
        if (input_->seek(sector) < 0) return false;
        demux_.setSystemStream(true);
        resetBitReader();
    }
    return true;
}

// A transport stream's video would be found as a raw video stream and
// decoded to garbage (its packet headers cut into the pictures): it is
// refused with a message that says what the file is and what is read.
Status Mpeg2Decoder::refuseTransportStream(const std::string& name) {
    status_ = DecodeStatus::Ok;
    if (input_->seek(0) < 0) return {};
    resetBitReader();
    const uint8_t* start = demux_.buffered();
    const size_t length = demux_.bufferedLength();
    const char* key = nullptr;
    if (ps::looksLikeTransportStream(start, length))
        key = "STR_ERROR_TransportStream";
    else if (ps::looksLikeForeignContainer(start, length))
        key = "STR_ERROR_OtherContainer";
    else
        return {};
    return Status::error(key).leadBy("\"" + name + "\" ");
}

bool Mpeg2Decoder::findSequenceHeader() {
    if (!detectSystemStream(firstSector())) return false;
    while (!isFatal(status_)) {
        nextStartCode();
        if (isFatal(status_)) break;
        if (getBits(32) == mpeg::startCode(mpeg::kSequenceHeader)) {
            sequenceHeader();
            if (frameStoreReady()) return true;
        }
    }
    return false;
}

void Mpeg2Decoder::filmDetection(bool detect24, bool force24) {
    sequence_.frameRate = sequence_.sequenceFrameRate;
    if (!(std::fabs(sequence_.frameRate - 29.97) < 0.01 && detect24)) return;
    filmFlag_ = force24;
    for (int i = 0; i < 11 && !filmFlag_; ++i) {
        if (!getHeader()) break;
        if (i < 10) filmFlag_ = picture_.repeatFirstField != 0;
    }
    if (filmFlag_) sequence_.frameRate = 24000.0 / 1001.0;
    if (isFatal(status_)) status_ = DecodeStatus::Ok;
}

bool Mpeg2Decoder::startDecoding() {
    do {
        if (!getHeader()) return false;
    } while (picture_.pictureCodingType != mpeg::PictureType::I);
    timing_.anchorFrameCount = timing_.emittedFrames;
    timing_.anchorVideoPtsMs = timing_.lastVideoPtsMs;
    audio_->setAnchor(timing_.anchorFrameCount, timing_.anchorVideoPtsMs);
    routing_.flow.audioWanted = runMode_ != kRunVideoOnly || routing_.audioMode == 3;
    audio_->setAudioWanted(routing_.flow.audioWanted);
    decodeFrameFromHeader();
    if (isFatal(status_)) return startedOnStillPicture();
    do {
        if (!getHeader()) return startedOnStillPicture();
    } while (picture_.pictureCodingType == mpeg::PictureType::B);
    decodeFrameFromHeader();
    return !isFatal(status_) || status_ == DecodeStatus::AudioBacklog;
}

// No second picture follows the I-picture before the input ends or the sound
// fills the FIFO: a still picture (a menu, a slide, an audio-only title). It
// is shown for the whole title; the end or the pause stays for the queue.
bool Mpeg2Decoder::startedOnStillPicture() {
    const DecodeStatus stopped = status_;
    if (stopped != DecodeStatus::EndOfInput && stopped != DecodeStatus::AudioBacklog) return false;
    flushLastReference();
    return true;
}

Status Mpeg2Decoder::openDecoder(const DecoderOpenParams& p, double& rateOut, int& chromaOut,
                                 int& widthOut, int& heightOut) {
    closeDecoder();
    params_ = p;
    resetState();
    routing_.ac3File = p.ac3File;
    // "none.ac3" is the setting's way of saying no export file was chosen;
    // writing it would leave a stray file in whatever folder we run in.
    if (equalsNoCase(std::filesystem::path(routing_.ac3File).filename().string(), "none.ac3"))
        routing_.ac3File.clear();
    if (!idctVariantFromSetting(p.idct, idctVariant_)) return Status::error("STR_ERROR_500");
    routing_.audioMode = p.downSampling + 1;
    routing_.audioPath = p.downSampling == 2 ? 1 : 2;
    routing_.audioTrack = std::clamp(p.audioTrack, 0, 7);
    const int code = p.audioFormat;
    routing_.audioFormat = packetCodingOf(code);
    if (routing_.audioPath == 1 && code != 0) return Status::error("STR_ERROR_501");
    routing_.subtitleStream =
        p.subtitleStream >= 0 && p.subtitleStream < 32 ? p.subtitleStream : -1;
    if (!input_->open(p.files, p.useAspi, p.angle, p.title, p.saveBufferSize,
                      p.saveBufferLocation == 1, p.tempPath))
        return Status::failed();
    opened_ = true;
    if (p.title < 0 && p.files.size() == 1) {
        Status refused = refuseTransportStream(p.files.front());
        if (!refused) {
            closeDecoder();
            return refused;
        }
    }
    auto fail = [this] {
        closeDecoder();
        return Status::error("STR_ERROR_502");
    };
    if (!findSequenceHeader()) return fail();
    filmDetection(p.detect24Fps, p.force24);
    audio_->open(routing_.audioMode, p.ac3Gain, p.dolby, p.avSynch);
    if (hooks.subpictureReset) hooks.subpictureReset();
    status_ = DecodeStatus::Ok;
    if (input_->seek(firstSector()) < 0) return fail();
    resetBitReader();
    if (!startDecoding()) return fail();
    rateOut = sequence_.frameRate;
    chromaOut = sequence_.chromaFormat;
    widthOut = sequence_.codedWidth;
    heightOut = sequence_.codedHeight;
    return {};
}

Status Mpeg2Decoder::reseek(int64_t sector) {
    if (!opened_) return Status::failed();
    status_ = DecodeStatus::Ok;
    routing_.flow = {};
    timing_ = {};
    progress_ = {};
    audio_->setAudioWanted(false);
    audio_->reseek();
    if (hooks.subpictureReset) hooks.subpictureReset();
    const TitleRecord* t = currentTitle();
    if (sector == 0 && t && t->noCellFilter) clock_.ptsOffsetMs = 0;
    if (input_->seek(sector) < 0) return Status::error("STR_ERROR_504");
    resetBitReader();
    if (!startDecoding()) return Status::error("STR_ERROR_504");
    return {};
}

int Mpeg2Decoder::currentTimeSeconds() const {
    const TitleRecord* t = currentTitle();
    double cellSum = 0;
    if (t) {
        if (t->noCellFilter) {
            const int index = input_->fileIndex();
            for (const auto& c : t->cells)
                if (int(c.vobId) - 1 < index) cellSum += c.duration;
        } else {
            for (const auto& c : t->cells)
                if (int(c.vobId) < clock_.vobNumber) cellSum += c.duration;
        }
    }
    double seconds;
    if (sequence_.mpeg2) {
        if (t && t->noCellFilter)
            seconds = double(timing_.lastAudioPtsMs + clock_.ptsOffsetMs) / 1000.0;
        else
            seconds = cellSum + double(timing_.lastAudioPtsMs) / 1000.0;
    } else {
        seconds =
            cellSum + (sequence_.frameRate > 0 ? timing_.outputFrames / sequence_.frameRate : 0.0);
    }
    return int(seconds);
}

void Mpeg2Decoder::closeDecoder() {
    const bool wasOpen = opened_ || frameStoreReady();
    if (opened_) input_->close();
    opened_ = false;
    if (ac3Export_.isOpen()) (void)ac3Export_.close();
    freeFrameStore();
    sequenceSeen_ = false;
    if (wasOpen && hooks.closed) hooks.closed();
}

int Mpeg2Decoder::reopenDecoder() {
    if (!input_->reopen()) return 0;
    opened_ = true;
    if (!frameStoreReady()) setupFrameStore();
    return frameStoreReady() ? 1 : 0;
}

int Mpeg2Decoder::getAudioSampleRate() const { return audio_->sampleRate(); }

// ---------------------------------------------------------------------------
// Scan of plain VOB/MPEG files

Status Mpeg2Decoder::scanVobFiles(const std::vector<std::string>& files, bool detect24,
                                  bool force24, VobScan& found, const CancelToken* cancel) {
    closeDecoder();
    runMode_ = kRunScan;
    params_ = DecoderOpenParams{};
    scan_ = {};
    Status scanned;
    for (size_t i = 0; i < files.size() && scanned; ++i)
        scanned = scanOneFile(files[i], i, files.size(), detect24, force24, cancel);
    found = scan_;
    return scanned;
}

Status Mpeg2Decoder::scanOneFile(const std::string& file, size_t index, size_t count, bool detect24,
                                 bool force24, const CancelToken* cancel) {
    auto fail = [&](Status why) {
        input_->close();
        freeFrameStore();
        return why;
    };
    resetState();
    routing_.audioTrack = 255;
    routing_.subtitleStream = -1;
    if (!input_->open({file}, false, 0, -1, 1, false, {})) return fail(Status::failed());
    if (Status refused = refuseTransportStream(file); !refused) return fail(std::move(refused));
    if (!detectSystemStream(0)) return fail(Status::error("STR_ERROR_505"));
    const std::string prefix = reporter_.text("STR_ERROR_71");
    int pictures = 0;
    bool sequence = false;
    bool film = false, filmOpen = false;
    double rate = 0;
    while (!isFatal(status_)) {
        nextStartCode();
        if (isFatal(status_)) break;
        const uint32_t code = getBits(32);
        if (code == mpeg::startCode(mpeg::kPictureStart)) {
            ++pictures;
            if (filmOpen && pictures <= 10) {
                pictureHeader();
                film = picture_.repeatFirstField != 0;
                if (film) filmOpen = false;
            }
            if (pictures % 50 == 0) {
                reporter_.setStatus(format("%s %d/%d %s [%d]", prefix.c_str(), int(index + 1),
                                           int(count), file.c_str(), pictures));
                const int64_t size = input_->fileSectors(0);
                reporter_.setProgress(size > 0 ? int(input_->currentSector() * 100 / size) : 0,
                                      100);
                reporter_.pumpMessages();
                if ((cancel && cancel->requested()) || input_->cancelRequested())
                    return fail(Status::failed());
            }
        } else if (code == mpeg::startCode(mpeg::kSequenceHeader)) {
            sequenceHeader();
            if (!sequence && frameStoreReady()) {
                sequence = true;
                rate = sequence_.sequenceFrameRate;
                if (std::fabs(rate - 29.97) < 0.01 && detect24) {
                    film = force24;
                    filmOpen = !film;
                }
            }
        }
    }
    if (!sequence) return fail(Status::error("STR_ERROR_505"));
    if (pictures == 0) return fail(Status::error("STR_ERROR_506"));
    if (film) rate = 24000.0 / 1001.0;
    if (index == 0) sequence_.frameRate = rate;
    scan_.files.push_back({input_->fileSectors(0), pictures, rate});
    input_->close();
    freeFrameStore();
    return {};
}

}  // namespace zembra
