#pragma once
// The title reader: walks the chosen title's cells and copies their sectors,
// unchanged, into a read buffer in memory or a temporary file on disk; the
// decoder reads that program stream with readSource. Without a title (plain
// VOB or MPEG files) the files' bytes are handed on as they come.
// Opening returns its status for the caller to show; what a seek or a read
// meets in the middle of decoding is told to the job reporter as it comes up.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dvd/source_file.h"
#include "dvd/title_catalogue.h"
#include "platform/cancel_token.h"
#include "platform/status.h"

namespace zembra {

class JobReporter;

class SourceReader {
public:
    static constexpr int64_t kDiskModeBufferBytes = 2099200;  // 2 MB + one sector
    static constexpr int64_t kDiskReadBackBytes = 2097152;
    static constexpr int64_t kPlainRefillBytes = 524288;
    static constexpr int kTitleRefillSectors = 16;

    SourceReader(JobReporter& reporter, TitleCatalogue& catalogue);
    ~SourceReader();
    SourceReader(const SourceReader&) = delete;
    SourceReader& operator=(const SourceReader&) = delete;

    // files: the title set's VOB files in order (or plain files); title: index
    // into the catalogue, -1 for plain files; tempPath: the disk buffer file
    // ("hdcache.dat" in the output folder), empty for "./~tempdata.dat".
    Status openSource(const std::vector<std::string>& files, bool useDiscLayer, int angle,
                      int title, int bufferMegabytes, bool bufferOnDisk,
                      const std::string& tempPath = {});
    // Back to the title's start after closeSource; a missing disc layer is a
    // question (Yes goes on with plain files).
    Status reopenSource();
    // -1 on failure (told), else the result of the first block read (0 or
    // negative).
    int seekSource(int64_t sector);
    // length; 0 when the stream ends first; -1 when a prefill stopped on a
    // read error (getStopSector tells where).
    int readSource(uint8_t* destination, int length);
    int closeSource();

    void setPrefill(bool on) { prefill_ = on; }
    int64_t getCurrentSector() const { return currentSector_; }
    int64_t getStopSector() const { return stopSector_; }
    // True once the files gave out before the title's last sector (a VOB cut
    // short): what was read is all there is of the title.
    bool endedBeforeTitleEnd() const { return endedShort_; }
    // True once a read without prefill failed (said, and taken as the end of
    // the input): what was read is all there is, short of the title's end.
    bool readFailed() const { return readFailed_; }
    int64_t getSectorsBefore() const;
    int64_t getFileSectors(int index) const;
    // Index of the file of the set now being read (-1 when nothing is open).
    int getFileIndex() const;

    // Cancel request of the running job; cleared by openSource.
    void setCancel(bool requested) { cancel_ = requested; }
    // A stop flag another thread may raise (may be null): seen like the
    // request above, also between the steps of a prefill.
    void setCancelFlag(const CancelToken* flag) { stopFlag_ = flag; }
    bool cancelRequested() const { return stopping(); }
    // Status text put back after a buffering caption.
    void setIdleStatus(const std::string& text) { idleStatus_ = text; }

    bool isInitialised() const { return initialised_; }
    bool isOpen() const { return buffer_ != nullptr; }
    int title() const { return title_; }
    int currentCell() const { return cell_; }
    int64_t bufferBytes() const { return bufferBytes_; }
    const std::string& combinedName() const { return combinedName_; }
    // Where this reader tells what it meets while the decoder reads.
    JobReporter& reporter() const { return reporter_; }

private:
    Status openFiles(const std::vector<std::string>& files, bool useDiscLayer, int angle, int title,
                     int bufferMegabytes, bool bufferOnDisk, const std::string& tempPath);
    bool scrambledAt(int64_t sector) const;
    Status readableUnscrambled(int64_t start);
    Status allocateBuffers();
    void releaseBuffers();
    int refill();
    bool readBackLeft() const;
    Status openInput();
    Status seekTo(int64_t sector, int& blockResult);
    bool seekInBuffer(int64_t sector);
    Status landInTitle(const TitleRecord& title, int64_t sector, int& blockResult);
    void markLoadStart();            // a memory load begins at the cell walk's next sector
    void endBufferRun();             // the load leaves consecutive sectors: a gap, a read error
    int readSectors(int64_t count);  // the cell walk; sectors stored
    Status positionAt(int64_t sector, int& blockResult);
    int findFile(int64_t sector, int64_t& firstOfFile) const;
    void updateCurrentFromFile();
    void restoreStatus(bool shown);
    const TitleRecord* chosenTitle() const;

    JobReporter& reporter_;
    TitleCatalogue& catalogue_;

    bool useDiscLayer_ = false;
    bool discLayerLoaded_ = false;
    int title_ = -1;
    int angle_ = 0;
    int cell_ = 0;
    int64_t consumedInCell_ = 0;

    int bufferMegabytes_ = 1;
    bool bufferOnDisk_ = false;
    int64_t bufferBytes_ = 0;  // buffer size (megabytes * 1048576)
    std::unique_ptr<uint8_t[]> buffer_;
    int64_t capacity_ = 0;
    int64_t valid_ = 0;
    int64_t readPos_ = 0;
    // The sector of the buffer's first byte and the bytes from there that
    // hold consecutive sectors of the title (-1: all of them, 0: none); see
    // seekInBuffer.
    int64_t bufferFirstSector_ = 0;
    int64_t bufferRunBytes_ = 0;

    std::string tempPath_;
    std::FILE* temp_ = nullptr;
    int64_t tempContent_ = 0;
    int64_t tempReadBack_ = 0;

    bool prefill_ = false;
    bool cancel_ = false;
    const CancelToken* stopFlag_ = nullptr;
    bool stopping() const { return cancel_ || (stopFlag_ && stopFlag_->requested()); }
    int64_t stopSector_ = 0;
    bool stopPending_ = false;  // a load stopped on a read error; its good part is being read
    bool endedShort_ = false;
    bool readFailed_ = false;
    bool initialised_ = false;
    int64_t currentSector_ = 0;
    std::vector<int64_t> fileSectors_;
    std::vector<std::string> files_;
    std::string combinedName_;
    std::unique_ptr<SourceFile> file_;
    std::string idleStatus_;
    bool useDiscLayerWanted_ = false;
};

}  // namespace zembra
