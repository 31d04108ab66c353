#pragma once
// Builds title set IFO files byte by byte, for cases no authoring tool makes
// (angle blocks, damaged tables, odd stream layouts).

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace zembra::testing {

struct IfoCell {
    int blockMode = 0;  // 0 none, 1 first, 2 inside, 3 last
    uint32_t first = 0, last = 0;
    uint16_t vobId = 1;
    uint8_t cellId = 1;
    std::array<uint8_t, 4> time{0x00, 0x00, 0x01, 0x40};  // 1 s at 25 fps
};

struct IfoPgc {
    std::array<uint8_t, 4> time{0x00, 0x00, 0x12, 0x40};
    std::vector<uint8_t> programMap{1};
    std::vector<IfoCell> cells;
    std::array<uint8_t, 8> audioControl{};  // byte 0 of each entry
    std::array<std::array<uint8_t, 4>, 32> subControl{};
    std::array<std::array<uint8_t, 4>, 16> clut{};
};

struct IfoSpec {
    uint8_t videoFlags = 0;
    std::vector<std::array<uint8_t, 8>> audioAttrs;  // coding<<5, channels-1, lang
    std::vector<std::array<uint8_t, 6>> subAttrs;
    std::vector<IfoPgc> pgcs;
    size_t padTableTo = 0;  // grow the program chain table to at least this size
};

inline void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v >> 8);
    b[at + 1] = uint8_t(v);
}
inline void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v >> 24);
    b[at + 1] = uint8_t(v >> 16);
    b[at + 2] = uint8_t(v >> 8);
    b[at + 3] = uint8_t(v);
}

inline std::array<uint8_t, 8> audioAttr(int coding, int channels, const char* lang) {
    return {uint8_t(coding << 5),
            uint8_t(channels - 1),
            uint8_t(lang[0]),
            uint8_t(lang[1]),
            0,
            0,
            0,
            0};
}
inline std::array<uint8_t, 6> subAttr(const char* lang) {
    return {0, 0, uint8_t(lang[0]), uint8_t(lang[1]), 0, 0};
}

inline std::vector<uint8_t> buildIfo(const IfoSpec& spec) {
    std::vector<uint8_t> table;
    size_t n = spec.pgcs.size();
    size_t pos = 8 + 8 * n;
    std::vector<size_t> offsets;
    std::vector<std::vector<uint8_t>> bodies;
    for (const auto& pgc : spec.pgcs) {
        size_t cells = pgc.cells.size();
        size_t mapAt = 0xEC;
        size_t playAt = mapAt + ((pgc.programMap.size() + 1) & ~size_t(1));
        size_t posAt = playAt + 24 * cells;
        std::vector<uint8_t> b(posAt + 4 * cells, 0);
        b[2] = uint8_t(pgc.programMap.size());
        b[3] = uint8_t(cells);
        std::memcpy(&b[4], pgc.time.data(), 4);
        for (int a = 0; a < 8; ++a) b[0x0C + 2 * a] = pgc.audioControl[size_t(a)];
        for (int s = 0; s < 32; ++s)
            std::memcpy(&b[0x1C + 4 * s], pgc.subControl[size_t(s)].data(), 4);
        for (int c = 0; c < 16; ++c) std::memcpy(&b[0xA4 + 4 * c], pgc.clut[size_t(c)].data(), 4);
        put16(b, 0xE6, uint32_t(mapAt));
        put16(b, 0xE8, cells ? uint32_t(playAt) : 0);
        put16(b, 0xEA, cells ? uint32_t(posAt) : 0);
        for (size_t k = 0; k < pgc.programMap.size(); ++k) b[mapAt + k] = pgc.programMap[k];
        for (size_t c = 0; c < cells; ++c) {
            const IfoCell& cell = pgc.cells[c];
            size_t at = playAt + 24 * c;
            b[at] = uint8_t(cell.blockMode << 6);
            std::memcpy(&b[at + 4], cell.time.data(), 4);
            put32(b, at + 8, cell.first);
            put32(b, at + 20, cell.last);
            put16(b, posAt + 4 * c, cell.vobId);
            b[posAt + 4 * c + 3] = cell.cellId;
        }
        offsets.push_back(pos);
        pos += b.size();
        bodies.push_back(std::move(b));
    }
    size_t tableLength = std::max(pos, spec.padTableTo);
    table.assign(tableLength, 0);
    put16(table, 0, uint32_t(n));
    put32(table, 4, uint32_t(tableLength - 1));
    for (size_t i = 0; i < n; ++i) {
        put32(table, 12 + 8 * i, uint32_t(offsets[i]));
        std::memcpy(&table[offsets[i]], bodies[i].data(), bodies[i].size());
    }

    std::vector<uint8_t> ifo(2048, 0);
    std::memcpy(ifo.data(), "DVDVIDEO-VTS", 12);
    put32(ifo, 0xCC, 1);
    ifo[0x200] = spec.videoFlags;
    put16(ifo, 0x202, uint32_t(spec.audioAttrs.size()));
    for (size_t a = 0; a < spec.audioAttrs.size() && a < 8; ++a)
        std::memcpy(&ifo[0x204 + 8 * a], spec.audioAttrs[a].data(), 8);
    put16(ifo, 0x254, uint32_t(spec.subAttrs.size()));
    for (size_t s = 0; s < spec.subAttrs.size() && s < 32; ++s)
        std::memcpy(&ifo[0x256 + 6 * s], spec.subAttrs[s].data(), 6);
    ifo.insert(ifo.end(), table.begin(), table.end());
    ifo.resize((ifo.size() + 2047) / 2048 * 2048, 0);
    return ifo;
}

}  // namespace zembra::testing
