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

}  // namespace
}  // namespace zembra
