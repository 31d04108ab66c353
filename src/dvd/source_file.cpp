#include "dvd/source_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "dvd/css.h"

namespace zembra {

namespace {
bool isVobName(const std::string& name) {
    if (name.size() < 4) return false;
    std::string ext = name.substr(name.size() - 4);
    for (char& c : ext) c = char(std::toupper(static_cast<unsigned char>(c)));
    return ext == ".VOB";
}
}  // namespace

std::string SourceFile::listName(const std::vector<std::string>& names) {
    std::string combined = ":";
    for (const auto& n : names) {
        combined += n;
        combined += '\0';
    }
    combined += '\0';
    return combined;
}

std::unique_ptr<SourceFile> SourceFile::open(const std::string& name, bool useDiscLayer) {
    std::unique_ptr<SourceFile> f(new SourceFile());
    f->useDiscLayer_ = useDiscLayer;
    f->openedName_ = name;
    if (!name.empty() && name[0] == ':') {
        size_t pos = 1;
        while (pos < name.size()) {
            size_t end = name.find('\0', pos);
            if (end == std::string::npos) end = name.size();
            if (end == pos) break;  // the empty name ends the list
            f->list_.push_back(name.substr(pos, end - pos));
            pos = end + 1;
        }
        if (f->list_.empty()) return nullptr;
        f->listCount_ = int(f->list_.size());
        f->nextIndex_ = 0;
        return f;
    }
    if (!f->openOne(name)) return nullptr;
    return f;
}

std::optional<uint64_t> SourceFile::fileSize(const std::string& name, bool useDiscLayer) {
    auto f = open(name, useDiscLayer);
    if (!f || f->isList()) return std::nullopt;
    return f->size();
}

SourceFile::~SourceFile() { closeCurrent(); }

bool SourceFile::openOne(const std::string& name) {
    closeCurrent();
    currentName_ = name;
    if (useDiscLayer_) {
        if (auto extent = openDrivePath(name)) {
            extent_ = std::move(extent);
            size_ = extent_->sizeBytes;
        }
    }
    if (!extent_) {
        int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (fd >= 0 && fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode)) {
            fd_ = fd;
            off_t end = lseek(fd_, 0, SEEK_END);
            size_ = end > 0 ? uint64_t(end) : 0;
            lseek(fd_, 0, SEEK_SET);
            posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
        } else {
            if (fd >= 0) ::close(fd);
            // A disc image has no plain files: its drive path is the only way in.
            if (!useDiscLayer_) {
                if (auto extent = openDrivePath(name)) {
                    extent_ = std::move(extent);
                    size_ = extent_->sizeBytes;
                }
            }
        }
    }
    if (!hasOpenFile()) return false;
    valid_ = 0;
    readPos_ = 0;
    lastShort_ = false;
    endOfData_ = false;
    positionSectors_ = 0;
    return true;
}

void SourceFile::closeCurrent() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    extent_.reset();
}

// The VOB files of a scrambled disc are read through its libdvdcss session
// once one was opened for the disc; everything else, the IFO files
// included, is read as it is.
bool SourceFile::readExtentBlocks(DiscExtent& x, uint32_t count, uint8_t* out) {
    const std::string& device = x.device->path();
    if (css::enabled(device) && isVobName(currentName_))
        return css::read(device, x.currentBlock, count, out);
    return x.device->read10(x.currentBlock, count, out);
}

int SourceFile::readRaw(uint8_t* out, int length) {
    if (fd_ >= 0) {
        int got = 0;
        while (got < length) {
            ssize_t r = ::read(fd_, out + got, size_t(length - got));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) return -1;
            if (r == 0) break;
            got += int(r);
        }
        return got;
    }
    if (extent_) {
        DiscExtent& x = *extent_;
        if (x.currentBlock > x.lastBlock) return 0;
        uint32_t count =
            std::min<uint32_t>(x.lastBlock - x.currentBlock + 1, uint32_t(length) / x.blockSize);
        if (count == 0) return 0;
        if (!readExtentBlocks(x, count, out)) return -2;
        x.currentBlock += count;
        return int(count * x.blockSize);
    }
    return 0;
}

