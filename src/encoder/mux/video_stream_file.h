#pragma once
// The coded pictures alone, as a video elementary stream file (.m1v, .m2v):
// no packs, no sound, nothing to pace. What tools that multiplex for
// themselves (or authoring tools) take as their input. The encoder hands it
// its units as it hands them to the multiplexer, and a failed write leaves
// the file ending with the last whole picture that reached the disk.

#include <cstdint>
#include <string>
#include <vector>

#include "encoder/mux/es_store.h"
#include "encoder/units.h"
#include "platform/file_sink.h"
#include "platform/status.h"

namespace zembra {

class VideoStreamFile {
public:
    static constexpr std::size_t kCacheSize = 1048576;

    // New piece: nothing written yet; the file is made by the first pump
    // that has a picture for it.
    void reset(const std::string& path);
    EsStore& videoStore() { return store_; }
    Status pushVideoUnit(const VideoUnit& unit);
    // Writes the cached pictures once they fill the cache.
    Status pump() { return cache_.size() >= kCacheSize ? flush() : Status{}; }
    // Writes what is left and closes the file.
    Status drain();

    bool started() const { return sink_.isOpen() || written_ > 0; }
    bool failed() const { return failed_; }
    std::uint64_t bytesWritten() const { return written_ + cache_.size(); }

private:
    Status flush();
    Status failure(Status why);

    std::string path_;
    EsStore store_;
    FileSink sink_;
    std::vector<std::uint8_t> cache_;
    // Where each cached picture ends, so a short write keeps whole pictures.
    std::vector<std::size_t> pictureEnds_;
    std::uint64_t written_ = 0;
    bool failed_ = false;
};

}  // namespace zembra
