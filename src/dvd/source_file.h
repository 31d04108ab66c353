#pragma once
// One opened input: a single file, a list of files read one after the other
// as if they were one, or a file on a disc read by its blocks. Reads in
// 32768-byte blocks and hands out chunks of up to 2048 bytes that point into
// the block buffer, so the caller copies each sector once.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dvd/disc_device.h"

namespace zembra {

class SourceFile {
public:
    static constexpr int kBlockBytes = 32768;
    static constexpr int kChunkBytes = 2048;
    enum class Origin { Start, Current, End };

    // A name beginning with ':' is a list: the names after it, each ending
    // with a zero byte, the list ending with an empty name. Nothing is
    // opened for a list until the first block read. useDiscLayer tries the
    // drive path ("<image>:<path>") before the plain file; a name that is not
    // a plain file is tried as a drive path too, since an image has no other
    // way in.
    static std::unique_ptr<SourceFile> open(const std::string& name, bool useDiscLayer = false);
    // Builds the ':' list name from file names.
    static std::string listName(const std::vector<std::string>& names);
    // Size in bytes of a file (plain or drive path); nothing when it cannot be opened.
    static std::optional<uint64_t> fileSize(const std::string& name, bool useDiscLayer = false);

    ~SourceFile();
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    // Reads the next block into the block buffer; bytes read, 0 at the end,
    // negative on a failed read (-2 for a failed disc transfer).
    int readBlock();
    // Pointer to the next unread bytes and how many (at most length); reads a
    // block first when the buffer is used up, and then gives its result.
    struct Chunk {
        const uint8_t* data = nullptr;
        int length = 0;  // negative: the block read failed
    };
    Chunk takeChunk(int length);
    // Repositions the current file; new offset or -1. The block buffer counts
    // as consumed afterwards.
    int64_t seek(int64_t offset, Origin origin);
    // Reads exactly length bytes at offset (IFO access); false when short.
    [[nodiscard]] bool readAt(int64_t offset, uint8_t* out, size_t length);

    // List mode: closes the current file and opens list entry index (the
    // next one to open becomes index + 1). False when it cannot be opened.
    [[nodiscard]] bool openListEntry(int index);
    bool isList() const { return listCount_ >= 0; }
    int listCount() const { return listCount_; }
    // Index of the list entry now open (-1 when none; 0 for a single file).
    int currentIndex() const;

    bool endOfData() const { return endOfData_; }
    uint64_t size() const { return size_; }
    int64_t positionSectors() const { return positionSectors_; }
    const std::string& currentName() const { return currentName_; }
    const std::string& openedName() const { return openedName_; }

private:
    SourceFile() = default;
    bool openOne(const std::string& name);
    void closeCurrent();
    bool hasOpenFile() const { return fd_ >= 0 || extent_.has_value(); }
    int readRaw(uint8_t* out, int length);
    bool readExtentBlocks(DiscExtent& extent, uint32_t count, uint8_t* out);

    std::string currentName_;
    std::string openedName_;
    std::vector<uint8_t> block_ = std::vector<uint8_t>(kBlockBytes);
    int valid_ = 0;
    int readPos_ = 0;
    bool lastShort_ = false;
    uint64_t size_ = 0;
    int64_t positionSectors_ = 0;
    int fd_ = -1;
    std::optional<DiscExtent> extent_;
    bool useDiscLayer_ = false;
    std::vector<std::string> list_;
    int listCount_ = -1;
    int nextIndex_ = 0;
    bool endOfData_ = false;
};

}  // namespace zembra
