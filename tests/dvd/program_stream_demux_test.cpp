#include "dvd/program_stream_demux.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace zembra {
namespace {

using Bytes = std::vector<uint8_t>;

// The five bytes of a PTS field with the given top nibble (0010 PTS only,
// 0011 PTS of a PTS/DTS pair).
Bytes ptsField(uint64_t pts, uint8_t nibble = 0x20) {
    return {uint8_t(nibble | ((pts >> 29) & 0x0E) | 1), uint8_t(pts >> 22),
            uint8_t(((pts >> 14) & 0xFE) | 1), uint8_t(pts >> 7), uint8_t(((pts << 1) & 0xFE) | 1)};
}

Bytes pesPacket(uint8_t id, const Bytes& header, const Bytes& payload) {
    const size_t length = header.size() + payload.size();
    Bytes p{0x00, 0x00, 0x01, id, uint8_t(length >> 8), uint8_t(length)};
    p.insert(p.end(), header.begin(), header.end());
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

Bytes mpeg2Header(bool withPts, uint64_t pts = 0, uint8_t firstFlags = 0x81) {
    Bytes h{firstFlags, uint8_t(withPts ? 0x80 : 0x00), uint8_t(withPts ? 5 : 0)};
    if (withPts) {
        const Bytes f = ptsField(pts);
        h.insert(h.end(), f.begin(), f.end());
    }
    return h;
}

Bytes packHeader() {
    // MPEG-2 pack: SCR, mux rate, stuffing length 2, two stuffing bytes.
    return {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00,
            0x04, 0x01, 0x01, 0x89, 0xC3, 0xFA, 0xFF, 0xFF};
}

void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

// The bytes of a stream handed out a few at a time, so that packets and
// their headers cross the demultiplexer's reads.
class ChunkInput : public DecoderInput {
public:
    ChunkInput(Bytes bytes, int chunk) : bytes_(std::move(bytes)), chunk_(chunk) {}
    int open(const std::vector<std::string>&, bool, int, int, int, bool,
             const std::string&) override {
        return 1;
    }
    int reopen() override { return 1; }
    int seek(int64_t) override { return position_ = 0; }
    int read(uint8_t* destination, int length) override {
        const size_t n = std::min({size_t(length), size_t(chunk_), bytes_.size() - position_});
        std::copy_n(bytes_.data() + position_, n, destination);
        position_ += n;
        return int(n);
    }
    int close() override { return 0; }
    int64_t currentSector() const override { return 0; }
    int64_t sectorsBefore() const override { return 0; }
    int64_t fileSectors(int) const override { return 0; }
    int fileIndex() const override { return 0; }

private:
    Bytes bytes_;
    int chunk_;
    size_t position_ = 0;
};

struct Seen {
    uint8_t streamId, subStream;
    bool hasPts;
    uint64_t pts;
    Bytes payload;
};

// Takes video stream 0 in place, every private stream 1 and MPEG audio
// packet as payload; stops after `stopAfter` payloads.
class RecordingSink : public PacketSink {
public:
    std::vector<Seen> packets;
    std::vector<std::pair<int, int>> navigation_;
    size_t stopAfter = 1000;

    bool goOn() override { return packets.size() < stopAfter; }
    bool wantsStream(uint8_t id) override {
        return id == ps::kVideoFirst || id == ps::kPrivateStream1 || ps::isMpegAudioStream(id);
    }
    Take take(const DemuxPacket& p) override {
        if (p.streamId == ps::kVideoFirst) {
            videoPts.push_back(p.header.hasPts ? int64_t(p.header.pts) : -1);
            return Take::Video;
        }
        return Take::Payload;
    }
    void payload(const DemuxPacket& p, const uint8_t* data, size_t length) override {
        packets.push_back(
            {p.streamId, p.subStream, p.header.hasPts, p.header.pts, Bytes(data, data + length)});
    }
    void navigation(int vob, int cell) override { navigation_.emplace_back(vob, cell); }
    std::vector<int64_t> videoPts;
};

Bytes readAllVideo(ProgramStreamDemux& demux) {
    Bytes video;
    while (demux.moreVideo()) {
        video.insert(video.end(), demux.cursor, demux.videoEnd);
        demux.cursor = demux.videoEnd;
    }
    return video;
}

TEST(PesHeader, BothFormsAndTheirTimeStamps) {
    // MPEG-2 form: the header data length counts the fields after it.
    Bytes h = mpeg2Header(true, 0x1'2345'6789ull);
    h.push_back(0xAB);  // one more byte the length does not count
    h[2] = 6;
    size_t need = ps::pesHeaderNeeds(h.data(), 1);
    EXPECT_EQ(need, 3u);
    need = ps::pesHeaderNeeds(h.data(), need);
    EXPECT_EQ(need, 9u);
    ps::PesHeader r = ps::readPesHeader(h.data(), need);
    EXPECT_FALSE(r.mpeg1);
    EXPECT_TRUE(r.hasPts);
    EXPECT_EQ(r.pts, 0x1'2345'6789ull);
    // A PTS flag with too short a header data length carries no time stamp.
    h[2] = 4;
    EXPECT_FALSE(ps::readPesHeader(h.data(), 7).hasPts);

    // MPEG-1 form: stuffing, STD buffer, PTS and DTS.
    Bytes m1{0xFF, 0xFF, 0xFF, 0x40 | 0x20, 0x00};
    append(m1, ptsField(90000, 0x30));
    append(m1, ptsField(87000, 0x10));
    size_t have = 0;
    while ((need = ps::pesHeaderNeeds(m1.data(), have)) > have) have = need;
    EXPECT_EQ(have, m1.size());
    r = ps::readPesHeader(m1.data(), have);
    EXPECT_TRUE(r.mpeg1);
    EXPECT_TRUE(r.hasPts);
    EXPECT_EQ(r.pts, 90000u);
    // No time stamp: the one byte 0000 1111.
    const Bytes none{0x0F};
    EXPECT_EQ(ps::pesHeaderNeeds(none.data(), 1), 1u);
    EXPECT_FALSE(ps::readPesHeader(none.data(), 1).hasPts);
    // At most 16 stuffing bytes are taken as such.
    Bytes stuffed(20, 0xFF);
    have = 0;
    while ((need = ps::pesHeaderNeeds(stuffed.data(), have)) > have) have = need;
    EXPECT_EQ(have, 17u);
}

// A stream of three packs whose packets cross the reads: the video of two
// packets comes out joined in place, the audio, sub-picture and MPEG audio
// payloads whole with their sub-stream and time stamp; garbage between
// packets, a padding packet and a scrambled packet are passed over; the
// navigation pack's second private stream 2 packet gives the DSI's ids.
TEST(ProgramStreamDemux, WalksPacketsAcrossReads) {
    Bytes stream = packHeader();
    Bytes pci(980, 0x00), dsi(1018, 0x00);
    dsi[0] = ps::kNavDsi;
    dsi[ps::kDsiVobIdOffset] = 0x01;
    dsi[ps::kDsiVobIdOffset + 1] = 0x02;
    dsi[ps::kDsiCellIdOffset] = 7;
    append(stream, pesPacket(ps::kPrivateStream2, {}, pci));
    append(stream, pesPacket(ps::kPrivateStream2, {}, dsi));
    append(stream, packHeader());
    append(stream, pesPacket(ps::kVideoFirst, mpeg2Header(true, 3600), {1, 2, 3, 4, 5}));
    append(stream, pesPacket(ps::kPrivateStream1, mpeg2Header(true, 1800), {0x81, 9, 9, 9, 42}));
    stream.insert(stream.end(), {0x12, 0x00, 0x00, 0x13});  // damage
    append(stream, pesPacket(ps::kPaddingStream, {}, Bytes(20, 0xFF)));
    Bytes scrambled = mpeg2Header(false, 0, 0x81 | 0x10);
    append(stream, pesPacket(ps::kPrivateStream1, scrambled, {0x80, 1, 1, 1, 1}));
    append(stream, packHeader());
    append(stream, pesPacket(ps::kPrivateStream1, mpeg2Header(false), {0x22, 5, 6}));
    append(stream, pesPacket(ps::kVideoFirst, mpeg2Header(false), {6, 7}));
    Bytes mpeg1Audio{0x21, 0, 1, 0, 1};  // MPEG-1 form: PTS only
    append(stream, pesPacket(ps::kMpegAudioFirst + 2, mpeg1Audio, {0xFF, 0xFD}));

    for (int chunk : {4096, 7, 1}) {
        SCOPED_TRACE(chunk);
        ChunkInput input(stream, chunk);
        RecordingSink sink;
        ProgramStreamDemux demux(sink);
        demux.setInput(&input);
        demux.setSystemStream(true);
        demux.restart();
        EXPECT_EQ(readAllVideo(demux), (Bytes{1, 2, 3, 4, 5, 6, 7}));
        EXPECT_TRUE(demux.inputEnded());
        EXPECT_EQ(demux.endStatus(), DecodeStatus::EndOfInput);
        EXPECT_EQ(sink.videoPts, (std::vector<int64_t>{3600, -1}));
        ASSERT_EQ(sink.navigation_.size(), 1u);
        EXPECT_EQ(sink.navigation_[0], (std::pair<int, int>{0x0102, 7}));
        ASSERT_EQ(sink.packets.size(), 3u);
        EXPECT_EQ(sink.packets[0].subStream, 0x81);
        EXPECT_TRUE(sink.packets[0].hasPts);
        EXPECT_EQ(sink.packets[0].pts, 1800u);
        EXPECT_EQ(sink.packets[0].payload, (Bytes{9, 9, 9, 42}));
        EXPECT_EQ(sink.packets[1].subStream, 0x22);
        EXPECT_FALSE(sink.packets[1].hasPts);
        EXPECT_EQ(sink.packets[1].payload, (Bytes{5, 6}));
        EXPECT_EQ(sink.packets[2].streamId, ps::kMpegAudioFirst + 2);
        EXPECT_EQ(sink.packets[2].payload, (Bytes{0xFF, 0xFD}));
    }
}

// A raw video stream is all video bytes; a sink that says stop ends the
// walk before the next packet, and a cut-off last packet gives what is there.
TEST(ProgramStreamDemux, RawVideoStopAndCutOffPacket) {
    const Bytes raw{0x00, 0x00, 0x01, 0xB3, 1, 2, 3};
    ChunkInput rawInput(raw, 3);
    RecordingSink sink;
    ProgramStreamDemux demux(sink);
    demux.setInput(&rawInput);
    demux.setSystemStream(false);
    demux.restart();
    EXPECT_EQ(readAllVideo(demux), raw);

    Bytes stream = packHeader();
    append(stream, pesPacket(ps::kPrivateStream1, mpeg2Header(false), {0xA0, 1}));
    append(stream, pesPacket(ps::kPrivateStream1, mpeg2Header(false), {0xA0, 2}));
    append(stream, pesPacket(ps::kVideoFirst, mpeg2Header(false), {1, 2, 3, 4}));
    stream.resize(stream.size() - 2);
    ChunkInput input(stream, 4096);
    sink.stopAfter = 1;
    demux.setInput(&input);
    demux.setSystemStream(true);
    demux.restart();
    EXPECT_FALSE(demux.moreVideo());
    EXPECT_EQ(sink.packets.size(), 1u);
    EXPECT_FALSE(demux.inputEnded());
    sink.stopAfter = 1000;
    EXPECT_EQ(readAllVideo(demux), (Bytes{1, 2}));
    EXPECT_EQ(sink.packets.size(), 2u);
}

}  // namespace
}  // namespace zembra
