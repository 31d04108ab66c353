#pragma once
// An output file written strictly forward in whole pieces, with earlier bytes
// patched in place. Every append either lands completely or is taken back, so
// what the file holds is always a run of complete pieces; a failure (full
// disk, file-size limit) is reported, never fatal.

#include <sys/uio.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>

namespace zembra {

class FileSink {
public:
    FileSink() = default;
    ~FileSink();
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    // Creates (or empties) the file and holds an advisory lock (flock) on it
    // until close, so two rips never write one file: when another writer
    // holds it, open fails with lastError() == EWOULDBLOCK and leaves the
    // file as it is.
    [[nodiscard]] bool open(const std::string& path);
    // Standard output as the sink, for a pipe or whatever the caller made of
    // it: appends go out in order, but one that fails cannot be taken back,
    // and nothing can be patched, read or cut.
    [[nodiscard]] bool openStandardOutput();
    // The same for a device or pipe that exists under `path` (/dev/null, a
    // FIFO): written as it is, neither locked nor emptied.
    [[nodiscard]] bool openStream(const std::string& path);
    // True when another writer holds the lock of this existing file.
    static bool busy(const std::string& path);
    // Writes the pieces one after the other at the end of the file. On
    // failure the file is cut back to its previous length.
    [[nodiscard]] bool append(const iovec* parts, int count);
    [[nodiscard]] bool append(const void* data, size_t size);
    // Overwrites bytes already in the file.
    [[nodiscard]] bool patch(uint64_t offset, const void* data, size_t size);
    // Reads back up to `size` bytes of what the file holds from `offset`:
    // the count read (short only at the end), nothing on a failure. A file
    // the user may write but not read opens all the same; reading it fails.
    [[nodiscard]] std::optional<size_t> read(uint64_t offset, void* data, size_t size);
    // Cuts the file back to `size` bytes (never grows it).
    [[nodiscard]] bool truncate(uint64_t size);
    [[nodiscard]] bool close();

    bool isOpen() const { return fd_ >= 0; }
    // Opened as a stream: standard output, a device or a pipe.
    bool isStream() const { return stream_; }
    uint64_t size() const { return size_; }
    // errno of the last failure, 0 when none.
    int lastError() const { return error_; }
    bool lockedByAnother() const { return error_ == EWOULDBLOCK; }

private:
    bool writeAt(uint64_t offset, const iovec* parts, int count);

    int fd_ = -1;
    bool stream_ = false;  // standard output: no offsets to write at
    uint64_t size_ = 0;
    int error_ = 0;
};

}  // namespace zembra
