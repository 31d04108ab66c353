// The WAV file the exports and the command line write: a rate restated after
// the sound turned out to have another one lands in both rate fields, the
// sizes are filled in at close, and the samples are stored little-endian.

#include "avi/wav_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/byte_order.h"
#include "support/temp_dir.h"

namespace zembra::avi {
namespace {

using testing::TempDir;

TEST(WavFile, RestatedRateAndSizesLandInTheHeaderAndSamplesAreLittleEndian) {
    TempDir dir;
    const std::string path = (dir / "sound.wav").string();
    WavFile wav;
    ASSERT_TRUE(wav.open(path, 48000));
    const int16_t samples[4] = {1, -2, 0x1234, -32768};
    ASSERT_TRUE(wav.writeSamples(samples, 4));
    ASSERT_TRUE(wav.writeSamples(samples, 2));
    ASSERT_TRUE(wav.setSampleRate(44100));
    ASSERT_TRUE(wav.close());

    const std::string file = TempDir::read(path);
    ASSERT_EQ(file.size(), size_t(WavFile::kHeaderSize + 12));
    const auto* b = reinterpret_cast<const uint8_t*>(file.data());
    EXPECT_EQ(file.substr(0, 4), "RIFF");
    EXPECT_EQ(readLe32(b + 4), 36u + 12u);
    EXPECT_EQ(readLe16(b + 22), 2u);  // channels, untouched by the restated rate
    EXPECT_EQ(readLe32(b + 24), 44100u);
    EXPECT_EQ(readLe32(b + 28), 44100u * 4);
    EXPECT_EQ(readLe16(b + 32), 4u);  // block align
    EXPECT_EQ(file.substr(36, 4), "data");
    EXPECT_EQ(readLe32(b + 40), 12u);
    const uint8_t* data = b + WavFile::kHeaderSize;
    EXPECT_EQ(int16_t(readLe16(data + 2)), -2);
    EXPECT_EQ(readLe16(data + 4), 0x1234u);
    EXPECT_EQ(int16_t(readLe16(data + 6)), -32768);
    EXPECT_EQ(readLe16(data + 8), 1u);
}

}  // namespace
}  // namespace zembra::avi
