#pragma once
// What the AVI tests share: ffprobe/ffmpeg as oracles, a RIFF chunk walker
// that reads our files back, and synthetic pictures and sound.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/tools.h"

namespace zembra::testing {

// A file-size limit as `ulimit -f` sets it, for this process only.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit r = saved_;
        r.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }

private:
    rlimit saved_{};
};

// Runs a shell command; its standard output (and error when merged by the
// command) as text.
inline std::string runCapture(const std::string& cmd, int* status = nullptr) {
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int rc = ::pclose(p);
    if (status) *status = rc;
    return out;
}

// ffprobe's view of every stream: "0.codec_name" -> "rawvideo", ...
// countFrames decodes the streams to count frames (nb_read_frames).
inline std::map<std::string, std::string> probeStreams(const std::string& path,
                                                       bool countFrames = false) {
    std::string cmd = "ffprobe -v error ";
    if (countFrames) cmd += "-count_frames ";
    cmd +=
        "-show_entries "
        "stream=codec_name,codec_type,r_frame_rate,nb_frames,nb_read_frames,sample_rate,"
        "channels,width,height,duration,bit_rate -of flat '" +
        path + "' 2>&1";
    std::map<std::string, std::string> result;
    std::string text = runCapture(cmd);
    size_t pos = 0;
    const std::string prefix = "streams.stream.";
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.compare(0, prefix.size(), prefix) != 0) {
            if (!line.empty()) result["error"] += line + "\n";
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
        result[line.substr(prefix.size(), eq - prefix.size())] = value;
    }
    return result;
}

// Error lines ffmpeg prints while decoding every stream of the file (empty
// when it decodes cleanly).
inline std::string decodeErrors(const std::string& path) {
    return runCapture("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1");
}

// One RIFF chunk or list as stored in a file.
struct RiffChunk {
    uint32_t id = 0;
    uint32_t listType = 0;  // for RIFF and LIST
    uint64_t offset = 0;    // of the chunk header
    uint32_t size = 0;
    std::vector<uint8_t> data;  // small non-list chunks only
    std::vector<RiffChunk> children;

    std::string name() const { return std::string(reinterpret_cast<const char*>(&id), 4); }
    std::string type() const { return std::string(reinterpret_cast<const char*>(&listType), 4); }
    uint32_t u32(size_t at) const {
        return uint32_t(data.at(at)) | uint32_t(data.at(at + 1)) << 8 |
               uint32_t(data.at(at + 2)) << 16 | uint32_t(data.at(at + 3)) << 24;
    }
    uint16_t u16(size_t at) const { return uint16_t(data.at(at) | data.at(at + 1) << 8); }
    uint64_t u64(size_t at) const { return u32(at) | uint64_t(u32(at + 4)) << 32; }
    // Children with this id (or list type), depth-first.
    void find(const std::string& what, std::vector<const RiffChunk*>& out) const {
        for (const auto& c : children) {
            if (c.name() == what ||
                ((c.name() == "LIST" || c.name() == "RIFF") && c.type() == what))
                out.push_back(&c);
            c.find(what, out);
        }
    }
    std::vector<const RiffChunk*> all(const std::string& what) const {
        std::vector<const RiffChunk*> out;
        find(what, out);
        return out;
    }
    const RiffChunk* first(const std::string& what) const {
        auto v = all(what);
        return v.empty() ? nullptr : v.front();
    }
};

// "00dc", "01wb": media data, not loaded by the walker.
inline bool isMediaChunk(const std::string& n) {
    return n.size() == 4 && std::isdigit(uint8_t(n[0])) && std::isdigit(uint8_t(n[1])) &&
           (n.substr(2) == "dc" || n.substr(2) == "db" || n.substr(2) == "wb");
}

// Reads the chunk tree of a file without loading the media data; a
// structural fault (a chunk past its parent's end) fails the test.
inline void walkRiff(std::ifstream& in, uint64_t begin, uint64_t end, RiffChunk& parent) {
    uint64_t pos = begin;
    while (pos + 8 <= end) {
        RiffChunk c;
        c.offset = pos;
        in.seekg(std::streamoff(pos));
        uint8_t h[12] = {};
        in.read(reinterpret_cast<char*>(h), 8);
        c.id = uint32_t(h[0]) | uint32_t(h[1]) << 8 | uint32_t(h[2]) << 16 | uint32_t(h[3]) << 24;
        c.size = uint32_t(h[4]) | uint32_t(h[5]) << 8 | uint32_t(h[6]) << 16 | uint32_t(h[7]) << 24;
        uint64_t next = pos + 8 + c.size + (c.size & 1);
        EXPECT_LE(pos + 8 + c.size, end) << "chunk " << c.name() << " at " << pos;
        if (c.name() == "RIFF" || c.name() == "LIST") {
            in.read(reinterpret_cast<char*>(h), 4);
            c.listType =
                uint32_t(h[0]) | uint32_t(h[1]) << 8 | uint32_t(h[2]) << 16 | uint32_t(h[3]) << 24;
            walkRiff(in, pos + 12, std::min<uint64_t>(pos + 8 + c.size, end), c);
        } else if (c.size <= (1u << 20) && !isMediaChunk(c.name())) {
            c.data.resize(c.size);
            in.read(reinterpret_cast<char*>(c.data.data()), c.size);
        }
        parent.children.push_back(std::move(c));
        pos = next;
    }
}

inline RiffChunk readRiff(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(0, std::ios::end);
    uint64_t size = uint64_t(in.tellg());
    RiffChunk root;
    walkRiff(in, 0, size, root);
    return root;
}

// A bottom-up RGB24 picture whose bytes tell the frame number.
inline std::vector<uint8_t> testPicture(int width, int height, int frame) {
    std::vector<uint8_t> p(size_t(width) * height * 3);
    for (size_t i = 0; i < p.size(); ++i) p[i] = uint8_t(frame * 7 + (i / 3 / width) * 3 + i % 3);
    return p;
}

// Interleaved stereo: a 440 Hz tone left, 660 Hz right.
inline std::vector<int16_t> testTone(int rate, int startFrame, int frames) {
    std::vector<int16_t> v(size_t(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        double t = double(startFrame + i) / rate;
        v[2 * i] = int16_t(8000 * std::sin(2 * 3.14159265358979 * 440 * t));
        v[2 * i + 1] = int16_t(8000 * std::sin(2 * 3.14159265358979 * 660 * t));
    }
    return v;
}

}  // namespace zembra::testing
