#include <algorithm>

#include "dvd/decoder_input.h"

namespace zembra {

PlainFileInput::~PlainFileInput() { close(); }

int PlainFileInput::open(const std::vector<std::string>& files, bool, int, int, int, bool,
                         const std::string&) {
    close();
    files_ = files;
    sizes_.clear();
    for (const auto& name : files_) {
        std::FILE* f = std::fopen(name.c_str(), "rb");
        if (!f) {
            files_.clear();
            sizes_.clear();
            return 0;
        }
        std::fseek(f, 0, SEEK_END);
        sizes_.push_back(std::max<int64_t>(0, std::ftell(f)));
        std::fclose(f);
    }
    if (files_.empty()) return 0;
    return seek(0) < 0 ? 0 : 1;
}

int PlainFileInput::reopen() {
    if (files_.empty()) return 0;
    return seek(0) < 0 ? 0 : 1;
}

bool PlainFileInput::openFile(int index) {
    if (file_ && current_ == index) return true;
    if (file_) std::fclose(file_);
    file_ = std::fopen(files_[size_t(index)].c_str(), "rb");
    current_ = file_ ? index : -1;
    return file_ != nullptr;
}

int PlainFileInput::seek(int64_t sector) {
    if (files_.empty() || sector < 0) return -1;
    int64_t offset = sector * 2048, first = 0;
    for (size_t i = 0; i < files_.size(); ++i) {
        if (offset < first + sizes_[i] || (offset == 0 && sizes_[i] == 0)) {
            if (!openFile(int(i))) return -1;
            if (std::fseek(file_, long(offset - first), SEEK_SET) != 0) return -1;
            position_ = offset;
            return 0;
        }
        first += sizes_[i];
    }
    return -1;
}

int PlainFileInput::read(uint8_t* destination, int length) {
    if (!file_) return 0;
    int done = 0;
    while (done < length) {
        const size_t n = std::fread(destination + done, 1, size_t(length - done), file_);
        if (n == 0) {
            if (std::ferror(file_)) return done ? done : -1;
            if (current_ + 1 >= int(files_.size())) break;
            if (!openFile(current_ + 1)) return done ? done : -1;
            continue;
        }
        done += int(n);
        position_ += int64_t(n);
    }
    return done;
}

int PlainFileInput::close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    current_ = -1;
    return 1;
}

int64_t PlainFileInput::currentSector() const { return position_ / 2048; }

int64_t PlainFileInput::sectorsBefore() const {
    if (current_ < 0) return -1;
    int64_t s = 0;
    for (int i = 0; i < current_; ++i) s += (sizes_[size_t(i)] + 2047) / 2048;
    return s;
}

int64_t PlainFileInput::fileSectors(int index) const {
    if (index < 0 || index >= int(sizes_.size())) return 0;
    return (sizes_[size_t(index)] + 2047) / 2048;
}

}  // namespace zembra
