#include "dvd/disc_device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "platform/byte_order.h"

namespace zembra {

namespace {

constexpr uint32_t kAnchorBlock = 256;
constexpr uint16_t kTagAnchor = 2;
constexpr uint16_t kTagPartition = 5;
constexpr uint16_t kTagLogicalVolume = 6;
constexpr uint16_t kTagTerminating = 8;
constexpr uint16_t kTagFileSet = 256;
constexpr uint16_t kTagFileIdentifier = 257;
constexpr uint16_t kTagFileEntry = 261;
constexpr uint8_t kFileTypeDirectory = 4;
// Volume descriptor sequences are 16 blocks on real discs; anything far
// beyond that is a damaged descriptor, not a reason to read the whole disc.
constexpr uint32_t kMaxSequenceBlocks = 256;
constexpr uint32_t kMaxDirectoryBlocks = 512;

int g_references = 0;
bool g_available = true;

struct Block {
    uint8_t data[DiscDevice::kBlockSize];
    uint16_t tag() const { return readLe16(data); }
};

bool readBlock(DiscDevice& device, uint64_t block, Block& out) {
    if (block > 0xFFFFFFFFu) return false;
    return device.read10(uint32_t(block), 1, out.data);
}

// Extent of a file entry: partition-relative first block and byte length.
struct EntryExtent {
    uint32_t location = 0;
    uint32_t length = 0;
    uint32_t infoLength = 0;
};

std::optional<EntryExtent> entryExtent(const Block& entry) {
    const uint8_t* e = entry.data;
    uint32_t adLength = readLe32(e + 172);
    uint32_t eaLength = readLe32(e + 168);
    if (adLength == 0) return std::nullopt;
    // The first allocation descriptor must lie inside the block.
    if (eaLength > DiscDevice::kBlockSize - 176 - 16) return std::nullopt;
    size_t ad = 176 + size_t(eaLength);
    size_t locationAt;
    switch (readLe16(e + 34) & 0x07) {
        case 0:
        case 1:
            locationAt = ad + 4;
            break;
        case 2:
            locationAt = ad + 12;
            break;
        default:
            return std::nullopt;
    }
    EntryExtent x;
    x.length = readLe32(e + ad) & 0x3FFFFFFF;
    x.location = readLe32(e + locationAt);
    x.infoLength = readLe32(e + 56);
    if (x.length == 0) return std::nullopt;
    return x;
}

bool readDirectoryEntry(DiscDevice& device, uint64_t block, Block& entry) {
    return readBlock(device, block, entry) && entry.tag() == kTagFileEntry &&
           entry.data[27] == kFileTypeDirectory;
}

bool namesEqual(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i]))) return false;
    return true;
}

std::vector<UdfEntry> walkDirectory(DiscDevice& device, uint32_t partitionStart,
                                    const Block& dirEntry) {
    std::vector<UdfEntry> entries;
    auto extent = entryExtent(dirEntry);
    if (!extent) return entries;
    uint32_t blocks = (extent->length - 1) / DiscDevice::kBlockSize + 1;
    if (blocks > kMaxDirectoryBlocks) return entries;
    uint64_t first = uint64_t(partitionStart) + extent->location;
    if (first + blocks - 1 > 0xFFFFFFFFu) return entries;
    std::vector<uint8_t> dir(size_t(blocks) * DiscDevice::kBlockSize);
    if (!device.read10(uint32_t(first), blocks, dir.data())) return entries;
    size_t total = std::min<size_t>(extent->infoLength, dir.size());
    size_t pos = 0;
    while (pos + 38 <= total) {
        const uint8_t* f = dir.data() + pos;
        if (readLe16(f) != kTagFileIdentifier) break;
        size_t iuLength = readLe16(f + 36);
        size_t idLength = f[19];
        size_t length = 38 + iuLength + idLength;
        if (length > total - pos) break;
        UdfEntry e;
        uint8_t characteristics = f[18];
        e.directory = (characteristics & 0x02) != 0;
        e.icbLocation = readLe32(f + 24);
        if (!(characteristics & 0x08)) {
            e.name = udfDecodeDString(f + 38 + iuLength, idLength);
            entries.push_back(std::move(e));
        }
        pos += (length + 3) & ~size_t(3);
    }
    return entries;
}

std::vector<std::string> splitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '/' || c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

