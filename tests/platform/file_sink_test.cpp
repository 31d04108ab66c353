// The output file type's lock: a second writer of a file that is being
// written is refused before it changes a byte, and gets it once the first
// has closed.

#include "platform/file_sink.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace zembra {
namespace {

using testing::TempDir;

TEST(FileSink, SecondWriterOfAFileBeingWrittenIsRefusedUntilTheFirstCloses) {
    TempDir dir;
    const std::string path = (dir / "x.mpg").string();
    FileSink first;
    ASSERT_TRUE(first.open(path));
    ASSERT_TRUE(first.append("first", 5));
    EXPECT_TRUE(FileSink::busy(path));

    FileSink second;
    EXPECT_FALSE(second.open(path));
    EXPECT_TRUE(second.lockedByAnother());
    EXPECT_FALSE(second.isOpen());
    EXPECT_EQ(TempDir::read(path), "first") << "the refused writer emptied the file";

    ASSERT_TRUE(first.append(" whole", 6));
    ASSERT_TRUE(first.close());
    EXPECT_FALSE(FileSink::busy(path));
    EXPECT_EQ(TempDir::read(path), "first whole");
    ASSERT_TRUE(second.open(path));
    EXPECT_FALSE(second.lockedByAnother());
    EXPECT_EQ(TempDir::read(path), "") << "a file taken over starts empty";
    EXPECT_FALSE(FileSink::busy((dir / "missing").string()));
}

// The multiplexer reads its finished piece back through the sink and patches
// offsets into it: a read sees exactly what the sink wrote, stops at the end
// of the whole pieces and sees patches at once.
TEST(FileSink, ReadsBackWhatItHoldsIncludingPatches) {
    TempDir dir;
    const std::string path = (dir / "piece.mpg").string();
    FileSink sink;
    ASSERT_TRUE(sink.open(path));
    ASSERT_TRUE(sink.append("0123456789", 10));
    ASSERT_TRUE(sink.patch(2, "ab", 2));
    char back[16] = {};
    EXPECT_EQ(sink.read(0, back, sizeof back), std::optional<size_t>(10));
    EXPECT_EQ(std::string(back, 10), "01ab456789");
    EXPECT_EQ(sink.read(8, back, 4), std::optional<size_t>(2)) << "a read past the end is short";
    EXPECT_EQ(std::string(back, 2), "89");
    EXPECT_EQ(sink.read(10, back, 4), std::optional<size_t>(0));
    EXPECT_EQ(sink.read(99, back, 4), std::optional<size_t>(0));
    EXPECT_FALSE(sink.patch(9, "xy", 2)) << "a patch may not grow the file";
    ASSERT_TRUE(sink.truncate(4));
    EXPECT_EQ(sink.read(0, back, sizeof back), std::optional<size_t>(4));
    ASSERT_TRUE(sink.close());
    EXPECT_FALSE(sink.read(0, back, 4)) << "a closed sink reads nothing";
    EXPECT_EQ(TempDir::read(path), "01ab");
}

}  // namespace
}  // namespace zembra
