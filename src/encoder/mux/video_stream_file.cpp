#include "encoder/mux/video_stream_file.h"

#include <filesystem>

namespace zembra {

void VideoStreamFile::reset(const std::string& path) {
    if (sink_.isOpen()) (void)sink_.close();
    path_ = path;
    store_.clear();
    cache_.clear();
    pictureEnds_.clear();
    written_ = 0;
    failed_ = false;
}

Status VideoStreamFile::pushVideoUnit(const VideoUnit& unit) {
    if (failed_) return Status::failed();
    const std::size_t size = unit.size > 0 ? static_cast<std::size_t>(unit.size) : 0;
    const std::size_t at = cache_.size();
    cache_.resize(at + size);
    cache_.resize(at + store_.take(cache_.data() + at, size));
    pictureEnds_.push_back(cache_.size());
    return {};
}

Status VideoStreamFile::failure(Status why) {
    failed_ = true;
    cache_.clear();
    pictureEnds_.clear();
    // A file that did not get one whole picture is of no use to anybody.
    if (sink_.isOpen() && written_ == 0) {
        (void)sink_.close();
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    return why;
}

Status VideoStreamFile::flush() {
    if (failed_) return Status::failed();
    if (cache_.empty()) return {};
    if (!sink_.isOpen() && !sink_.open(path_)) {
        if (sink_.lockedByAnother())
            return failure(Status::warning("STR_ERROR_OutputBusy").leadBy(path_ + " "));
        return failure(Status::warning("STR_ERROR_357", " " + path_));
    }
    if (!sink_.append(cache_.data(), cache_.size())) {
        // The sink took nothing of it: keep the pictures that still fit,
        // one by one, so the stream ends on a whole picture.
        std::size_t start = 0;
        for (std::size_t end : pictureEnds_) {
            if (!sink_.append(cache_.data() + start, end - start)) break;
            written_ += end - start;
            start = end;
        }
        return failure(Status::error("STR_ERROR_346"));
    }
    written_ += cache_.size();
    cache_.clear();
    pictureEnds_.clear();
    return {};
}

Status VideoStreamFile::drain() {
    // The sequence's end code follows the last picture without a unit.
    if (!failed_ && store_.size() > 0) {
        VideoUnit rest;
        rest.size = static_cast<int>(store_.size());
        (void)pushVideoUnit(rest);
    }
    Status flushed = flush();
    if (sink_.isOpen() && !sink_.close() && flushed.ok())
        flushed = failure(Status::warning("STR_ERROR_359", " " + path_));
    return flushed;
}

}  // namespace zembra
