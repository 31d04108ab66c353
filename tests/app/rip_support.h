#pragma once
// Fixtures of the rip tests: the zembra binary run as a child process with
// its own program folder, generated discs cached in the build tree, and
// ffmpeg/ffprobe as the outside judges of what a rip wrote.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dvd/test_support.h"
#include "support/temp_dir.h"

namespace zembra::testing {

namespace rip_fs = std::filesystem;

#ifndef ZEMBRA_EXE
#define ZEMBRA_EXE ""
#endif
inline std::string zembraExe() { return ZEMBRA_EXE; }
inline std::string sampleDisc() { return std::string(ZEMBRA_SOURCE_DIR) + "/samples/VIDEO_TS"; }

inline std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a shell command; exit status (-1 when killed) and stdout + stderr.
struct ShellResult {
    int status = -1;
    std::string out;
};
inline ShellResult shell(const std::string& command) {
    ShellResult r;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[8192];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

inline bool haveOracles() { return !toolsMissing({"ffmpeg", "ffprobe"}); }

#define ZEMBRA_REQUIRE_ORACLES()                                       \
    do {                                                               \
        if (!zembra::testing::haveOracles()) {                         \
            if (std::getenv("CI")) FAIL() << "ffmpeg/ffprobe missing"; \
            GTEST_SKIP() << "ffmpeg/ffprobe missing";                  \
        }                                                              \
    } while (0)

// A program folder of its own (settings, language files) and a folder for
// the output, so runs do not see each other's options.ini.
class RipSandbox {
public:
    RipSandbox() {
        rip_fs::create_directories(programDir());
        rip_fs::copy(rip_fs::path(ZEMBRA_SOURCE_DIR) / "langs", programDir() / "langs",
                     rip_fs::copy_options::recursive);
        rip_fs::create_directories(outDir());
        rip_fs::create_directories(dir_ / "docs");
    }
    rip_fs::path programDir() const { return dir_ / "prog"; }
    rip_fs::path outDir() const { return dir_ / "out"; }
    rip_fs::path path(const std::string& name) const { return dir_ / name; }
    std::string out(const std::string& name) const { return (outDir() / name).string(); }

    // Environment for a child: the program folder, documents, and a shutdown
    // command that only records its call.
    std::vector<std::string> env() const {
        return {"ZEMBRA_PROGRAM_DIR=" + programDir().string(),
                "XDG_DOCUMENTS_DIR=" + (dir_ / "docs").string(),
                "ZEMBRA_SHUTDOWN_COMMAND=echo called >> " + quoted(shutdownLog().string())};
    }
    rip_fs::path shutdownLog() const { return dir_ / "shutdown.log"; }
    int shutdownCalls() const {
        std::ifstream in(shutdownLog());
        int n = 0;
        for (std::string line; std::getline(in, line);) n += line == "called";
        return n;
    }
    // Files of the output folder, by name.
    std::vector<std::string> outputFiles() const {
        std::vector<std::string> names;
        for (const auto& e : rip_fs::directory_iterator(outDir()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    TempDir dir_;
};

// zembra as a child process: stdin from /dev/null, stdout and stderr to
// files, the sandbox's environment on top of ours.
class ZembraProcess {
public:
    ZembraProcess(const RipSandbox& box, const std::vector<std::string>& args)
        : log_(box.path("run-" + std::to_string(serial()) + ".log")) {
        std::vector<std::string> env = box.env();
        pid_ = fork();
        if (pid_ == 0) {
            for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
            int in = open("/dev/null", O_RDONLY);
            int out = open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(in, 0);
            dup2(out, 1);
            dup2(out, 2);
            std::vector<char*> argv;
            std::string exe = zembraExe();
            argv.push_back(exe.data());
            std::vector<std::string> copy = args;
            for (auto& a : copy) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
    }
    ~ZembraProcess() {
        if (pid_ > 0 && !done_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    void interrupt() { kill(pid_, SIGINT); }
    bool running() {
        if (done_) return false;
        int status;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            finish(status);
            return false;
        }
        return true;
    }
    // Exit status; -1 on a signal or after the timeout (the child is killed).
    int wait(int timeoutSeconds = 180) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
        while (running()) {
            if (std::chrono::steady_clock::now() > until) {
                kill(pid_, SIGKILL);
                int status;
                waitpid(pid_, &status, 0);
                finish(status);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return status_;
    }
    std::string output() const { return TempDir::read(log_); }

private:
    static int serial() {
        static int n = 0;
        return n++;
    }
    void finish(int status) {
        done_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    rip_fs::path log_;
    pid_t pid_ = -1;
    bool done_ = false;
    int status_ = -1;
};

struct RipResult {
    int status = -1;
    std::string output;
};
inline RipResult runZembra(const RipSandbox& box, const std::vector<std::string>& args,
                           int timeoutSeconds = 180) {
    ZembraProcess p(box, args);
    RipResult r;
    r.status = p.wait(timeoutSeconds);
    r.output = p.output();
    return r;
}

// "Section.Key=value" lines of `zembra config` as a map.
inline std::map<std::string, std::string> zembraConfig(const RipSandbox& box) {
    RipResult r = runZembra(box, {"config"}, 60);
    std::map<std::string, std::string> values;
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

// What `zembra codecs` lists (empty when the command is missing).
inline std::string zembraCodecs() {
    RipSandbox box;
    return runZembra(box, {"codecs"}, 60).output;
}
inline bool haveXvidAndMp3() {
    static const bool have = [] {
        std::string list = zembraCodecs();
        return list.find("  XVID ") != std::string::npos &&
               list.find("MP3 library: Lame MP3 ") != std::string::npos;
    }();
    return have;
}

// ---------------------------------------------------------------- oracles

inline std::string probe(const std::string& file, const std::string& entries,
                         const std::string& select = "v:0", bool count = false) {
    std::string cmd = "ffprobe -v error " + std::string(count ? "-count_frames " : "") +
                      "-select_streams " + select + " -show_entries " + entries +
                      " -of default=nw=1:nk=1 " + quoted(file);
    std::string out = shell(cmd).out;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

// Decoded video frames of a file, counted by ffprobe (-1 when unreadable).
inline int decodedFrames(const std::string& file) {
    std::string n = probe(file, "stream=nb_read_frames", "v:0", true);
    return n.empty() || n == "N/A" ? -1 : std::atoi(n.c_str());
}

inline int streamCount(const std::string& file, const std::string& type) {
    std::string out = probe(file, "stream=index", type);
    int n = 0;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) n += !line.empty();
    return n;
}

// Stereo sample frames of the first audio stream, decoded by ffmpeg.
inline long decodedAudioSamples(const std::string& file) {
    ShellResult r = shell("ffmpeg -nostdin -v error -i " + quoted(file) +
                          " -map 0:a:0 -f s16le -ac 2 - 2>/dev/null | wc -c");
    return r.status == 0 ? std::atol(r.out.c_str()) / 4 : -1;
}

// ffmpeg decodes every stream to the end; what it complained about.
inline std::string decodeErrors(const std::string& file) {
    return shell("ffmpeg -nostdin -v error -i " + quoted(file) + " -f null -").out;
}

// The MD5 of every decoded video frame, in order.
inline std::vector<std::string> frameMd5s(const std::string& file) {
    std::string out = shell("ffmpeg -nostdin -v error -i " + quoted(file) +
                            " -map 0:v:0 -f framemd5 - 2>/dev/null")
                          .out;
    std::vector<std::string> hashes;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        size_t comma = line.rfind(',');
        if (comma == std::string::npos) continue;
        std::string h = line.substr(comma + 1);
        while (!h.empty() && h.front() == ' ') h.erase(h.begin());
        hashes.push_back(h);
    }
    return hashes;
}

// Video frames of a title's VOB files (concatenated) and their frame rate.
inline double sourceSeconds(const std::string& videoTs) {
    std::string list;
    for (int n = 1;; ++n) {
        auto f = rip_fs::path(videoTs) / ("VTS_01_" + std::to_string(n) + ".VOB");
        if (!rip_fs::exists(f)) break;
        if (!list.empty()) list += '|';
        list += f.string();
    }
    std::string frames = probe("concat:" + list, "stream=nb_read_frames", "v:0", true);
    std::string rate = probe("concat:" + list, "stream=r_frame_rate", "v:0");
    int num = 0, den = 1;
    if (std::sscanf(rate.c_str(), "%d/%d", &num, &den) != 2 || num == 0) return -1;
    return std::atof(frames.c_str()) * den / num;
}

// The 30-second PAL disc (AC-3 stereo), made once and cached.
inline std::string longDisc() {
    static const std::string dir = makeDisc("rip-30s", "--pal --ac3 --seconds 30 --bitrate 1500k");
    return dir.empty() ? dir : dir + "/VIDEO_TS";
}

}  // namespace zembra::testing
