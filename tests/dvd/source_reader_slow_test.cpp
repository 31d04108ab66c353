// A stop while the title reader fills its buffer from a slow source (a drive
// that takes milliseconds a block): it must be seen between the blocks, not
// only at the buffering line's steps, megabytes apart.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "dvd/source_reader.h"
#include "support/recording_host.h"
#include "test_support.h"

namespace {

// Inode whose reads are slowed, 0 for none.
std::atomic<ino_t> g_slowInode{0};
constexpr auto kDelayPerRead = std::chrono::milliseconds(5);

}  // namespace

// The reads of this program go through here: those of the slowed file take
// kDelayPerRead each (one 32 KB block of the reader), all others go straight
// to the system.
extern "C" ssize_t read(int fd, void* buffer, size_t count) {
    const ino_t slow = g_slowInode.load();
    struct stat st;
    if (slow != 0 && fstat(fd, &st) == 0 && st.st_ino == slow)
        std::this_thread::sleep_for(kDelayPerRead);
    return syscall(SYS_read, fd, buffer, count);
}

namespace zembra {
namespace {

using testing::RecordingHost;

TEST(SourceReaderSlow, StopDuringAPrefillComesWithin100ms) {
    const std::string dir = testing::scratchDir("slowprefill");
    const std::string vob = dir + "/VTS_01_1.VOB";
    constexpr int kSectors = 12288;  // 24 MB: seconds at 5 ms a block
    {
        std::ofstream out(vob, std::ios::binary);
        out.seekp(int64_t(kSectors) * 2048 - 1);
        out.put(0);
    }
    struct stat st;
    ASSERT_EQ(stat(vob.c_str(), &st), 0);

    TitleCatalogue catalogue;
    TitleRecord title;
    CellRecord cell;
    cell.firstSector = 0;
    cell.lastSector = kSectors - 1;
    title.cells = {cell};
    catalogue.titles = {title};
    RecordingHost host;
    SourceReader reader(host, catalogue);
    CancelToken stop;
    reader.setCancelFlag(&stop);
    ASSERT_TRUE(reader.openSource({vob}, false, 0, 0, 24, false));
    reader.setPrefill(1);

    g_slowInode = st.st_ino;
    using Clock = std::chrono::steady_clock;
    Clock::time_point stoppedAt;
    std::thread user([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        stoppedAt = Clock::now();
        stop.request();
    });
    std::vector<uint8_t> buffer(4096);
    const int result = reader.readSource(buffer.data(), 4096);
    const Clock::time_point returnedAt = Clock::now();
    user.join();
    g_slowInode = 0;

    EXPECT_EQ(result, 0) << "a stopped prefill delivers nothing";
    const auto late =
        std::chrono::duration_cast<std::chrono::milliseconds>(returnedAt - stoppedAt).count();
    EXPECT_GE(late, 0);
    EXPECT_LT(late, 100) << "the stop came " << late << " ms after it was asked for";
}

}  // namespace
}  // namespace zembra
