#include "dvd/program_stream_demux.h"

#include <algorithm>

namespace zembra {

void ProgramStreamDemux::restart() {
    bufferBase_ = 0;
    bufferLength_ = 0;
    cursor = videoEnd = buffer_;
    payloadEnd_ = 0;
    inputEnded_ = false;
    navigationPackets_ = 0;
}

bool ProgramStreamDemux::fillBuffer() {
    bufferBase_ += bufferLength_;
    cursor = videoEnd = buffer_;
    bufferLength_ = 0;
    if (inputEnded_) return false;
    const int r = input_ ? input_->read(buffer_, kReadSize) : 0;
    if (r <= 0) {
        inputEnded_ = true;
        endStatus_ = r == 0 ? DecodeStatus::EndOfInput : DecodeStatus::ReadError;
        return false;
    }
    bufferLength_ = r;
    return true;
}

int ProgramStreamDemux::readByte() {
    if (cursor >= buffer_ + bufferLength_ && !fillBuffer()) return 0;
    return *cursor++;
}

uint32_t ProgramStreamDemux::readBytes(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | uint32_t(readByte());
    return v;
}

void ProgramStreamDemux::skipBytes(int64_t n) {
    while (n > 0) {
        if (cursor >= buffer_ + bufferLength_ && !fillBuffer()) return;
        const int64_t step = std::min<int64_t>(n, buffer_ + bufferLength_ - cursor);
        cursor += step;
        n -= step;
    }
}

void ProgramStreamDemux::collect(int64_t n) {
    payload_.clear();
    while (n > 0) {
        if (cursor >= buffer_ + bufferLength_ && !fillBuffer()) return;
        const int64_t step = std::min<int64_t>(n, buffer_ + bufferLength_ - cursor);
        payload_.insert(payload_.end(), cursor, cursor + step);
        cursor += step;
        n -= step;
    }
}

void ProgramStreamDemux::updateVideoEnd() {
    const uint8_t* end = buffer_ + bufferLength_;
    if (system_) {
        const int64_t left = payloadEnd_ - streamPos();
        if (left < end - cursor) end = cursor + std::max<int64_t>(0, left);
    }
    videoEnd = end;
}

// Across buffer refills and, in system streams, on to the next video packet.
bool ProgramStreamDemux::moreVideo() {
    while (cursor >= videoEnd) {
        if (inputEnded_) return false;
        if (cursor >= buffer_ + bufferLength_) {
            if (!fillBuffer()) return false;
        } else if (system_ && streamPos() >= payloadEnd_) {
            if (!nextVideoPacket()) return false;
        }
        updateVideoEnd();
    }
    return true;
}

// Start codes are looked for byte by byte, so the walk finds its way back
// after damage. A pack header's fields are skipped up to its stuffing
// length byte; what follows is found by the same search.
bool ProgramStreamDemux::nextVideoPacket() {
    while (!inputEnded_ && sink_.goOn()) {
        uint32_t code = readBytes(4);
        while ((code >> 8) != ps::kStartCodePrefix) {
            if (inputEnded_) return false;
            code = (code << 8) | uint32_t(readByte());
        }
        if (inputEnded_) return false;
        const auto id = uint8_t(code);
        if (code == ps::kPackStartCode) {
            skipBytes(8);
            navigationPackets_ = 0;
        } else if (id == ps::kPrivateStream2) {
            navigationPacket();
        } else if (code > ps::kPackStartCode) {
            if (!sink_.wantsStream(id))
                skipBytes(readBytes(2));
            else if (packet(id))
                return true;
        }
    }
    return false;
}

bool ProgramStreamDemux::packet(uint8_t streamId) {
    const int64_t length = readBytes(2);
    const int64_t start = streamPos();
    DemuxPacket packet;
    packet.streamId = streamId;
    if (ps::hasPesHeader(streamId)) {
        uint8_t header[3 + 255];
        header[0] = uint8_t(readByte());
        // A packet with its PES scrambling bits set holds CSS-scrambled
        // bytes, which are no MPEG data: it is skipped whole rather than
        // decoded as garbage (the title reader refuses scrambled titles it
        // cannot unscramble; this keeps stray scrambled packs out too).
        if ((header[0] & 0xC0) == 0x80 && (header[0] & 0x30) != 0) {
            skipBytes(length - 1);
            return false;
        }
        size_t have = 1, need;
        while ((need = ps::pesHeaderNeeds(header, have)) > have)
            while (have < need) header[have++] = uint8_t(readByte());
        packet.header = ps::readPesHeader(header, have);
    }
    if (streamId == ps::kPrivateStream1) packet.subStream = uint8_t(readByte());
    const int64_t remaining = std::max<int64_t>(0, length - (streamPos() - start));
    switch (sink_.take(packet)) {
        case PacketSink::Take::Video:
            payloadEnd_ = streamPos() + remaining;
            return remaining > 0;
        case PacketSink::Take::Payload:
            collect(remaining);
            sink_.payload(packet, payload_.data(), payload_.size());
            return false;
        case PacketSink::Take::Skip:
            break;
    }
    skipBytes(remaining);
    return false;
}

// The second private stream 2 packet of a navigation pack is its DSI.
void ProgramStreamDemux::navigationPacket() {
    const int64_t length = readBytes(2);
    if (++navigationPackets_ != 2 || length <= ps::kDsiCellIdOffset) {
        skipBytes(length);
        return;
    }
    skipBytes(ps::kDsiVobIdOffset);
    const int vob = int(readBytes(2));
    skipBytes(ps::kDsiCellIdOffset - ps::kDsiVobIdOffset - 2);
    const int cell = readByte();
    skipBytes(length - ps::kDsiCellIdOffset - 1);
    sink_.navigation(vob, cell);
}

}  // namespace zembra
