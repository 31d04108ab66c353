#pragma once
// The program-stream demultiplexer: reads a DecoderInput 4096 bytes at a time
// and walks its packs and packets (DVD program streams and MPEG-1 system
// streams), handing each packet's stream, sub-stream, time stamp and payload
// to a PacketSink. The video payload is not copied: the walk stops at a video
// packet the sink takes and leaves its bytes in the read buffer, where the
// video decoder's bit reader reads them (videoBytes) until it asks for more.
// A raw video elementary stream (setSystemStream(false)) is all video bytes.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "dvd/decoder_input.h"
#include "dvd/stream_format.h"
#include "mpeg/decode_status.h"

namespace zembra {

// One packet as the sink sees it.
struct DemuxPacket {
    uint8_t streamId = 0;   // 0xBD, 0xC0 + k, 0xE0 + k, ...
    uint8_t subStream = 0;  // private stream 1: the first payload byte, else 0
    ps::PesHeader header;   // its time stamp
};

class PacketSink {
public:
    virtual ~PacketSink() = default;
    // Asked before each packet: false ends the walk there (decoding stopped
    // or must pause).
    virtual bool goOn() = 0;
    // Whether a packet of this stream is looked into at all; the others are
    // skipped by their length, header unread.
    virtual bool wantsStream(uint8_t streamId) = 0;
    enum class Take { Skip, Payload, Video };
    // The packet's header is read (and its sub-stream byte): skip the rest,
    // have it collected for payload(), or (video) read it in place.
    virtual Take take(const DemuxPacket& packet) = 0;
    virtual void payload(const DemuxPacket& packet, const uint8_t* data, size_t length) = 0;
    // The VOB and cell ids of a navigation pack's DSI.
    virtual void navigation(int /*vobId*/, int /*cellId*/) {}
};

class ProgramStreamDemux {
public:
    static constexpr int kReadSize = 4096;

    explicit ProgramStreamDemux(PacketSink& sink) : sink_(sink) { payload_.reserve(65536); }
    void setInput(DecoderInput* input) { input_ = input; }
    // Packets (true) or a raw video stream (false) from the next restart on.
    void setSystemStream(bool system) { system_ = system; }
    bool systemStream() const { return system_; }
    // Reads from the input's current position with nothing buffered.
    void restart();

    // The video bytes ready to read: [cursor, videoEnd).
    const uint8_t* cursor = buffer_;
    const uint8_t* videoEnd = buffer_;
    // Moves on to the next video bytes, reading and walking packets as
    // needed; false when the input ended or the sink stopped the walk.
    bool moreVideo();
    // Walks the packets to the end of the input or until the sink stops the
    // walk, for a sink that reads no video in place.
    void walk() {
        while (moreVideo()) cursor = videoEnd;
    }
    bool inputEnded() const { return inputEnded_; }
    // Why the input ended: the end of the stream or a read error.
    DecodeStatus endStatus() const { return endStatus_; }
    // The bytes of the last read (the first read after a restart is the
    // start of the stream).
    const uint8_t* buffered() const { return buffer_; }
    size_t bufferedLength() const { return size_t(bufferLength_); }

private:
    bool fillBuffer();
    int readByte();
    uint32_t readBytes(int n);
    void skipBytes(int64_t n);
    void collect(int64_t n);
    int64_t streamPos() const { return bufferBase_ + (cursor - buffer_); }
    void updateVideoEnd();
    // Walks packets up to the next video payload the sink takes.
    bool nextVideoPacket();
    // One packet with a PES header; true when it is video to read in place.
    bool packet(uint8_t streamId);
    void navigationPacket();

    PacketSink& sink_;
    DecoderInput* input_ = nullptr;
    bool system_ = false;
    alignas(16) uint8_t buffer_[kReadSize + 16]{};
    int bufferLength_ = 0;
    int64_t bufferBase_ = 0;  // stream offset of buffer_[0]
    int64_t payloadEnd_ = 0;  // stream offset of the end of the video payload
    bool inputEnded_ = false;
    DecodeStatus endStatus_ = DecodeStatus::EndOfInput;
    int navigationPackets_ = 0;  // private stream 2 packets in this pack
    std::vector<uint8_t> payload_;
};

}  // namespace zembra