// Root directory's file entry.
bool openRoot(DiscDevice& device, UdfVolume& volume, Block& root) {
    auto v = udfOpenVolume(device);
    if (!v) return false;
    volume = *v;
    Block fsd;
    if (!readBlock(device, uint64_t(volume.partitionStart) + volume.fileSetLocation, fsd) ||
        fsd.tag() != kTagFileSet || readLe16(fsd.data + 408) != 0)
        return false;
    uint32_t rootLocation = readLe32(fsd.data + 404);
    return readDirectoryEntry(device, uint64_t(volume.partitionStart) + rootLocation, root);
}

// Walks to the directory named by parts (all of them directories).
bool descend(DiscDevice& device, const UdfVolume& volume, Block& dir,
             const std::vector<std::string>& parts, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        bool found = false;
        for (const auto& e : walkDirectory(device, volume.partitionStart, dir)) {
            if (!namesEqual(e.name, parts[i])) continue;
            if (!e.directory) continue;
            if (!readDirectoryEntry(device, uint64_t(volume.partitionStart) + e.icbLocation, dir))
                return false;
            found = true;
            break;
        }
        if (!found) return false;
    }
    return true;
}

}  // namespace

DiscDevice::~DiscDevice() { close(); }

bool DiscDevice::open(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    path_ = path;
    return true;
}

void DiscDevice::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool DiscDevice::readCapacity(uint32_t& lastBlock, uint32_t& blockLength) {
    if (fd_ < 0) return false;
    ++commands_;
    struct stat st {};
    if (fstat(fd_, &st) != 0) return false;
    uint64_t bytes = 0;
    if (S_ISBLK(st.st_mode)) {
        if (ioctl(fd_, BLKGETSIZE64, &bytes) != 0) return false;
    } else if (S_ISREG(st.st_mode)) {
        bytes = uint64_t(st.st_size);
    } else {
        return false;
    }
    uint64_t blocks = bytes / kBlockSize;
    if (blocks == 0 || blocks - 1 > 0xFFFFFFFFu) return false;
    lastBlock = uint32_t(blocks - 1);
    blockLength = kBlockSize;
    return true;
}

bool DiscDevice::read10(uint32_t block, uint32_t count, uint8_t* out) {
    if (fd_ < 0) return false;
    while (count > 0) {
        uint32_t n = count < kMaxBlocksPerCommand ? count : kMaxBlocksPerCommand;
        size_t want = size_t(n) * kBlockSize;
        off_t offset = off_t(block) * kBlockSize;
        // Each command gets a second attempt, as drives report passing errors.
        bool done = false;
        for (int attempt = 0; attempt < 2 && !done; ++attempt) {
            ++commands_;
            size_t got = 0;
            while (got < want) {
                ssize_t r = pread(fd_, out + got, want - got, offset + off_t(got));
                if (r < 0 && errno == EINTR) continue;
                if (r <= 0) break;
                got += size_t(r);
            }
            done = got == want;
        }
        if (!done) return false;
        block += n;
        count -= n;
        out += want;
    }
    return true;
}

std::string udfDecodeDString(const uint8_t* data, size_t length) {
    std::string name;
    if (length == 0) return name;
    if (data[0] == 8) {
        for (size_t i = 1; i < length; ++i) name += char(data[i]);
    } else if (data[0] == 16) {
        for (size_t i = 1; i + 1 < length; i += 2) name += char(data[i + 1]);
    }
    return name;
}

