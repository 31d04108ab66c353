// Portable bodies of the encoder kernels. Included into an anonymous
// namespace by kernels.cpp (plain build) and kernels_avx2.cpp (the same code
// compiled for AVX2 with vectorisation), so both give identical results.
// No include guard: each including file wants its own copy.

#include <cmath>
#include <cstdint>
#include <cstdlib>

struct DctTables {
    std::int32_t ci[8][8];  // integer basis, scaled by 2^14
    float cf[8][8];         // float basis for the inverse
    float aanScale[64];     // 1 / (8 c[i] c[j])
    DctTables() {
        const double pi = 3.14159265358979323846;
        for (int u = 0; u < 8; ++u) {
            double a = u == 0 ? std::sqrt(0.125) : 0.5;
            for (int x = 0; x < 8; ++x) {
                double c = a * std::cos((2 * x + 1) * u * pi / 16.0);
                ci[u][x] = static_cast<std::int32_t>(std::lround(c * 16384.0));
                cf[u][x] = static_cast<float>(c);
            }
        }
        static const double c[8] = {1.0, 1.387039845, 1.306562965, 1.175875602,
                                    1.0, 0.785694958, 0.5411961,   0.275899379};
        for (int i = 0; i < 8; ++i)
            for (int j = 0; j < 8; ++j)
                aanScale[i * 8 + j] = static_cast<float>(1.0 / (8.0 * c[i] * c[j]));
    }
};

inline const DctTables& dctTables() {
    static const DctTables t;
    return t;
}

inline int sad16Body(const std::uint8_t* a, const std::uint8_t* b, int stride, int limit) {
    int sum = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) sum += std::abs(a[x] - b[x]);
        if (sum > limit) return sum;
        a += stride;
        b += stride;
    }
    return sum;
}

inline int sad16PackedBody(const std::uint8_t* blk, const std::uint8_t* ref, int stride,
                           int limit) {
    int sum = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) sum += std::abs(blk[x] - ref[x]);
        if (sum > limit) return sum;
        blk += 16;
        ref += stride;
    }
    return sum;
}

inline int sad16HalfBody(const std::uint8_t* cur, const std::uint8_t* ref, int stride, int hx,
                         int hy) {
    int sum = 0;
    for (int y = 0; y < 16; ++y) {
        const std::uint8_t* r0 = ref + y * stride;
        const std::uint8_t* r1 = r0 + hy * stride;
        for (int x = 0; x < 16; ++x) {
            int p = (r0[x] + r0[x + hx] + r1[x] + r1[x + hx] + 2) >> 2;
            if (hx == 0 || hy == 0) p = (r0[x] + r1[x + hx] + 1) >> 1;
            sum += std::abs(cur[y * stride + x] - p);
        }
    }
    return sum;
}

inline int ssd16Body(const std::uint8_t* a, int stride, const std::uint8_t* pred) {
    int sum = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            int d = a[y * stride + x] - pred[y * 16 + x];
            sum += d * d;
        }
    return sum;
}

inline void blockSumsRowBody(std::uint16_t* col, const std::uint8_t* add, const std::uint8_t* sub,
                             int w, std::uint16_t* out) {
    if (add)
        for (int x = 0; x < w; ++x) col[x] = static_cast<std::uint16_t>(col[x] + add[x] - sub[x]);
    std::uint16_t t = 0;
    for (int x = 0; x < 8; ++x) t = static_cast<std::uint16_t>(t + col[x]);
    out[0] = t;
    for (int x = 1; x + 8 <= w; ++x) {
        t = static_cast<std::uint16_t>(t + col[x + 7] - col[x - 1]);
        out[x] = t;
    }
}

inline int sum8Body(const std::uint8_t* a, int stride) {
    int s = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) s += a[y * stride + x];
    return s;
}

