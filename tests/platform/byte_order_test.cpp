// Multi-byte fields: the same four bytes read both ways, with the top bit set
// so that a sign slip in a shift shows; and a header patched in place reads
// back what was written.

#include "platform/byte_order.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace zembra {
namespace {

TEST(ByteOrder, ReadersAndWritersAgree) {
    const std::uint8_t bytes[4] = {0xF1, 0x82, 0x03, 0x94};
    EXPECT_EQ(readBe16(bytes), 0xF182u);
    EXPECT_EQ(readBe32(bytes), 0xF1820394u);
    EXPECT_EQ(readLe16(bytes), 0x82F1u);
    EXPECT_EQ(readLe32(bytes), 0x940382F1u);

    std::vector<std::uint8_t> record;
    appendLe16(record, 0xBEEF);
    appendLe32(record, 0xF1820394u);
    ASSERT_EQ(record.size(), 6u);
    EXPECT_EQ(record[0], 0xEF);
    EXPECT_EQ(readLe16(record.data()), 0xBEEFu);
    EXPECT_EQ(readLe32(record.data() + 2), 0xF1820394u);

    writeLe32(record.data() + 1, 0x80000001u);
    EXPECT_EQ(record[0], 0xEF) << "the patch wrote before its place";
    EXPECT_EQ(readLe32(record.data() + 1), 0x80000001u);
    EXPECT_EQ(record[5], 0xF1) << "the patch wrote past its place";
    writeLe16(record.data() + 4, 0x1234);
    EXPECT_EQ(readLe16(record.data() + 4), 0x1234u);
}

}  // namespace
}  // namespace zembra
