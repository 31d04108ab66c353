#pragma once
// The part of libxvidcore's C interface (API 4.x, as in xvid.h of xvidcore
// 1.3) the Xvid compressor uses, declared here so the program needs no
// development package: the library itself is loaded at run time.

#include <string>

namespace zembra::avi::xvid {

constexpr int kVersion = (1 << 16) | (3 << 8) | 7;  // structure version 1.3.7

constexpr int kGblInit = 0;
constexpr int kEncCreate = 0, kEncDestroy = 1, kEncEncode = 2;

constexpr int kCspYuy2 = 1 << 3;
constexpr int kCspBgra = 1 << 6;
constexpr int kCspBgr = 1 << 9;
constexpr int kCspVflip = int(1u << 31);

constexpr int kTypeAuto = 0;
constexpr int kKeyframe = 1 << 1;  // out_flags

constexpr int kVopHalfpel = 1 << 1, kVopInter4v = 1 << 2, kVopTrellisquant = 1 << 3,
              kVopHqacpred = 1 << 7;
constexpr int kMeAdvancedDiamond16 = 1 << 0, kMeAdvancedDiamond8 = 1 << 1,
              kMeHalfpelRefine16 = 1 << 4, kMeHalfpelRefine8 = 1 << 6, kMeExtSearch16 = 1 << 10,
              kMeExtSearch8 = 1 << 11, kMeChromaPvop = 1 << 12, kMeChromaBvop = 1 << 13,
              kMeUseSquares16 = 1 << 2;

struct Image {
    int csp;
    void* plane[4];
    int stride[4];
};

struct GblInit {
    int version;
    unsigned int cpu_flags;
    int debug;
};

struct EncZone {
    int frame, mode, increment, base;
};

using PluginFunc = int(void* handle, int opt, void* param1, void* param2);

struct EncPlugin {
    PluginFunc* func;
    void* param;
};

struct PluginSingle {
    int version;
    int bitrate;  // bits per second
    int reaction_delay_factor;
    int averaging_period;
    int buffer;
};

struct Plugin2Pass1 {
    int version;
    char* filename;
};

struct Plugin2Pass2 {
    int version;
    int bitrate;  // bits per second
    char* filename;
    int keyframe_boost;
    int curve_compression_high;
    int curve_compression_low;
    int overflow_control_strength;
    int max_overflow_improvement;
    int max_overflow_degradation;
    int kfreduction;
    int kfthreshold;
    int container_frame_overhead;
    int vbv_size;
    int vbv_initial;
    int vbv_maxrate;
    int vbv_peakrate;
};

struct EncCreate {
    int version;
    int profile;
    int width;
    int height;
    int num_zones;
    EncZone* zones;
    int num_plugins;
    EncPlugin* plugins;
    int num_threads;
    int max_bframes;
    int global;
    int fincr;
    int fbase;
    int max_key_interval;
    int frame_drop_ratio;
    int bquant_ratio;
    int bquant_offset;
    int min_quant[3];
    int max_quant[3];
    void* handle;
    int start_frame_num;
    int num_slices;
};

struct EncFrame {
    int version;
    int vol_flags;
    unsigned char* quant_intra_matrix;
    unsigned char* quant_inter_matrix;
    int par;
    int par_width;
    int par_height;
    int fincr;
    int vop_flags;
    int motion;
    Image input;
    int type;
    int quant;
    int bframe_threshold;
    void* bitstream;
    int length;
    int out_flags;
};

struct EncStats {
    int version;
    int type, quant, vol_flags, vop_flags, length, hlength, kblks, mblks, ublks, sse_y, sse_u,
        sse_v;
};

// The entry points, resolved once per loaded library.
struct Api {
    int (*global)(void* handle, int opt, void* param1, void* param2) = nullptr;
    int (*encore)(void* handle, int opt, void* param1, void* param2) = nullptr;
    PluginFunc* single = nullptr;
    PluginFunc* pass1 = nullptr;
    PluginFunc* pass2 = nullptr;
};

// The loaded library, or nullptr when it cannot be loaded.
const Api* api();
void setLibraryName(const std::string& soname);

}  // namespace zembra::avi::xvid
