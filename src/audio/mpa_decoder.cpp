#include "audio/mpa_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "mpeg/audio_tables.h"

namespace zembra {

namespace {

constexpr int kWindowHalf[257] = {
#include "audio/mpa_window.inc"
};

// Allocation rows: bits of the allocation field and the class of each value.
struct AllocRow {
    int nbal;
    int8_t cls[16];
};
constexpr AllocRow kRowA0 = {4, {-1, 0, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
constexpr AllocRow kRowA1 = {4, {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 16}};
constexpr AllocRow kRowA2 = {3, {-1, 0, 1, 2, 3, 4, 5, 16}};
constexpr AllocRow kRowA3 = {2, {-1, 0, 1, 16}};
constexpr AllocRow kRowC0 = {4, {-1, 0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}};
constexpr AllocRow kRowC1 = {3, {-1, 0, 1, 3, 4, 5, 6, 7}};
constexpr AllocRow kRowL0 = {4, {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}};
constexpr AllocRow kRowL2 = {2, {-1, 0, 1, 3}};

struct AllocTable {
    int sblimit;
    const AllocRow* rows[32];
};

struct AllocTables {
    AllocTable t[5] = {};
    AllocTables() {
        t[0].sblimit = 27;  // high rate, 48 kHz or 56-80 kbit/s a channel
        t[1].sblimit = 30;  // high rate, 44.1 and 32 kHz
        for (int i = 0; i < 2; ++i)
            for (int sb = 0; sb < 30; ++sb)
                t[i].rows[sb] = sb < 3 ? &kRowA0 : sb < 11 ? &kRowA1 : sb < 23 ? &kRowA2 : &kRowA3;
        t[2].sblimit = 8;   // low rate, 44.1 and 48 kHz
        t[3].sblimit = 12;  // low rate, 32 kHz
        for (int i = 2; i < 4; ++i)
            for (int sb = 0; sb < 12; ++sb) t[i].rows[sb] = sb < 2 ? &kRowC0 : &kRowC1;
        t[4].sblimit = 30;  // half-rate extension
        for (int sb = 0; sb < 30; ++sb)
            t[4].rows[sb] = sb < 4 ? &kRowL0 : sb < 11 ? &kRowC1 : &kRowL2;
    }
};

const AllocTable& allocTable(int index) {
    static const AllocTables tables;
    return tables.t[index];
}

struct Tables {
    float window[512];
    float matrix[64][32];
    double scale[64];
    Tables() {
        for (int i = 0; i <= 256; ++i) window[i] = float(kWindowHalf[i] / 65536.0);
        // The window is symmetric about 256 apart from the sign that flips
        // between 64-sample blocks.
        for (int i = 257; i < 512; ++i) {
            int j = 512 - i;
            int sign = (j % 64 == 0) ? 1 : -1;
            window[i] = float(sign * kWindowHalf[j] / 65536.0);
        }
        for (int i = 0; i < 64; ++i)
            for (int k = 0; k < 32; ++k)
                matrix[i][k] = float(std::cos((16 + i) * (2 * k + 1) * M_PI / 64.0));
        for (int i = 0; i < 63; ++i) scale[i] = 2.0 * std::pow(2.0, -i / 3.0);
        scale[63] = 0;  // invalid index: silence rather than garbage
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

struct BitReader {
    const uint8_t* data;
    int bitCount;
    int pos = 0;
    bool overrun = false;
    uint32_t get(int n) {
        if (n == 0) return 0;
        if (pos + n > bitCount) {
            overrun = true;
            pos = bitCount;
            return 0;
        }
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++pos) v = (v << 1) | ((data[pos >> 3] >> (7 - (pos & 7))) & 1);
        return v;
    }
};

}  // namespace

bool parseMpaHeader(uint32_t word, MpaHeader& h) {
    if ((word >> 20) != 0xfff) return false;
    int layerCode = (word >> 17) & 3;
    int bitrateIndex = (word >> 12) & 15;
    int rateCode = (word >> 10) & 3;
    if (layerCode == 0 || bitrateIndex == 15 || rateCode == 3) return false;
    h.version = (word >> 19) & 1 ? 1 : 2;
    h.layer = 4 - layerCode;
    h.crc = !((word >> 16) & 1);
    h.bitrateIndex = bitrateIndex;
    h.bitrate = mpeg::kAudioBitrateKbps[h.version - 1][h.layer - 1][bitrateIndex];
    h.sampleRate = mpeg::kAudioSampleRates[h.version - 1][rateCode];
    h.padding = (word >> 9) & 1;
    h.mode = (word >> 6) & 3;
    h.modeExtension = (word >> 4) & 3;
    return true;
}

int MpaHeader::frameBytes() const {
    if (bitrate == 0) return 0;  // free format: length unknown
    if (layer == 1) return 4 * (12000 * bitrate / sampleRate) + (padding ? 4 : 0);
    // Only Layer III halves its frame at the half rates; Layer II keeps 1152
    // samples a frame there too.
    int factor = (layer == 3 && version == 2) ? 72000 : 144000;
    return factor * bitrate / sampleRate + (padding ? 1 : 0);
}

int MpaHeader::samplesPerFrame() const {
    if (layer == 1) return 384;
    return (layer == 3 && version == 2) ? 576 : 1152;
}

void MpaDecoder::start() {
    have_ = need_ = 0;
    shift_ = 0;
    shiftCount_ = 0;
    framesDecoded_ = 0;
    std::memset(v_, 0, sizeof(v_));
    slot_[0] = slot_[1] = 0;
    (void)tables();
}

int MpaDecoder::decodeNext(const uint8_t*& data, size_t& length, int16_t* out, int& sampleRate) {
    while (length > 0) {
        if (need_ == 0) {
            shift_ = (shift_ << 8) | *data++;
            --length;
            if (++shiftCount_ < 4) continue;
            MpaHeader h;
            if (!parseMpaHeader(shift_, h)) continue;
            int bytes = h.frameBytes();
            if (bytes < 4 + (h.crc ? 2 : 0) || bytes > kMaxFrameBytes) continue;
            header_ = h;
            need_ = bytes;
            for (int i = 0; i < 4; ++i) frame_[i] = uint8_t(shift_ >> (24 - 8 * i));
            have_ = 4;
            continue;
        }
        size_t take = std::min<size_t>(size_t(need_ - have_), length);
        std::memcpy(frame_.data() + have_, data, take);
        have_ += int(take);
        data += take;
        length -= take;
        if (have_ < need_) break;
        shift_ = 0;
        shiftCount_ = 0;
        int samples = header_.layer == 3 ? 0 : decodeFrame(out);  // Layer III is not decoded
        need_ = 0;
        if (samples > 0) {
            ++framesDecoded_;
            sampleRate = header_.sampleRate;
            return samples;
        }
    }
    return 0;
}

int MpaDecoder::decodeFrame(int16_t* out) {
    return header_.layer == 1 ? decodeLayer1(out) : decodeLayer2(out);
}

int MpaDecoder::decodeLayer1(int16_t* out) {
    const Tables& t = tables();
    BitReader b{frame_.data(), need_ * 8};
    b.pos = 32 + (header_.crc ? 16 : 0);
    const int nch = header_.channels();
    const int bound = header_.mode == 1 ? (header_.modeExtension + 1) * 4 : 32;
    int alloc[2][32] = {}, scf[2][32] = {};
    for (int sb = 0; sb < 32; ++sb)
        for (int ch = 0; ch < (sb < bound ? nch : 1); ++ch) {
            alloc[ch][sb] = int(b.get(4));
            if (alloc[ch][sb] == 15) return 0;
            if (sb >= bound) alloc[1][sb] = alloc[0][sb];
        }
    for (int sb = 0; sb < 32; ++sb)
        for (int ch = 0; ch < nch; ++ch)
            if (alloc[ch][sb]) scf[ch][sb] = int(b.get(6));
    float samples[2][32];
    for (int s = 0; s < 12; ++s) {
        for (int sb = 0; sb < 32; ++sb) {
            for (int ch = 0; ch < nch; ++ch) {
                if (sb >= bound && ch == 1) {
                    int a = alloc[0][sb];
                    samples[1][sb] = a ? samples[1][sb] : 0.0f;
                    continue;
                }
                int a = alloc[ch][sb];
                if (!a) {
                    samples[ch][sb] = 0;
                    if (sb >= bound && nch == 2) samples[1][sb] = 0;
                    continue;
                }
                int nb = a + 1, levels = (1 << nb) - 1;
                int code = int(b.get(nb));
                double value = double(2 * code - (levels - 1)) / levels;
                samples[ch][sb] = float(value * t.scale[scf[ch][sb]]);
                if (sb >= bound && nch == 2) samples[1][sb] = float(value * t.scale[scf[1][sb]]);
            }
        }
        if (b.overrun) return 0;
        for (int ch = 0; ch < nch; ++ch) synthesis(ch, samples[ch], out + s * 64 + ch, 2);
        if (nch == 1)
            for (int i = 0; i < 32; ++i) out[s * 64 + 2 * i + 1] = out[s * 64 + 2 * i];
    }
    return 384;
}

int MpaDecoder::decodeLayer2(int16_t* out) {
    const Tables& t = tables();
    BitReader b{frame_.data(), need_ * 8};
    b.pos = 32 + (header_.crc ? 16 : 0);
    const int nch = header_.channels();

    int table;
    if (header_.version == 2) {
        table = 4;
    } else {
        int perChannel = header_.bitrate / nch;
        if (perChannel <= 48)
            table = header_.sampleRate == 32000 ? 3 : 2;
        else if (header_.sampleRate == 48000 || perChannel <= 80)
            table = 0;
        else
            table = 1;
    }
    const AllocTable& at = allocTable(table);
    const int sblimit = at.sblimit;
    const int bound =
        header_.mode == 1 ? std::min((header_.modeExtension + 1) * 4, sblimit) : sblimit;

    int cls[2][32];
    for (int sb = 0; sb < sblimit; ++sb) {
        const AllocRow& row = *at.rows[sb];
        for (int ch = 0; ch < (sb < bound ? nch : 1); ++ch) cls[ch][sb] = row.cls[b.get(row.nbal)];
        if (sb >= bound) cls[1][sb] = cls[0][sb];
    }
    int scfsi[2][32] = {};
    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < nch; ++ch)
            if (cls[ch][sb] >= 0) scfsi[ch][sb] = int(b.get(2));
    int scf[2][32][3] = {};
    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < nch; ++ch) {
            if (cls[ch][sb] < 0) continue;
            int* s = scf[ch][sb];
            switch (scfsi[ch][sb]) {
                case 0:
                    s[0] = int(b.get(6)), s[1] = int(b.get(6)), s[2] = int(b.get(6));
                    break;
                case 1:
                    s[0] = s[1] = int(b.get(6)), s[2] = int(b.get(6));
                    break;
                case 2:
                    s[0] = s[1] = s[2] = int(b.get(6));
                    break;
                default:
                    s[0] = int(b.get(6)), s[1] = s[2] = int(b.get(6));
                    break;
            }
        }
    if (b.overrun) return 0;

    float samples[2][3][32];
    for (int gr = 0; gr < 12; ++gr) {
        const int part = gr / 4;
        for (int sb = 0; sb < 32; ++sb) {
            for (int ch = 0; ch < nch; ++ch) {
                if (sb >= sblimit || cls[ch][sb] < 0) {
                    for (int k = 0; k < 3; ++k) samples[ch][k][sb] = 0;
                    continue;
                }
                if (sb >= bound && ch == 1) continue;  // filled with channel 0's codes
                const mpeg::QuantClass& q =
                    mpeg::kLayer2Classes[cls[ch][sb] + 1];  // rows count from class 1
                int codes[3];
                if (q.grouped) {
                    int cw = int(b.get(q.bits));
                    for (int k = 0; k < 3; ++k) codes[k] = cw % q.levels, cw /= q.levels;
                } else {
                    for (int k = 0; k < 3; ++k) codes[k] = int(b.get(q.bits));
                }
                for (int k = 0; k < 3; ++k) {
                    double value = double(2 * codes[k] - (q.levels - 1)) / q.levels;
                    samples[ch][k][sb] = float(value * t.scale[scf[ch][sb][part]]);
                    if (sb >= bound && nch == 2)
                        samples[1][k][sb] = float(value * t.scale[scf[1][sb][part]]);
                }
            }
        }
        if (b.overrun) return 0;
        for (int k = 0; k < 3; ++k) {
            int16_t* o = out + (gr * 3 + k) * 64;
            for (int ch = 0; ch < nch; ++ch) synthesis(ch, samples[ch][k], o + ch, 2);
            if (nch == 1)
                for (int i = 0; i < 32; ++i) o[2 * i + 1] = o[2 * i];
        }
    }
    return 1152;
}

void MpaDecoder::synthesis(int ch, const float* s, int16_t* out, int stride) {
    const Tables& t = tables();
    int slot = slot_[ch] = (slot_[ch] + 15) & 15;  // newest V goes into a fresh slot
    float* v = v_[ch][slot];
    for (int i = 0; i < 64; ++i) {
        float sum = 0;
        for (int k = 0; k < 32; ++k) sum += t.matrix[i][k] * s[k];
        v[i] = sum;
    }
    for (int j = 0; j < 32; ++j) {
        float sum = 0;
        for (int i = 0; i < 8; ++i) {
            const float* even = v_[ch][(slot + 2 * i) & 15];
            const float* odd = v_[ch][(slot + 2 * i + 1) & 15];
            sum += even[j] * t.window[64 * i + j] + odd[32 + j] * t.window[64 * i + 32 + j];
        }
        float r = std::nearbyint(sum * 32768.0f);
        out[j * stride] = int16_t(std::clamp(r, -32768.0f, 32767.0f));
    }
}

}  // namespace zembra