int SourceFile::readBlock() {
    for (;;) {
        if (isList() && !hasOpenFile()) {
            // Files that cannot be opened are skipped.
            while (nextIndex_ < listCount_) {
                int index = nextIndex_++;
                if (openOne(list_[size_t(index)])) break;
            }
        }
        int result = 0;
        if (!hasOpenFile() || lastShort_) {
            endOfData_ = true;
        } else {
            result = readRaw(block_.data(), kBlockBytes);
            readPos_ = 0;
            if (result < 0) {
                valid_ = 0;
                endOfData_ = true;
                return result;
            }
            valid_ = result;
            lastShort_ = result < kBlockBytes;
            endOfData_ = result == 0;
            positionSectors_ += result / kChunkBytes;
        }
        if (endOfData_ && isList() && nextIndex_ < listCount_) {
            closeCurrent();
            continue;
        }
        return result;
    }
}

SourceFile::Chunk SourceFile::takeChunk(int length) {
    if (readPos_ >= valid_) {
        int r = readBlock();
        if (r <= 0) return {nullptr, r};
    }
    int available = valid_ - readPos_;
    int n = std::min(length, available);
    Chunk c{block_.data() + readPos_, n};
    readPos_ += n;
    if (n < length) endOfData_ = true;
    return c;
}

int64_t SourceFile::seek(int64_t offset, Origin origin) {
    int64_t result = -1;
    if (fd_ >= 0) {
        int whence = origin == Origin::Start     ? SEEK_SET
                     : origin == Origin::Current ? SEEK_CUR
                                                 : SEEK_END;
        off_t r = lseek(fd_, off_t(offset), whence);
        if (r < 0) return -1;
        result = r;
    } else if (extent_) {
        DiscExtent& x = *extent_;
        int64_t base = origin == Origin::Start ? 0
                       : origin == Origin::Current
                           ? int64_t(x.currentBlock - x.firstBlock) * x.blockSize
                           : int64_t(x.sizeBytes);
        int64_t target = base + offset;
        if (target < 0 || target > int64_t(x.sizeBytes)) return -1;
        x.currentBlock = x.firstBlock + uint32_t(target / x.blockSize);
        result = target;
    } else {
        return -1;
    }
    valid_ = 0;
    readPos_ = 0;
    lastShort_ = false;
    endOfData_ = false;
    positionSectors_ = result / kChunkBytes;
    return result;
}

bool SourceFile::readAt(int64_t offset, uint8_t* out, size_t length) {
    if (offset < 0) return false;
    if (fd_ >= 0) {
        size_t got = 0;
        while (got < length) {
            ssize_t r = pread(fd_, out + got, length - got, off_t(offset) + off_t(got));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return false;
            got += size_t(r);
        }
        return true;
    }
    if (extent_) {
        DiscExtent& x = *extent_;
        if (uint64_t(offset) + length > x.sizeBytes) return false;
        if (length == 0) return true;
        uint64_t firstBlock = uint64_t(offset) / x.blockSize;
        uint64_t lastBlock = (uint64_t(offset) + length - 1) / x.blockSize;
        std::vector<uint8_t> tmp(size_t(lastBlock - firstBlock + 1) * x.blockSize);
        if (!x.device->read10(x.firstBlock + uint32_t(firstBlock),
                              uint32_t(lastBlock - firstBlock + 1), tmp.data()))
            return false;
        std::memcpy(out, tmp.data() + (uint64_t(offset) % x.blockSize), length);
        return true;
    }
    return false;
}

bool SourceFile::openListEntry(int index) {
    if (!isList() || index < 0 || index >= listCount_) return false;
    closeCurrent();
    nextIndex_ = index + 1;
    return openOne(list_[size_t(index)]);
}

int SourceFile::currentIndex() const {
    if (!isList()) return hasOpenFile() ? 0 : -1;
    return hasOpenFile() ? nextIndex_ - 1 : -1;
}

}  // namespace zembra
