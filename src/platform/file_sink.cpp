#include "platform/file_sink.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <vector>

namespace zembra {

namespace {

// Past a file-size limit the kernel sends SIGXFSZ, which would end the
// process; ignored, write() returns EFBIG and the writer can stop cleanly.
void ignoreFileSizeSignal() {
    static const bool done = [] {
        std::signal(SIGXFSZ, SIG_IGN);
        return true;
    }();
    (void)done;
}

}  // namespace

FileSink::~FileSink() {
    if (fd_ >= 0) ::close(fd_);
}

bool FileSink::open(const std::string& path) {
    ignoreFileSizeSignal();
    if (fd_ >= 0) (void)close();
    error_ = 0;
    size_ = 0;
    stream_ = false;
    // Emptied only once the lock is held: another rip's file stays whole.
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno == EACCES)
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0 && ::ftruncate(fd_, 0) == 0) return true;
    error_ = errno;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return false;
}

bool FileSink::openStandardOutput() {
    ignoreFileSizeSignal();
    if (fd_ >= 0) (void)close();
    error_ = 0;
    size_ = 0;
    stream_ = true;
    fd_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (fd_ >= 0) return true;
    error_ = errno;
    return false;
}

bool FileSink::openStream(const std::string& path) {
    ignoreFileSizeSignal();
    if (fd_ >= 0) (void)close();
    error_ = 0;
    size_ = 0;
    stream_ = true;
    // Read-write opens a FIFO without waiting for its reader.
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0 && errno == EACCES) fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ >= 0) return true;
    error_ = errno;
    return false;
}

bool FileSink::busy(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

bool FileSink::writeAt(uint64_t offset, const iovec* parts, int count) {
    if (fd_ < 0) {
        error_ = EBADF;
        return false;
    }
    std::vector<iovec> left(parts, parts + count);
    size_t first = 0;
    while (first < left.size()) {
        if (left[first].iov_len == 0) {
            ++first;
            continue;
        }
        int n = int(std::min<size_t>(left.size() - first, IOV_MAX));
        ssize_t done = stream_ ? ::writev(fd_, &left[first], n)
                               : ::pwritev(fd_, &left[first], n, off_t(offset));
        if (done < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            return false;
        }
        if (done == 0) {
            error_ = ENOSPC;
            return false;
        }
        offset += uint64_t(done);
        size_t d = size_t(done);
        while (d > 0 && first < left.size()) {
            size_t take = std::min(d, left[first].iov_len);
            left[first].iov_base = static_cast<char*>(left[first].iov_base) + take;
            left[first].iov_len -= take;
            d -= take;
            if (left[first].iov_len == 0) ++first;
        }
    }
    return true;
}

bool FileSink::append(const iovec* parts, int count) {
    uint64_t total = 0;
    for (int i = 0; i < count; ++i) total += parts[i].iov_len;
    if (!writeAt(size_, parts, count)) {
        // Keep only complete pieces: a partial tail would confuse readers.
        if (fd_ >= 0 && !stream_ && ::ftruncate(fd_, off_t(size_)) != 0) {
            // The tail stays; size_ still marks where the good data ends.
        }
        return false;
    }
    size_ += total;
    return true;
}

bool FileSink::append(const void* data, size_t size) {
    iovec part{const_cast<void*>(data), size};
    return append(&part, 1);
}

bool FileSink::patch(uint64_t offset, const void* data, size_t size) {
    if (stream_) {
        error_ = ESPIPE;
        return false;
    }
    if (offset + size > size_) {
        error_ = EINVAL;
        return false;
    }
    iovec part{const_cast<void*>(data), size};
    return writeAt(offset, &part, 1);
}

std::optional<size_t> FileSink::read(uint64_t offset, void* data, size_t size) {
    if (fd_ < 0 || stream_) {
        error_ = fd_ < 0 ? EBADF : ESPIPE;
        return std::nullopt;
    }
    // Only what the file holds for the writer: never a tail a failed append
    // left behind.
    size = offset >= size_ ? 0 : size_t(std::min<uint64_t>(size, size_ - offset));
    size_t got = 0;
    while (got < size) {
        ssize_t n = ::pread(fd_, static_cast<char*>(data) + got, size - got, off_t(offset + got));
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            return std::nullopt;
        }
        if (n == 0) break;
        got += size_t(n);
    }
    return got;
}

bool FileSink::truncate(uint64_t size) {
    if (fd_ < 0 || stream_ || size > size_) {
        error_ = EINVAL;
        return false;
    }
    if (::ftruncate(fd_, off_t(size)) != 0) {
        error_ = errno;
        return false;
    }
    size_ = size;
    return true;
}

bool FileSink::close() {
    if (fd_ < 0) return true;
    // Drops a partial tail a failed append could not take back at once.
    bool ok = stream_ || ::ftruncate(fd_, off_t(size_)) == 0;
    if (!ok) error_ = errno;
    int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0) {
        error_ = errno;
        return false;
    }
    return ok;
}

}  // namespace zembra
