#include "dvd/source_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "dvd/css.h"
#include "platform/job_reporter.h"

namespace zembra {

namespace {
constexpr int64_t kSector = 2048;
constexpr int64_t kSectorsPerBlock = SourceFile::kBlockBytes / kSector;
constexpr int64_t kMegabyte = 1048576;
constexpr int64_t kProgressThreshold = 10239;  // sectors; larger reads show progress
const char* const kDefaultTempPath = "./~tempdata.dat";
// Sectors looked at for scrambled packs where a title starts: a VOB unit's
// navigation pack is clear, the packs after it are scrambled on CSS discs.
constexpr int kScrambleProbeSectors = 32;

std::string quoted(const std::string& name) { return "\"" + name + "\""; }
}  // namespace

SourceReader::SourceReader(JobReporter& reporter, TitleCatalogue& catalogue)
    : reporter_(reporter), catalogue_(catalogue) {}

SourceReader::~SourceReader() { closeSource(); }

const TitleRecord* SourceReader::chosenTitle() const {
    return title_ >= 0 ? catalogue_.title(title_) : nullptr;
}

Status SourceReader::allocateBuffers() {
    if (bufferMegabytes_ <= 0) bufferMegabytes_ = 1;
    bufferBytes_ = int64_t(bufferMegabytes_) * kMegabyte;
    capacity_ = bufferOnDisk_ ? kDiskModeBufferBytes : bufferBytes_ + kSector;
    buffer_.reset(new (std::nothrow) uint8_t[size_t(capacity_)]);
    if (!buffer_) {
        capacity_ = 0;
        return Status::error("STR_ERROR_55");
    }
    valid_ = 0;
    readPos_ = 0;
    if (bufferOnDisk_) {
        if (tempPath_.empty()) tempPath_ = kDefaultTempPath;
        temp_ = std::fopen(tempPath_.c_str(), "wb+");
        if (!temp_) {
            buffer_.reset();
            capacity_ = 0;
            return Status::error("STR_ERROR_54");
        }
        tempContent_ = 0;
        // Counts as read back, so the first refill fills the file.
        tempReadBack_ = bufferBytes_;
    }
    return {};
}

void SourceReader::releaseBuffers() {
    file_.reset();
    buffer_.reset();
    capacity_ = 0;
    valid_ = 0;
    readPos_ = 0;
    if (temp_) {
        std::fclose(temp_);
        temp_ = nullptr;
        std::remove(tempPath_.c_str());
    }
    tempContent_ = 0;
    tempReadBack_ = 0;
    stopPending_ = false;
    bufferRunBytes_ = 0;
}

Status SourceReader::openSource(const std::vector<std::string>& files, bool useDiscLayer, int angle,
                                int title, int bufferMegabytes, bool bufferOnDisk,
                                const std::string& tempPath) {
    Status opened =
        openFiles(files, useDiscLayer, angle, title, bufferMegabytes, bufferOnDisk, tempPath);
    if (!opened) releaseBuffers();
    initialised_ = opened.ok();
    return opened;
}

Status SourceReader::openFiles(const std::vector<std::string>& files, bool useDiscLayer, int angle,
                               int title, int bufferMegabytes, bool bufferOnDisk,
                               const std::string& tempPath) {
    releaseBuffers();
    if (discLayerLoaded_) DiscLayer::release();
    discLayerLoaded_ = false;
    initialised_ = false;
    combinedName_.clear();
    files_ = files;
    title_ = title;
    angle_ = angle;
    useDiscLayerWanted_ = useDiscLayer;
    useDiscLayer_ = useDiscLayer;
    if (useDiscLayer_) {
        discLayerLoaded_ = DiscLayer::load();
        if (!discLayerLoaded_) useDiscLayer_ = false;
    }
    bufferMegabytes_ = bufferMegabytes;
    bufferOnDisk_ = bufferOnDisk;
    tempPath_ = tempPath.empty() ? kDefaultTempPath : tempPath;
    if (Status buffers = allocateBuffers(); !buffers) return buffers;

    cancel_ = false;
    stopSector_ = 0;
    endedShort_ = false;
    readFailed_ = false;
    fileSectors_.clear();
    for (const auto& name : files_) {
        auto size = SourceFile::fileSize(name, useDiscLayer_);
        // Named, so the user knows which of the set's files is missing.
        if (!size) return Status::plain(BoxKind::Error, "fio_open Fail!\r\n " + quoted(name));
        fileSectors_.push_back(int64_t(*size >> 11));
    }
    if (files_.empty()) return Status::plain(BoxKind::Error, "fio_open Fail!");
    combinedName_ = files_.size() == 1 ? files_[0] : SourceFile::listName(files_);

    TitleRecord* chosen = title_ >= 0 ? catalogue_.title(title_) : nullptr;
    // A title the catalogue does not have would silently read the whole set.
    if (title_ >= 0 && !chosen) return Status::error("STR_ERROR_51", "\r\n " + quoted(files_[0]));
    if (chosen && angle_ > 0) {
        // Cells of the other angles of a block stay in the stream but add no
        // time and match no navigation ids.
        for (auto& cell : chosen->cells) {
            int count = cell.angle >> 4;
            int number = cell.angle & 0x0F;
            if (count >= angle_ && number != angle_) {
                cell.vobId = 0;
                cell.cellId = 0;
                cell.duration = 0.0;
            }
        }
    }
    if (chosen) {
        double total = 0.0;
        for (const auto& cell : chosen->cells) total += cell.duration;
        chosen->duration = total;
    }

    int64_t start = chosen && !chosen->cells.empty() ? chosen->cells[0].firstSector : 0;
    if (Status readable = readableUnscrambled(start); !readable) return readable;
    int blockResult = 0;
    return seekTo(start, blockResult);
}

// The first sectors from `sector` as this reader gets them: true when any of
// them is a scrambled pack.
bool SourceReader::scrambledAt(int64_t sector) const {
    int64_t before = 0;
    size_t file = 0;
    while (file < fileSectors_.size() && sector >= before + fileSectors_[file])
        before += fileSectors_[file++];
    if (file >= files_.size()) return false;
    auto f = SourceFile::open(files_[file], useDiscLayer_);
    if (!f || f->seek((sector - before) * kSector, SourceFile::Origin::Start) < 0) return false;
    for (int i = 0; i < kScrambleProbeSectors; ++i) {
        const SourceFile::Chunk c = f->takeChunk(int(kSector));
        if (c.length < int(kSector)) return false;
        if (css::sectorScrambled(c.data, size_t(c.length))) return true;
    }
    return false;
}

// A CSS-scrambled title is read through libdvdcss from its disc or disc
// image; without the library (or from copied files, which carry no keys) it
// is refused before anything is decoded or written: its packs would decode
// to garbage.
Status SourceReader::readableUnscrambled(int64_t start) {
    if (!scrambledAt(start)) return {};
    if (auto drive = splitDrivePath(files_.front());
        drive && css::enable(drive->device) && !scrambledAt(start))
        return {};
    const TitleRecord* chosen = title_ >= 0 ? catalogue_.title(title_) : nullptr;
    return Status::error(
        "STR_ERROR_CssScrambled",
        "\r\n " + (chosen ? chosen->label + "  " : std::string()) + quoted(files_.front()));
}

Status SourceReader::reopenSource() {
    if (!initialised_) return Status::failed();
    releaseBuffers();
    if (useDiscLayerWanted_ && !discLayerLoaded_) {
        if (DiscLayer::load()) {
            discLayerLoaded_ = true;
            useDiscLayer_ = true;
        } else {
            // Asked here: the answer decides how the reopening goes on.
            const Status question =
                Status::question("STR_ERROR_47", "\r\n" + reporter_.text("STR_ERROR_30"));
            if (!reporter_.confirm(question)) return Status::failed();
            useDiscLayerWanted_ = false;
            useDiscLayer_ = false;
        }
    }
    if (Status buffers = allocateBuffers(); !buffers) return buffers;
    stopSector_ = 0;
    endedShort_ = false;
    readFailed_ = false;
    const TitleRecord* chosen = chosenTitle();
    int64_t start = chosen && !chosen->cells.empty() ? chosen->cells[0].firstSector : 0;
    int blockResult = 0;
    Status sought = seekTo(start, blockResult);
    if (!sought) releaseBuffers();
    return sought;
}

int SourceReader::closeSource() {
    releaseBuffers();
    if (discLayerLoaded_) DiscLayer::release();
    discLayerLoaded_ = false;
    useDiscLayer_ = false;
    return 1;
}

int SourceReader::findFile(int64_t sector, int64_t& firstOfFile) const {
    if (sector < 0) return -1;
    if (fileSectors_.size() == 1) {
        firstOfFile = 0;
        return sector < fileSectors_[0] ? 0 : -1;
    }
    int64_t first = 0;
    for (size_t i = 0; i < fileSectors_.size(); ++i) {
        if (sector < first + fileSectors_[i]) {
            firstOfFile = first;
            return int(i);
        }
        first += fileSectors_[i];
    }
    return -1;
}

Status SourceReader::positionAt(int64_t sector, int& blockResult) {
    int64_t first = 0;
    int index = findFile(sector, first);
    if (index < 0 || !file_) return Status::failed();
    if (files_.size() > 1 && file_->currentIndex() != index) {
        if (!file_->openListEntry(index))
            return Status::error("STR_ERROR_50", spaced(quoted(files_[size_t(index)])));
    }
    if (file_->seek((sector - first) * kSector, SourceFile::Origin::Start) < 0)
        return Status::failed();
    int r = file_->readBlock();
    blockResult = r < 0 ? r : 0;
    return {};
}

// The decoder seeks in the middle of its work and goes on with its own
// message when the seek fails (a reseek's "cannot seek"): the reader's
// reason comes out first, as the seek meets it.
int SourceReader::seekSource(int64_t sector) {
    int blockResult = 0;
    const Status sought = seekTo(sector, blockResult);
    if (sought.ok()) return blockResult;
    if (sought.hasMessage()) reporter_.notice(sought);
    return -1;
}

Status SourceReader::openInput() {
    file_ = SourceFile::open(combinedName_, useDiscLayer_);
    std::string shown = files_.size() == 1 ? combinedName_ : files_.empty() ? "" : files_[0];
    if (!file_) return Status::error("STR_ERROR_51", "\r\n " + quoted(shown));
    SourceFile::Chunk first = file_->takeChunk(SourceFile::kChunkBytes);
    if (first.length < SourceFile::kChunkBytes) {
        file_.reset();
        return Status::error("STR_ERROR_50", "\r\n " + quoted(shown));
    }
    return {};
}

Status SourceReader::seekTo(int64_t sector, int& blockResult) {
    if (!buffer_) return Status::failed();
    if (!file_) {
        if (Status input = openInput(); !input) return input;
    }
    blockResult = 0;
    if (seekInBuffer(sector)) return {};
    if (Status positioned = positionAt(sector, blockResult); !positioned) return positioned;

    valid_ = 0;
    readPos_ = 0;
    bufferRunBytes_ = 0;
    currentSector_ = sector;
    // A new position starts clean: an earlier stop does not stop this read.
    stopSector_ = 0;
    stopPending_ = false;
    endedShort_ = false;
    readFailed_ = false;
    if (const TitleRecord* t = chosenTitle()) {
        if (Status landed = landInTitle(*t, sector, blockResult); !landed) return landed;
    }
    if (temp_) {
        std::rewind(temp_);
        tempReadBack_ = tempContent_;
    }
    return {};
}

// The cell a sought sector belongs to. A sector in none of the title's cells
// (skipping ahead after a read error, or going back for an overlap, can land
// in a gap between cells or past the last one) goes on with the first cell
// that starts after it, and past the last cell the title has ended: taking
// the first cell instead would read the title's beginning again.
Status SourceReader::landInTitle(const TitleRecord& t, int64_t sector, int& blockResult) {
    const size_t count = t.cells.size();
    size_t c = 0;
    while (c < count && !(t.cells[c].firstSector <= sector && sector <= t.cells[c].lastSector)) ++c;
    if (c == count) {
        c = 0;
        while (c < count && t.cells[c].firstSector <= sector) ++c;
        if (c < count) {
            if (Status positioned = positionAt(t.cells[c].firstSector, blockResult); !positioned)
                return positioned;
            currentSector_ = t.cells[c].firstSector;
        }
    }
    cell_ = int(c);
    consumedInCell_ = c < count ? currentSector_ - t.cells[c].firstSector : 0;
    return {};
}

// A seek to a sector the read buffer already holds (the decoder going back
// to the title's start when it reopens, or to the start of a pass) moves the
// read pointer instead of reading the sectors again: a prefill may have read
// the whole title. Only consecutive sectors map to buffer offsets.
bool SourceReader::seekInBuffer(int64_t sector) {
    if (bufferRunBytes_ == 0 || sector < bufferFirstSector_) return false;
    const int64_t offset = (sector - bufferFirstSector_) * kSector;
    const int64_t run = bufferRunBytes_ < 0 ? valid_ : bufferRunBytes_;
    if (offset >= run) return false;
    // Reading goes on as it would have from there: through the rest of the
    // buffer, then on with the cell walk (or to the read error it met).
    readPos_ = offset;
    currentSector_ = sector;
    return true;
}

void SourceReader::markLoadStart() {
    const TitleRecord* t = chosenTitle();
    const bool mapped = t && cell_ < int(t->cells.size()) && !bufferOnDisk_;
    bufferRunBytes_ = mapped ? -1 : 0;
    if (mapped) bufferFirstSector_ = t->cells[size_t(cell_)].firstSector + consumedInCell_;
}

void SourceReader::endBufferRun() {
    if (bufferRunBytes_ < 0) bufferRunBytes_ = valid_;
}

int64_t SourceReader::getSectorsBefore() const {
    if (!file_) return -1;
    int index = file_->currentIndex();
    int64_t before = 0;
    for (int i = 0; i < index && i < int(fileSectors_.size()); ++i)
        before += fileSectors_[size_t(i)];
    return before;
}

int64_t SourceReader::getFileSectors(int index) const {
    if (index < 0 || index >= int(fileSectors_.size())) return 0;
    return fileSectors_[size_t(index)];
}

int SourceReader::getFileIndex() const { return file_ ? file_->currentIndex() : -1; }

void SourceReader::updateCurrentFromFile() {
    if (file_) currentSector_ = getSectorsBefore() + file_->positionSectors();
}

void SourceReader::restoreStatus(bool shown) {
    if (shown) reporter_.setStatus(idleStatus_);
}

int SourceReader::readSource(uint8_t* destination, int length) {
    if (!buffer_ || length < 0) return 0;
    int64_t available = valid_ - readPos_;
    if (length <= available) {
        std::memcpy(destination, buffer_.get() + readPos_, size_t(length));
        readPos_ += length;
        currentSector_ += length / kSector;
        return length;
    }
    if (available > 0) std::memcpy(destination, buffer_.get() + readPos_, size_t(available));
    readPos_ = valid_;
    const int64_t missing = length - available;
    if (!stopPending_ || readBackLeft()) {
        if (!stopPending_) stopSector_ = 0;
        refill();
        // What the load read before the bad sector still goes out; the
        // error comes once it is used up.
        if (stopSector_ != 0) stopPending_ = true;
    } else {
        valid_ = 0;
        readPos_ = 0;
    }
    // Fewer bytes than asked for come at the end of the title (its last odd
    // sector with 4096-byte reads) or before a bad sector: they are the
    // title's all the same.
    const int64_t got = std::min(valid_, missing);
    if (available + got == 0) {
        if (!stopPending_) return 0;
        // Skipping ahead starts from the bad sector itself.
        stopPending_ = false;
        currentSector_ = stopSector_ - 1;
        return -1;
    }
    std::memcpy(destination + available, buffer_.get(), size_t(got));
    readPos_ = got;
    currentSector_ += (available + got) / kSector;
    return int(available + got);
}

bool SourceReader::readBackLeft() const {
    return temp_ && prefill_ && bufferOnDisk_ && tempReadBack_ < tempContent_;
}

int SourceReader::refill() {
    valid_ = 0;
    readPos_ = 0;
    if (!file_ || !buffer_) return 0;
    const TitleRecord* t = chosenTitle();
    if (!t) {
        // Plain files: whatever comes, until half a megabyte is buffered.
        while (valid_ < kPlainRefillBytes) {
            SourceFile::Chunk c = file_->takeChunk(SourceFile::kChunkBytes);
            if (c.length <= 0) break;
            std::memcpy(buffer_.get() + valid_, c.data, size_t(c.length));
            valid_ += c.length;
        }
        return 1;
    }
    if (!prefill_) {
        updateCurrentFromFile();
        markLoadStart();
        readSectors(kTitleRefillSectors);
        return 1;
    }
    if (!bufferOnDisk_) {
        updateCurrentFromFile();
        markLoadStart();
        readSectors(bufferBytes_ / kSector);
        if (stopping()) valid_ = 0;  // a cancelled prefill delivers nothing
        return 1;
    }
    if (!temp_) return 0;
    if (tempReadBack_ >= tempContent_) {
        std::rewind(temp_);
        tempContent_ = 0;
        tempReadBack_ = 0;
        updateCurrentFromFile();
        int stored = readSectors(bufferBytes_ / kSector);
        if (stopping() || stored == 0) return 0;
        tempContent_ = int64_t(stored) * kSector;
        std::fflush(temp_);
        std::rewind(temp_);
    }
    int64_t want = std::min(tempContent_ - tempReadBack_, kDiskReadBackBytes);
    size_t got = std::fread(buffer_.get(), 1, size_t(want), temp_);
    valid_ = int64_t(got);
    tempReadBack_ += int64_t(got);
    if (int64_t(got) < want) tempReadBack_ = tempContent_;  // a short read-back ends this load
    return 1;
}

int SourceReader::readSectors(int64_t n) {
    const TitleRecord* t = chosenTitle();
    if (!t || cell_ >= int(t->cells.size())) return 0;
    bool toDisk = prefill_ && bufferOnDisk_;
    bool showProgress = n > kProgressThreshold;
    std::string caption;
    if (showProgress) {
        caption = reporter_.text(toDisk ? "STR_ERROR_314" : "STR_ERROR_315");
        reporter_.setStatus(caption);
    }
    int64_t count = 0;
    bool ended = false;
    while (!ended) {
        const CellRecord& cell = t->cells[size_t(cell_)];
        int64_t cellLength = cell.lastSector >= cell.firstSector
                                 ? int64_t(cell.lastSector) - cell.firstSector + 1
                                 : 0;
        while (consumedInCell_ < cellLength && count < n) {
            // Never write past the buffer, whatever the chunk sizes were.
            if (!toDisk && valid_ + SourceFile::kChunkBytes > capacity_) {
                ended = true;
                break;
            }
            SourceFile::Chunk c = file_->takeChunk(SourceFile::kChunkBytes);
            ++consumedInCell_;
            if (c.length < 0) {
                restoreStatus(showProgress);
                endBufferRun();
                if (prefill_) {
                    // The sectors stored so far are good and stay.
                    stopSector_ = int64_t(cell.firstSector) + consumedInCell_;
                    return int(count);
                }
                reporter_.notice(
                    Status::error("STR_ERROR_50", spaced(quoted(file_->currentName()))));
                readFailed_ = true;
                valid_ = 0;  // the read fails as a whole, once
                return 0;
            }
            if (c.length == 0) {
                endedShort_ = true;
                ended = true;
                break;
            }
            if (toDisk) {
                if (std::fwrite(c.data, 1, size_t(c.length), temp_) != size_t(c.length)) {
                    reporter_.notice(Status::error("STR_ERROR_56"));
                    restoreStatus(showProgress);
                    return 0;
                }
            } else {
                std::memcpy(buffer_.get() + valid_, c.data, size_t(c.length));
                valid_ += c.length;
            }
            count += c.length / kSector;
            if (showProgress && c.length == kSector && count % 1024 == 0) {
                int64_t stored = toDisk ? count * kSector : valid_;
                char status[512];
                std::snprintf(status, sizeof status, "%s [%d MB]", caption.c_str(),
                              int(stored / kMegabyte));
                reporter_.setStatus(status);
                reporter_.setProgress(int(count * 100 / n), 100);
                reporter_.pumpMessages();
                if (stopping()) {
                    restoreStatus(showProgress);
                    return 0;
                }
            }
            // A stop from another thread is seen after every block too: on a
            // slow drive the progress steps above come seconds apart.
            if (count % kSectorsPerBlock == 0 && stopping()) {
                restoreStatus(showProgress);
                return 0;
            }
        }
        if (ended || count >= n) break;
        // End of the cell: on to the next; only a gap moves the file position.
        uint32_t previousLast = cell.lastSector;
        ++cell_;
        if (cell_ >= int(t->cells.size())) break;
        const CellRecord& next = t->cells[size_t(cell_)];
        consumedInCell_ = 0;
        if (next.firstSector != previousLast + 1) {
            endBufferRun();
            int blockResult = 0;
            // Met while the decoder reads: told as it comes up.
            if (Status positioned = positionAt(next.firstSector, blockResult); !positioned) {
                if (positioned.hasMessage()) reporter_.notice(positioned);
                // The file still stands where the last cell ended: what
                // follows there is not the title's, so the title ends here.
                cell_ = int(t->cells.size());
                break;
            }
        }
    }
    restoreStatus(showProgress);
    return int(count);
}

}  // namespace zembra
