#pragma once
// Block access to a disc: an optical drive (/dev/sr0) or a disc image file,
// with the two commands the reader needs (READ CAPACITY and READ(10)), and
// the small UDF reader that finds a file's block range by its path.
// A "drive path" names a file on a disc as "<device or image>:<path on disc>".

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zembra {

class DiscDevice {
public:
    static constexpr uint32_t kBlockSize = 2048;
    static constexpr uint32_t kMaxBlocksPerCommand = 32;  // 65536 / 2048

    DiscDevice() = default;
    ~DiscDevice();
    DiscDevice(const DiscDevice&) = delete;
    DiscDevice& operator=(const DiscDevice&) = delete;

    [[nodiscard]] bool open(const std::string& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

    // Last logical block and block length.
    [[nodiscard]] bool readCapacity(uint32_t& lastBlock, uint32_t& blockLength);
    // Reads count blocks from block into out (count * 2048 bytes), in commands
    // of at most 32 blocks each; false when any command fails.
    [[nodiscard]] bool read10(uint32_t block, uint32_t count, uint8_t* out);

    // Commands issued so far (tests check the 32-block split).
    uint64_t commandsIssued() const { return commands_; }

private:
    int fd_ = -1;
    std::string path_;
    uint64_t commands_ = 0;
};

// A file located on the disc by its blocks.
struct DiscExtent {
    std::shared_ptr<DiscDevice> device;
    uint32_t firstBlock = 0;
    uint32_t lastBlock = 0;
    uint32_t blockSize = DiscDevice::kBlockSize;
    uint32_t currentBlock = 0;  // next block to read
    uint64_t sizeBytes = 0;     // information length of the file
};

struct UdfVolume {
    uint32_t partitionStart = 0;
    uint32_t fileSetLocation = 0;
    std::string volumeId;
};

struct UdfEntry {
    std::string name;
    bool directory = false;
    uint32_t icbLocation = 0;  // relative to the partition start
};

// Finds the partition and file set (anchor at 256, else the last block).
[[nodiscard]] std::optional<UdfVolume> udfOpenVolume(DiscDevice& device);
// Block range of a file by its path ('/' or '\' separated, matched without
// regard to case). Nothing when any structure on the way is missing or damaged.
[[nodiscard]] std::optional<DiscExtent> udfLocate(const std::shared_ptr<DiscDevice>& device,
                                                  const std::string& path);
// Entries of a directory on the disc (empty when not found).
std::vector<UdfEntry> udfListDirectory(DiscDevice& device, const std::string& path);
// UDF d-string: first byte 8 = 8-bit characters, 16 = big-endian 16-bit
// characters of which the low byte is kept; anything else gives "".
std::string udfDecodeDString(const uint8_t* data, size_t length);

// Splits "<device or image>:<path>" where the part before the colon is an
// existing image file or block device. Nothing for other names.
struct DrivePath {
    std::string device;
    std::string path;
};
std::optional<DrivePath> splitDrivePath(const std::string& name);
// Opens the device and locates the file.
std::optional<DiscExtent> openDrivePath(const std::string& name);

// Reference-counted stand-in of the drive command layer. Linux needs no
// driver library, so loading succeeds unless a test switched it off.
class DiscLayer {
public:
    static bool load();
    static void release();
    static int references();
    static void setAvailableForTesting(bool available);
};

}  // namespace zembra
