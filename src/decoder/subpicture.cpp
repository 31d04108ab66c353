#include "decoder/subpicture.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"

namespace zembra {
namespace {

// Reads the run-length data nibble by nibble; past `limit` it yields nothing
// and remembers that the data ran out.
struct NibbleReader {
    const uint8_t* data;
    size_t pos;    // in nibbles
    size_t limit;  // in nibbles
    bool exhausted = false;

    unsigned next() {
        if (pos >= limit) {
            exhausted = true;
            return 0;
        }
        const uint8_t b = data[pos / 2];
        const unsigned n = (pos % 2 == 0) ? (b >> 4) : (b & 15);
        ++pos;
        return n;
    }
    void alignToByte() { pos = (pos + 1) & ~size_t(1); }
};

}  // namespace

void Subpicture::open(int width, int height, const SubpictureSettings& settings) {
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    settings_ = settings;
    const size_t n = size_t(width_) * size_t(height_);
    y_.assign(n, 0);
    cb_.assign(n, 128);
    cr_.assign(n, 128);
    alpha_.assign(n, 0);
    units_ = 0;
    reset();
}

void Subpicture::reset() {
    assembly_.clear();
    start_ = 0.0;
    end_ = -1.0;
    top_ = bottom_ = -1;
    std::fill(alpha_.begin(), alpha_.end(), uint8_t(0));
}

void Subpicture::subpictureAddPayload(const uint8_t* data, size_t count, double timeBase) {
    if (!data || count == 0) return;
    assembly_.insert(assembly_.end(), data, data + count);
    while (assembly_.size() >= 2) {
        const size_t total = readBe16(assembly_.data());
        if (total < 4) {
            // Not the start of a unit (damaged stream): nothing to resync on.
            assembly_.clear();
            return;
        }
        if (assembly_.size() < total) return;
        decodeUnit(assembly_.data(), total, timeBase);
        // Whatever followed belongs to the next unit.
        assembly_.erase(assembly_.begin(), assembly_.begin() + std::ptrdiff_t(total));
    }
}

void Subpicture::decodeUnit(const uint8_t* unit, size_t size, double timeBase) {
    const size_t control = readBe16(unit + 2);
    if (control < 4 || control + 4 > size) return;

    size_t fieldOffset[2] = {0, 0};
    bool haveFields = false;
    bool haveEnd = false;
    size_t seq = control;
    for (bool first = true;; first = false) {
        const unsigned delay = readBe16(unit + seq);
        const size_t next = readBe16(unit + seq + 2);
        if (first) {
            start_ = timeBase + delay / 88.0;
        } else {
            end_ = timeBase + delay / 88.0 + 0.3;
            haveEnd = true;
        }
        size_t p = seq + 4;
        while (p < size && unit[p] != 0xFF) {
            const uint8_t cmd = unit[p++];
            if (cmd == 3 || cmd == 4) {
                if (p + 2 > size) break;
                auto& sel = cmd == 3 ? colour_ : contrast_;
                // The first nibble belongs to pixel code 3, the last to code 0.
                sel[3] = unit[p] >> 4;
                sel[2] = unit[p] & 15;
                sel[1] = unit[p + 1] >> 4;
                sel[0] = unit[p + 1] & 15;
                p += 2;
            } else if (cmd == 5) {
                if (p + 6 > size) break;
                const uint8_t* a = unit + p;
                areaLeft_ = int(a[0]) << 4 | a[1] >> 4;
                areaRight_ = int(a[1] & 15) << 8 | a[2];
                areaTop_ = int(a[3]) << 4 | a[4] >> 4;
                areaBottom_ = int(a[4] & 15) << 8 | a[5];
                p += 6;
            } else if (cmd == 6) {
                if (p + 4 > size) break;
                fieldOffset[0] = readBe16(unit + p);
                fieldOffset[1] = readBe16(unit + p + 2);
                haveFields = true;
                p += 4;
            } else if (cmd == 7) {
                // Colour/contrast change table: skipped whole by its own length.
                if (p + 2 > size) break;
                p += std::max<size_t>(readBe16(unit + p), 2);
            }
            // Other commands (forced start, start, stop) carry no data.
        }
        // The walk ends at a sequence pointing to itself; a link backwards
        // would loop and is taken as the end too.
        if (next <= seq || next + 4 > size) break;
        seq = next;
    }
    // A unit without a stop sequence stays up until the next one replaces it.
    if (!haveEnd) end_ = std::numeric_limits<double>::infinity();

    useTitlePalette_ = settings_.subColor && settings_.titlePalette;
    if (useTitlePalette_) {
        palette_ = *settings_.titlePalette;
    } else {
        palette_[0] = {0, 128, 128};
        for (int i = 1; i < 16; ++i) palette_[size_t(i)] = {255, 128, 128};
    }

    std::fill(alpha_.begin(), alpha_.end(), uint8_t(0));
    top_ = bottom_ = -1;
    ++units_;
    if (!haveFields || areaRight_ < areaLeft_ || areaBottom_ < areaTop_) return;
    decodeField(unit, size, fieldOffset[0], areaTop_);
    decodeField(unit, size, fieldOffset[1], areaTop_ + 1);
}

void Subpicture::decodeField(const uint8_t* unit, size_t size, size_t offset, int firstRow) {
    if (offset >= size) return;
    NibbleReader in{unit, offset * 2, size * 2};
    const int lineWidth = areaRight_ - areaLeft_ + 1;
    int carry = 0;  // part of a run that overran the previous line

    for (int row = firstRow; row <= areaBottom_ && !in.exhausted; row += 2) {
        int x = std::min(carry, lineWidth);
        carry -= x;
        while (x < lineWidth) {
            unsigned code = in.next();
            if (code < 4) {
                if (code != 0) {
                    code = code << 4 | in.next();  // 8-bit code
                } else {
                    const unsigned second = in.next();
                    if (second >= 4) {
                        code = second << 4 | in.next();  // 12-bit code
                    } else {
                        code = second << 8;
                        code |= in.next() << 4;
                        code |= in.next();  // 16-bit code
                        // 0, 0, x, x: the rest of the line in the code's colour.
                        if (second == 0) code &= 3;
                    }
                }
            }
            if (in.exhausted) break;
            const unsigned pixel = code & 3;
            int run = int(code >> 2);
            if (run == 0) run = lineWidth - x;  // to the end of the line
            const int drawn = std::min(run, lineWidth - x);
            carry = run - drawn;

            const uint8_t a = uint8_t(contrast_[pixel] * 16);
            if (a != 0 && row >= 0 && row < height_) {
                // Without the title's colours the pattern pixels are white and the
                // background black, whichever palette entries the unit picked:
                // discs do draw text with entry 0.
                const auto& c = palette_[useTitlePalette_ ? colour_[pixel] : (pixel ? 1 : 0)];
                const int x0 = std::max(areaLeft_ + x, 0);
                const int x1 = std::min(areaLeft_ + x + drawn, width_);
                if (x0 < x1) {
                    const size_t at = index(x0, row), n = size_t(x1 - x0);
                    std::memset(&alpha_[at], a, n);
                    std::memset(&y_[at], c[0], n);
                    std::memset(&cr_[at], c[1], n);
                    std::memset(&cb_[at], c[2], n);
                    if (top_ < 0 || row < top_) top_ = row;
                    if (row > bottom_) bottom_ = row;
                }
            }
            x += drawn;
        }
        in.alignToByte();
    }
}

bool Subpicture::covers(double time) const { return top_ >= 0 && start_ <= time && time <= end_; }

void Subpicture::overlaySubpicture(uint8_t* y, uint8_t* cb, uint8_t* cr,
                                   const PlaneLayout& layout) const {
    if (top_ < 0) return;
    const int height = layout.height;
    // Keep the subtitle at least 10 rows off both edges.
    int offset = settings_.subOffset;
    if (offset + bottom_ >= height - 10) offset = height - bottom_ - 10;
    if (offset + top_ <= 10) offset = 10 - top_;

    const int width = std::min(layout.width, width_);
    const int sx = layout.chromaFormat == 3 ? 0 : 1;
    const int sy = layout.chromaFormat == 1 ? 1 : 0;
    const int chromaTop = (top_ + offset) >> sy;
    for (int row = top_; row <= bottom_; ++row) {
        const int dst = row + offset;
        if (dst < 0 || dst >= height) continue;
        const uint8_t* a = &alpha_[index(0, row)];
        const uint8_t* sy_ = &y_[index(0, row)];
        uint8_t* py = y + size_t(dst) * size_t(layout.width);
        for (int x = 0; x < width; ++x) {
            if (a[x] == 0) continue;
            const float alpha = a[x] / 255.0f;
            py[x] = uint8_t(alpha * sy_[x] + (1.0f - alpha) * py[x]);
        }
        // Chroma: every second row from the first covered one (4:2:0), every
        // second column (4:2:0, 4:2:2).
        if (sy && (row - top_) % 2 != 0) continue;
        const int crow = sy ? chromaTop + (row - top_) / 2 : dst;
        if (crow < 0 || crow >= layout.chromaHeight) continue;
        uint8_t* pcb = cb + size_t(crow) * size_t(layout.chromaWidth);
        uint8_t* pcr = cr + size_t(crow) * size_t(layout.chromaWidth);
        const uint8_t* scb = &cb_[index(0, row)];
        const uint8_t* scr = &cr_[index(0, row)];
        for (int x = 0; x < width; x += 1 << sx) {
            const int cx = x >> sx;
            if (a[x] == 0 || cx >= layout.chromaWidth) continue;
            const float alpha = a[x] / 255.0f;
            pcb[cx] = uint8_t(alpha * scb[x] + (1.0f - alpha) * pcb[cx]);
            pcr[cx] = uint8_t(alpha * scr[x] + (1.0f - alpha) * pcr[cx]);
        }
    }
}

}  // namespace zembra