inline std::uint64_t quarterBoundsBody(const std::uint16_t* sums, int stride, const int* quarters,
                                       int n, int limit, std::uint16_t* out) {
    const std::uint16_t* at[4] = {sums, sums + 8, sums + 8 * stride, sums + 8 * stride + 8};
    std::uint64_t within = 0;
    for (int i = 0; i < n; ++i) {
        int bound = 0;
        for (int q = 0; q < 4; ++q) bound += std::abs(quarters[q] - at[q][i]);
        out[i] = static_cast<std::uint16_t>(bound);
        if (bound <= limit) within |= std::uint64_t{1} << i;
    }
    return within;
}

inline int variance16Body(const std::uint8_t* a, int stride) {
    int s = 0, s2 = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            int v = a[y * stride + x];
            s += v;
            s2 += v * v;
        }
    // s * s passes 32 bits once the block's mean is above 181.
    return s2 - static_cast<int>(static_cast<long long>(s) * s / 256);
}

inline double variance8Body(const std::uint8_t* a, int stride) {
    int s = 0, s2 = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            int v = a[y * stride + x];
            s += v;
            s2 += v * v;
        }
    // s2/64 - (s/64)^2, exactly, from one integer.
    return (64 * s2 - s * s) / 4096.0;
}

inline void fdctIntBody(const std::int16_t* in, std::int16_t* out) {
    const DctTables& t = dctTables();
    std::int32_t tmp[64];
    // Rows, by the even/odd halves of each line; four fractional bits
    // survive into the column pass, which keeps every sum within 32 bits.
    for (int y = 0; y < 8; ++y) {
        const std::int16_t* x = in + y * 8;
        std::int32_t e[4], o[4];
        for (int k = 0; k < 4; ++k) {
            e[k] = x[k] + x[7 - k];
            o[k] = x[k] - x[7 - k];
        }
        for (int u = 0; u < 8; u += 2) {
            std::int32_t se = 0, so = 0;
            for (int k = 0; k < 4; ++k) {
                se += t.ci[u][k] * e[k];
                so += t.ci[u + 1][k] * o[k];
            }
            tmp[y * 8 + u] = (se + (1 << 9)) >> 10;
            tmp[y * 8 + u + 1] = (so + (1 << 9)) >> 10;
        }
    }
    for (int v = 0; v < 8; v += 2) {
        std::int32_t se[8] = {0, 0, 0, 0, 0, 0, 0, 0}, so[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        for (int k = 0; k < 4; ++k) {
            const std::int32_t ce = t.ci[v][k], co = t.ci[v + 1][k];
            for (int u = 0; u < 8; ++u) {
                const std::int32_t a = tmp[k * 8 + u], b = tmp[(7 - k) * 8 + u];
                se[u] += ce * (a + b);
                so[u] += co * (a - b);
            }
        }
        for (int u = 0; u < 8; ++u) {
            out[v * 8 + u] = static_cast<std::int16_t>((se[u] + (1 << 17)) >> 18);
            out[(v + 1) * 8 + u] = static_cast<std::int16_t>((so[u] + (1 << 17)) >> 18);
        }
    }
}

inline void fdctFloatBody(const std::int16_t* in, std::int16_t* out) {
    float d[64];
    for (int i = 0; i < 64; ++i) d[i] = in[i];
    for (int pass = 0; pass < 2; ++pass) {
        const int step = pass == 0 ? 1 : 8;  // element step
        const int next = pass == 0 ? 8 : 1;  // line step
        for (int l = 0; l < 8; ++l) {
            float* p = d + l * next;
            float tmp0 = p[0] + p[7 * step], tmp7 = p[0] - p[7 * step];
            float tmp1 = p[1 * step] + p[6 * step], tmp6 = p[1 * step] - p[6 * step];
            float tmp2 = p[2 * step] + p[5 * step], tmp5 = p[2 * step] - p[5 * step];
            float tmp3 = p[3 * step] + p[4 * step], tmp4 = p[3 * step] - p[4 * step];
            float tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3;
            float tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;
            p[0] = tmp10 + tmp11;
            p[4 * step] = tmp10 - tmp11;
            float z1 = (tmp12 + tmp13) * 0.707106781f;
            p[2 * step] = tmp13 + z1;
            p[6 * step] = tmp13 - z1;
            tmp10 = tmp4 + tmp5;
            tmp11 = tmp5 + tmp6;
            tmp12 = tmp6 + tmp7;
            float z5 = (tmp10 - tmp12) * 0.382683433f;
            float z2 = 0.541196100f * tmp10 + z5;
            float z4 = 1.306562965f * tmp12 + z5;
            float z3 = tmp11 * 0.707106781f;
            float z11 = tmp7 + z3, z13 = tmp7 - z3;
            p[5 * step] = z13 + z2;
            p[3 * step] = z13 - z2;
            p[1 * step] = z11 + z4;
            p[7 * step] = z11 - z4;
        }
    }
    const DctTables& t = dctTables();
    for (int i = 0; i < 64; ++i) {
        float v = d[i] * t.aanScale[i];
        out[i] = static_cast<std::int16_t>(v >= 0 ? static_cast<int>(v + 0.5f)
                                                  : -static_cast<int>(0.5f - v));
    }
}

inline void idctBody(std::int16_t* block) {
    const DctTables& t = dctTables();
    float tmp[64];
    // Columns, by even and odd coefficients: c[v][7 - y] = (-1)^v c[v][y], so
    // each pair of outputs y, 7 - y shares the two half sums.
    for (int y = 0; y < 4; ++y) {
        float e[8] = {0, 0, 0, 0, 0, 0, 0, 0}, o[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        for (int v = 0; v < 8; v += 2) {
            const float ce = t.cf[v][y], co = t.cf[v + 1][y];
            for (int u = 0; u < 8; ++u) {
                e[u] += ce * block[v * 8 + u];
                o[u] += co * block[(v + 1) * 8 + u];
            }
        }
        for (int u = 0; u < 8; ++u) {
            tmp[y * 8 + u] = e[u] + o[u];
            tmp[(7 - y) * 8 + u] = e[u] - o[u];
        }
    }
    for (int y = 0; y < 8; ++y) {
        const float* r = tmp + y * 8;
        for (int x = 0; x < 4; ++x) {
            float e = 0, o = 0;
            for (int u = 0; u < 8; u += 2) {
                e += t.cf[u][x] * r[u];
                o += t.cf[u + 1][x] * r[u + 1];
            }
            const float s0 = e + o, s1 = e - o;
            const int r0 = s0 >= 0 ? static_cast<int>(s0 + 0.5f) : -static_cast<int>(0.5f - s0);
            const int r1 = s1 >= 0 ? static_cast<int>(s1 + 0.5f) : -static_cast<int>(0.5f - s1);
            block[y * 8 + x] = static_cast<std::int16_t>(r0 < -256 ? -256 : r0 > 255 ? 255 : r0);
            block[y * 8 + 7 - x] = static_cast<std::int16_t>(r1 < -256  ? -256
                                                             : r1 > 255 ? 255
                                                                        : r1);
        }
    }
}

// The divisions below are done in double precision: every quotient is below
// 2^20 and at least 1/d away from the next integer when it is not one, so the
// truncated double quotient is the integer quotient, and the loops vectorise.
inline int quantIntraAcBody(const std::int16_t* in, std::int16_t* out, const std::uint8_t* w, int q,
                            int clip) {
    int any = 0;
    const int round = (3 * q + 2) / 4;
    const double q2 = 2.0 * q;
    for (int i = 1; i < 64; ++i) {
        int x = in[i];
        int ax = x < 0 ? -x : x;
        int t = static_cast<int>(double(32 * ax + (w[i] >> 1)) / double(w[i]));
        int y = static_cast<int>(double(t + round) / q2);
        if (y > clip) y = clip;
        out[i] = static_cast<std::int16_t>(x < 0 ? -y : y);
        any |= y;
    }
    return any;
}

inline int quantNonIntraBody(const std::int16_t* in, std::int16_t* out, const std::uint8_t* w,
                             int q, int clip) {
    int any = 0;
    for (int i = 0; i < 64; ++i) {
        int x = in[i];
        int ax = x < 0 ? -x : x;
        int y = static_cast<int>(double(32 * ax + (w[i] >> 1)) / double(2 * w[i] * q));
        if (y > clip) y = clip;
        out[i] = static_cast<std::int16_t>(x < 0 ? -y : y);
        any |= y;
    }
    return any;
}

inline void halfPelRowBody(const std::uint8_t* a, const std::uint8_t* b, int w, std::uint8_t* oh,
                           std::uint8_t* ov, std::uint8_t* od) {
    for (int x = 0; x < w; ++x) {
        const int x1 = x + 1 < w ? x + 1 : x;
        oh[x] = static_cast<std::uint8_t>((a[x] + a[x1] + 1) >> 1);
        ov[x] = static_cast<std::uint8_t>((a[x] + b[x] + 1) >> 1);
        od[x] = static_cast<std::uint8_t>((a[x] + a[x1] + b[x] + b[x1] + 2) >> 2);
    }
}

inline void averageBody(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, int n) {
    for (int i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>((a[i] + b[i] + 1) >> 1);
}

inline void blockInBody(const std::uint8_t* src, int stride, const std::uint8_t* pred,
                        int predStride, std::int16_t* out) {
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i)
            out[j * 8 + i] = static_cast<std::int16_t>(src[j * stride + i] -
                                                       (pred ? pred[j * predStride + i] : 0));
}

inline void blockOutBody(const std::int16_t* blk, const std::uint8_t* pred, int predStride,
                         std::uint8_t* out, int stride) {
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i) {
            const int v = blk[j * 8 + i] + (pred ? pred[j * predStride + i] : 0);
            out[j * stride + i] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
}

inline std::uint64_t nonZeroMaskBody(const std::int16_t* block) {
    std::uint64_t m = 0;
    for (int i = 0; i < 64; ++i) m |= static_cast<std::uint64_t>(block[i] != 0) << i;
    return m;
}

inline void predict8Body(const std::uint8_t* ref, int stride, int hx, int hy, std::uint8_t* out,
                         int outStride) {
    for (int j = 0; j < 8; ++j) {
        const std::uint8_t* r0 = ref + j * stride;
        const std::uint8_t* r1 = hy ? r0 + stride : r0;
        std::uint8_t* o = out + j * outStride;
        for (int i = 0; i < 8; ++i) {
            if (!hx && !hy)
                o[i] = r0[i];
            else if (hx && hy)
                o[i] = static_cast<std::uint8_t>((r0[i] + r0[i + 1] + r1[i] + r1[i + 1] + 2) >> 2);
            else
                o[i] = static_cast<std::uint8_t>((r0[i] + r1[i + hx] + 1) >> 1);
        }
    }
}

inline void dequantBody(const std::int16_t* q, std::int16_t* out, const std::uint8_t* w, int qs,
                        bool intra, bool mpeg2, int dcScale) {
    int sum = 0;
    for (int i = 0; i < 64; ++i) {
        int lv = q[i], v = 0;
        if (intra && i == 0) {
            v = lv * dcScale;
        } else if (lv != 0) {
            if (mpeg2) {
                if (intra)
                    v = (2 * lv * w[i] * qs) / 32;
                else
                    v = ((2 * lv + (lv > 0 ? 1 : -1)) * w[i] * qs) / 32;
            } else {
                int code = qs / 2;
                if (intra)
                    v = (2 * lv * code * w[i]) / 16;
                else
                    v = ((2 * lv + (lv > 0 ? 1 : -1)) * code * w[i]) / 16;
                if ((v & 1) == 0) v -= v > 0 ? 1 : -1;
            }
        }
        v = v < -2048 ? -2048 : v > 2047 ? 2047 : v;
        out[i] = static_cast<std::int16_t>(v);
        sum += v;
    }
    if (mpeg2 && (sum & 1) == 0) out[63] ^= 1;
}
