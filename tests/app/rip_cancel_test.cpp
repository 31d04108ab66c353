// Ctrl-C in the middle of `zembra rip` without a terminal, and the shutdown
// after a rip: a stopped rip leaves a whole AVI of what it wrote, skips the
// rows after it and never shuts down; a finished one shuts down once.

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "app/encode_dlg.h"
#include "app/engines/engine_set.h"
#include "rip_support.h"
#include "support/recording_host.h"

namespace zembra {
namespace {

using namespace testing;

class RipStop : public ::testing::Test {
protected:
    void SetUp() override {
        if (zembraExe().empty() || !rip_fs::exists(zembraExe())) GTEST_SKIP() << "zembra not built";
        ZEMBRA_REQUIRE_ORACLES();
    }
    // Two rows: the 30-second title set, then the sample's.
    std::vector<std::string> twoRows(const RipSandbox& box, const std::string& disc) {
        return {"rip",
                disc,
                sampleDisc(),
                "--format",
                "2",
                "--video-codec",
                "DIB ",
                "--export",
                "rgb24",
                "--avi-audio",
                "wav",
                "--width",
                "176",
                "--height",
                "144",
                "--output-dir",
                box.outDir().string(),
                "--overwrite",
                "--yes",
                "--shutdown"};
    }
    void interruptMidRip(const std::string& threads);
};

// Ctrl-C once the first row has written a few frames: a whole file of what
// was written, the second row never started, no shutdown. With threads the
// source is stopped too, and the run ends as soon after the press.
void RipStop::interruptMidRip(const std::string& threads) {
    const std::string disc = longDisc();
    ZEMBRA_REQUIRE_DISC(disc);
    RipSandbox box;
    std::vector<std::string> args = twoRows(box, disc);
    args.insert(args.end(), {"--threads", threads});
    ZembraProcess zembra(box, args);
    // Wait until the first row has written a few frames (176 x 144 x 3 each).
    const auto avi = box.outDir() / "Title_0.avi";
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::error_code ec;
    while (zembra.running() && std::chrono::steady_clock::now() < until &&
           !(rip_fs::exists(avi, ec) && rip_fs::file_size(avi, ec) > 3u * 1048576))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(zembra.running()) << "the rip ended before it could be stopped\n"
                                  << zembra.output();
    const auto pressed = std::chrono::steady_clock::now();
    zembra.interrupt();
    const int status = zembra.wait(60);
    const auto stopMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - pressed)
                            .count();
    RecordProperty("stop_ms", int(stopMs));
    const std::string output = zembra.output();
    EXPECT_NE(status, 0) << output;
    EXPECT_NE(status, -1) << "stopped by the signal itself, not by the rip\n" << output;

