#include "audio/stream_extract.h"

#include <algorithm>

#include "audio/audio_decoder.h"
#include "dvd/program_stream_demux.h"
#include "mpeg/timestamps.h"

namespace zembra {

namespace {

void drain(AudioDecoder& dec, std::vector<int16_t>& out) {
    out.insert(out.end(), dec.fifo.data.begin(), dec.fifo.data.begin() + dec.fifo.fill);
    dec.fifo.clear();
}

}  // namespace

void decodeElementaryStream(const std::vector<uint8_t>& in, ExtractKind kind, AudioDecoder& dec,
                            std::vector<int16_t>& out) {
    const size_t kPacket = 2016;  // about one DVD packet of payload
    dec.setAnchor(0, 0);
    for (size_t p = 0; p < in.size(); p += kPacket) {
        size_t n = std::min(kPacket, in.size() - p);
        const DecodeStatus status =
            kind == ExtractKind::Ac3 ? dec.ac3Payload(&in[p], n) : dec.mpaPayload(&in[p], n);
        drain(dec, out);
        // The FIFO overflowed (the message is out): the sound ends there.
        if (status != DecodeStatus::Ok) return;
    }
    if (dec.resamplerFlush() == DecodeStatus::Ok) drain(dec, out);
}

namespace {

// A whole file in memory as the demultiplexer's input.
class MemoryInput : public DecoderInput {
public:
    explicit MemoryInput(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    int open(const std::vector<std::string>&, bool, int, int, int, bool,
             const std::string&) override {
        return 1;
    }
    int reopen() override { return 1; }
    int seek(int64_t sector) override {
        position_ = std::min(bytes_.size(), size_t(sector) * ps::kSectorSize);
        return 0;
    }
    int read(uint8_t* destination, int length) override {
        const size_t n = std::min(size_t(length), bytes_.size() - position_);
        std::copy_n(bytes_.data() + position_, n, destination);
        position_ += n;
        return int(n);
    }
    int close() override { return 0; }
    int64_t currentSector() const override { return int64_t(position_ / ps::kSectorSize); }
    int64_t sectorsBefore() const override { return 0; }
    int64_t fileSectors(int) const override {
        return int64_t((bytes_.size() + ps::kSectorSize - 1) / ps::kSectorSize);
    }
    int fileIndex() const override { return 0; }

private:
    const std::vector<uint8_t>& bytes_;
    size_t position_ = 0;
};

// One audio track of the packets into the decoder. The first video time
// stamp (or, without video, the first audio one) starts the clock.
class TrackSink : public PacketSink {
public:
    TrackSink(int track, AudioDecoder& dec, std::vector<int16_t>& out)
        : track_(track), mpaId_(uint8_t(ps::kMpegAudioFirst + track)), dec_(dec), out_(out) {}
    bool stopped() const { return stopped_; }

    bool goOn() override { return !stopped_; }
    bool wantsStream(uint8_t id) override {
        return ps::isVideoStream(id) || id == ps::kPrivateStream1 || id == mpaId_;
    }
    Take take(const DemuxPacket& packet) override {
        // Only the MPEG-2 header's time stamps count, as in the video decoder.
        const bool pts = packet.header.hasPts && !packet.header.mpeg1;
        const int64_t ms = pts ? mpeg::timestampToMs(packet.header.pts) : -1;
        if (ps::isVideoStream(packet.streamId)) {
            if (pts && !anchored_) {
                dec_.sync.videoStartPtsMs = ms;
                anchorAt(ms);
            }
            return Take::Skip;
        }
        if (pts) {
            dec_.sync.lastAudioPtsMs = ms;
            if (!anchored_) {  // no video: the audio starts the clock
                dec_.sync.videoStartPtsMs = ms;
                anchorAt(ms);
            }
        }
        // Each coding numbers its tracks from 0: the first coding met with
        // this number is the track's, the others are not mixed in.
        const uint8_t coding = codingOf(packet);
        if (trackCoding_ == 0) trackCoding_ = coding;
        return coding != 0 && coding == trackCoding_ ? Take::Payload : Take::Skip;
    }
    void payload(const DemuxPacket& packet, const uint8_t* data, size_t length) override {
        DecodeStatus status = DecodeStatus::Ok;
        const uint8_t coding = codingOf(packet);
        if (coding == ps::kMpegAudioFirst) {
            if (!mpaStarted_) dec_.mpaStart(), mpaStarted_ = true;
            status = dec_.mpaPayload(data, length);
        } else if (coding == ps::kAc3First && length >= 3) {
            // The frame count and first-access-unit pointer come first.
            if (!ac3Started_) dec_.ac3Start(), ac3Started_ = true;
            status = dec_.ac3Payload(data + 3, length - 3);
        } else if (coding == ps::kLpcmFirst) {
            status = dec_.lpcmPayload(data, length);
        }
        drain(dec_, out_);
        // The FIFO overflowed (the message is out): the sound ends there.
        if (status != DecodeStatus::Ok) stopped_ = true;
    }

private:
    // The first id of the packet's coding when it is of the track's number.
    uint8_t codingOf(const DemuxPacket& packet) const {
        if (packet.streamId == mpaId_) return ps::kMpegAudioFirst;
        if (packet.subStream == ps::kAc3First + track_) return ps::kAc3First;
        if (packet.subStream == ps::kLpcmFirst + track_) return ps::kLpcmFirst;
        return 0;
    }
    void anchorAt(int64_t ms) {
        dec_.setAnchor(0, ms);
        anchored_ = true;
    }

    int track_;
    uint8_t mpaId_;
    AudioDecoder& dec_;
    std::vector<int16_t>& out_;
    uint8_t trackCoding_ = 0;
    bool ac3Started_ = false, mpaStarted_ = false, anchored_ = false, stopped_ = false;
};

}  // namespace

void decodeProgramStreamAudio(const std::vector<uint8_t>& in, int track, AudioDecoder& dec,
                              std::vector<int16_t>& out) {
    MemoryInput input(in);
    TrackSink sink(track, dec, out);
    ProgramStreamDemux demux(sink);
    demux.setInput(&input);
    demux.setSystemStream(true);
    demux.restart();
    demux.walk();
    if (!sink.stopped() && dec.resamplerFlush() == DecodeStatus::Ok) drain(dec, out);
}

}  // namespace zembra