std::optional<UdfVolume> udfOpenVolume(DiscDevice& device) {
    uint32_t lastBlock = 0, blockLength = 0;
    if (!device.readCapacity(lastBlock, blockLength)) return std::nullopt;
    if (blockLength != DiscDevice::kBlockSize || lastBlock < kAnchorBlock) return std::nullopt;

    Block anchor;
    if (!readBlock(device, kAnchorBlock, anchor) || anchor.tag() != kTagAnchor) {
        if (!readBlock(device, lastBlock, anchor) || anchor.tag() != kTagAnchor)
            return std::nullopt;
    }
    struct Sequence {
        uint32_t length, location;
    };
    Sequence sequences[2] = {{readLe32(anchor.data + 16), readLe32(anchor.data + 20)},
                             {readLe32(anchor.data + 24), readLe32(anchor.data + 28)}};

    UdfVolume volume;
    bool havePartition = false, haveVolume = false;
    for (const auto& seq : sequences) {
        if (havePartition && haveVolume) break;
        if (seq.length == 0) continue;
        uint32_t blocks = (seq.length - 1) / DiscDevice::kBlockSize + 1;
        if (blocks > kMaxSequenceBlocks) blocks = kMaxSequenceBlocks;
        for (uint32_t i = 0; i < blocks && !(havePartition && haveVolume); ++i) {
            Block b;
            uint16_t tag = readBlock(device, uint64_t(seq.location) + i, b) ? b.tag() : 0;
            if (tag == kTagTerminating) break;
            if (tag == kTagPartition && readLe16(b.data + 22) == 0) {
                volume.partitionStart = readLe32(b.data + 188);
                havePartition = true;
            } else if (tag == kTagLogicalVolume &&
                       readLe32(b.data + 212) == DiscDevice::kBlockSize &&
                       readLe16(b.data + 256) == 0) {
                // A fixed d-string field keeps its used length in its last byte.
                size_t used = b.data[84 + 127];
                volume.volumeId = udfDecodeDString(b.data + 84, used < 128 ? used : 127);
                volume.fileSetLocation = readLe32(b.data + 252);
                haveVolume = true;
            }
        }
    }
    if (!havePartition || !haveVolume) return std::nullopt;
    return volume;
}

std::optional<DiscExtent> udfLocate(const std::shared_ptr<DiscDevice>& device,
                                    const std::string& path) {
    if (!device || !device->isOpen()) return std::nullopt;
    auto parts = splitPath(path);
    if (parts.empty()) return std::nullopt;
    UdfVolume volume;
    Block dir;
    if (!openRoot(*device, volume, dir)) return std::nullopt;
    if (!descend(*device, volume, dir, parts, parts.size() - 1)) return std::nullopt;

    for (const auto& e : walkDirectory(*device, volume.partitionStart, dir)) {
        if (!namesEqual(e.name, parts.back())) continue;
        Block entry;
        if (!readBlock(*device, uint64_t(volume.partitionStart) + e.icbLocation, entry) ||
            entry.tag() != kTagFileEntry)
            return std::nullopt;
        auto extent = entryExtent(entry);
        if (!extent) return std::nullopt;
        uint64_t first = uint64_t(volume.partitionStart) + extent->location;
        uint64_t last = first + (extent->length - 1) / DiscDevice::kBlockSize;
        if (last > 0xFFFFFFFFu) return std::nullopt;
        DiscExtent x;
        x.device = device;
        x.firstBlock = uint32_t(first);
        x.lastBlock = uint32_t(last);
        x.currentBlock = x.firstBlock;
        x.sizeBytes = (last - first + 1) * DiscDevice::kBlockSize;
        return x;
    }
    return std::nullopt;
}

std::vector<UdfEntry> udfListDirectory(DiscDevice& device, const std::string& path) {
    auto parts = splitPath(path);
    UdfVolume volume;
    Block dir;
    if (!openRoot(device, volume, dir)) return {};
    if (!descend(device, volume, dir, parts, parts.size())) return {};
    return walkDirectory(device, volume.partitionStart, dir);
}

std::optional<DrivePath> splitDrivePath(const std::string& name) {
    for (size_t colon = name.find(':'); colon != std::string::npos;
         colon = name.find(':', colon + 1)) {
        if (colon == 0 || colon + 1 >= name.size()) continue;
        std::string device = name.substr(0, colon);
        struct stat st {};
        if (stat(device.c_str(), &st) != 0) continue;
        if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) continue;
        return DrivePath{device, name.substr(colon + 1)};
    }
    return std::nullopt;
}

std::optional<DiscExtent> openDrivePath(const std::string& name) {
    auto split = splitDrivePath(name);
    if (!split) return std::nullopt;
    auto device = std::make_shared<DiscDevice>();
    if (!device->open(split->device)) return std::nullopt;
    return udfLocate(device, split->path);
}

bool DiscLayer::load() {
    if (!g_available) return false;
    ++g_references;
    return true;
}

void DiscLayer::release() {
    if (g_references > 0) --g_references;
}

int DiscLayer::references() { return g_references; }

void DiscLayer::setAvailableForTesting(bool available) { g_available = available; }

}  // namespace zembra