    // Only the first row's files: the second row never started.
    EXPECT_EQ(box.outputFiles(), (std::vector<std::string>{"Title_0.avi", "Title_0.wav"}))
        << output;
    const int frames = decodedFrames(avi.string());
    EXPECT_GT(frames, 10);
    EXPECT_LT(frames, 30 * 24 - 24) << "the rip was not stopped in the middle";
    EXPECT_EQ(decodeErrors(avi.string()), "");
    EXPECT_EQ(probe(avi.string(), "stream=nb_frames"), std::to_string(frames))
        << "the header counts the frames written";
    // The WAV file is closed with its sizes too.
    const long samples = decodedAudioSamples(box.out("Title_0.wav"));
    EXPECT_NEAR(samples / 44100.0, frames / 24.0, 1.0 / 24.0 + 1e-9);
    EXPECT_EQ(box.shutdownCalls(), 0);
}

TEST_F(RipStop, InterruptLeavesAWholeFileAndSkipsTheRest) { interruptMidRip("1"); }

TEST_F(RipStop, InterruptOfAThreadedRipLeavesAWholeFileAndSkipsTheRest) { interruptMidRip("4"); }

// Every row ripped, then one shutdown: not one after each row.
TEST_F(RipStop, NormalEndShutsDownOnce) {
    RipSandbox box;
    RipResult r = runZembra(box, {"rip",
                                  sampleDisc(),
                                  sampleDisc(),
                                  "--format",
                                  "2",
                                  "--video-codec",
                                  "DIB ",
                                  "--export",
                                  "rgb24",
                                  "--avi-audio",
                                  "wav",
                                  "--width",
                                  "64",
                                  "--height",
                                  "48",
                                  "--output-dir",
                                  box.outDir().string(),
                                  "--overwrite",
                                  "--yes",
                                  "--quiet",
                                  "--shutdown"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(box.outputFiles(), (std::vector<std::string>{"Title_0.avi", "Title_0.wav",
                                                           "Title_1.avi", "Title_1.wav"}));
    EXPECT_EQ(box.shutdownCalls(), 1) << r.output;

    // Without --shutdown (and nothing saved before) no call at all.
    RipSandbox quiet;
    RipResult q = runZembra(
        quiet, {"rip", sampleDisc(), "--format", "2", "--video-codec", "DIB ", "--export", "rgb24",
                "--avi-audio", "none", "--width", "64", "--height", "48", "--output-dir",
                quiet.outDir().string(), "--overwrite", "--yes", "--quiet"});
    EXPECT_EQ(q.status, 0) << q.output;
    EXPECT_EQ(quiet.shutdownCalls(), 0);
}

// The Cancel button in the window: "Stop process ?" answered No goes on,
// Yes ends the pass at the next frame with the file closed, and the next
// checked row is skipped.
TEST(RipCancel, NoGoesOnYesStopsAndSkipsTheRest) {
    ZEMBRA_REQUIRE_ORACLES();
    const std::string disc = longDisc();
    ZEMBRA_REQUIRE_DISC(disc);
    TempDir dir;
    const std::string log = (dir / "shutdown.log").string();
    ::setenv("ZEMBRA_SHUTDOWN_COMMAND", ("echo called >> " + quoted(log)).c_str(), 1);
    RecordingHost host;
    SettingsStore settings{dir / "options.ini", dir.dir()};
    settings.LoadSettings();
    EngineSet engines{host, settings};
    EncodeDlg dlg(host, settings, engines.catalogue(), engines.ripEngines());
    const rip_fs::path out = dir / "out";
    rip_fs::create_directories(out);
    dlg.setOutputFolderText(out.string());
    dlg.openDvdFolder(disc);
    dlg.openDvdFolder(sampleDisc());
    ASSERT_EQ(dlg.rows().size(), 2u);
    for (int row : {0, 1}) {
        dlg.selectRow(row);
        dlg.chooseFormat(2);
        dlg.chooseSplit(0);
        settings.output.width = 64;
        settings.output.height = 48;
        settings.input.shutDown = true;
        dlg.settingsChanged();
    }
    ASSERT_EQ(engines.applyAviChoices({"DIB ", {}, ""}), "");
    settings.output.exportYuv = 1;
    settings.output.aviAudio = 0;
    host.boxes.clear();

    // Press Cancel at the 20th pump of the rip (answer No) and at the 40th (Yes).
    int pumps = 0;
    const rip_fs::path avi = out / "Title_0.avi";
    host.answers = {BoxAnswer::No, BoxAnswer::Yes};
    host.onPump = [&] {
        if (dlg.idle() || !dlg.ripping()) return;
        ++pumps;
        if (pumps == 20 || pumps == 40) {
            dlg.StartRip();
        }
    };
    dlg.StartRip();
    host.onPump = nullptr;
    ::setenv("ZEMBRA_SHUTDOWN_COMMAND", "true", 1);

    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[0].text, "Stop process ?");
    EXPECT_EQ(host.boxes[1].text, "Stop process ?");
    EXPECT_EQ(pumps, 40) << "the No answer stopped the rip";
    EXPECT_EQ(dlg.rowsCompleted(), 0);
    EXPECT_FALSE(dlg.ripping());
    EXPECT_TRUE(dlg.idle());
    EXPECT_EQ(dlg.controls.ripButtonText, host.text("STR_MAIN_BUTTON_Rip"));
    EXPECT_FALSE(rip_fs::exists(out / "Title_1.avi"));
    EXPECT_FALSE(rip_fs::exists(log)) << "shut down after a cancel";
    const int frames = decodedFrames(avi.string());
    EXPECT_GT(frames, 10);
    EXPECT_LT(frames, 700);
    EXPECT_EQ(decodeErrors(avi.string()), "");
}

// Ctrl-C on a terminal is the Cancel button with its question: "n" goes on,
// "y" stops with the file complete.
TEST_F(RipStop, CtrlCOnATerminalAsksFirst) {
    const std::string disc = longDisc();
    ZEMBRA_REQUIRE_DISC(disc);
    RipSandbox box;
    const std::vector<std::string> env = box.env();
    std::vector<std::string> args = {zembraExe(),
                                     "rip",
                                     disc,
                                     "--format",
                                     "2",
                                     "--video-codec",
                                     "DIB ",
                                     "--export",
                                     "rgb24",
                                     "--avi-audio",
                                     "none",
                                     "--width",
                                     "176",
                                     "--height",
                                     "144",
                                     "--split",
                                     "0",
                                     "--output-dir",
                                     box.outDir().string(),
                                     "--overwrite",
                                     "--quiet"};
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string screen;
    int status = -1;
    bool exited = false;
    // Reads what the terminal shows (the child must never block on a full
    // terminal) until `done` holds or the time is up.
    auto watch = [&](const std::function<bool()>& done, int seconds) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!done() && std::chrono::steady_clock::now() < until) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 10) > 0) {
                char buf[4096];
                const ssize_t n = read(master, buf, sizeof buf);
                if (n > 0) screen.append(buf, size_t(n));
            }
            int st;
            if (!exited && waitpid(pid, &st, WNOHANG) == pid) {
                exited = true;
                status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            }
        }
        return done();
    };
    const auto avi = box.outDir() / "Title_0.avi";
    auto size = [&] {
        std::error_code ec;
        return rip_fs::exists(avi, ec) ? uintmax_t(rip_fs::file_size(avi, ec)) : uintmax_t(0);
    };
    auto questions = [&] {
        size_t n = 0;
        for (size_t at = screen.find("Stop process ?"); at != std::string::npos;
             at = screen.find("Stop process ?", at + 1))
            ++n;
        return n;
    };
    auto send = [&](const char* keys) {
        ASSERT_EQ(write(master, keys, std::strlen(keys)), ssize_t(std::strlen(keys)));
    };

    EXPECT_TRUE(watch([&] { return exited || size() > 2u * 1048576; }, 60)) << screen;
    ASSERT_FALSE(exited) << "the rip ended before Ctrl-C\n" << screen;
    send("\x03");
    ASSERT_TRUE(watch([&] { return questions() >= 1; }, 30)) << screen;
    const uintmax_t atNo = size();
    send("n\n");
    EXPECT_TRUE(watch([&] { return exited || size() > atNo + 2u * 1048576; }, 60)) << screen;
    ASSERT_FALSE(exited) << "the rip ended after the answer No\n" << screen;
    send("\x03");
    ASSERT_TRUE(watch([&] { return questions() >= 2; }, 30)) << screen;
    send("y\n");
    EXPECT_TRUE(watch([&] { return exited; }, 60)) << screen;
    if (!exited) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    close(master);
    EXPECT_EQ(status, 130) << screen;  // as if Ctrl-C had ended the program
    const int frames = decodedFrames(avi.string());
    EXPECT_GT(frames, 20);
    EXPECT_LT(frames, 30 * 24 - 24) << "the answer Yes did not stop the rip";
    EXPECT_EQ(decodeErrors(avi.string()), "");
}

}  // namespace
}  // namespace zembra
