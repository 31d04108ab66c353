#pragma once
// Our AVIFile: an AVI RIFF file written as it comes, one chunk per sample
// block, headers and indexes completed at close.
//
// Layout: RIFF 'AVI ' { LIST hdrl { avih, LIST strl { strh strf [strn] indx }*,
// LIST odml { dmlh } }, LIST movi { ##dc / ##wb chunks [ix##] }, idx1 }. While
// the file stays in one RIFF it is a plain AVI 1.0 file (the indx and odml
// room is left as JUNK). Once a RIFF would pass the RIFF limit (1 GiB), it is
// closed with its standard indexes and the file goes on in RIFF 'AVIX'
// extensions (OpenDML), each with its own movi list and ix## indexes, listed
// by the super index in every stream's indx. avih then counts the frames of
// the first RIFF, dmlh all of them.
//
// Write failures (full disk, file-size limit) are returned, the failed chunk is
// taken back, and close() still finishes the file so what was written reads.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_sink.h"

namespace zembra::avi::riff {

// The stream header fields (AVISTREAMINFO) as stored in strh.
struct StreamHeader {
    uint32_t fccType = 0;  // 'vids' or 'auds'
    uint32_t fccHandler = 0;
    uint32_t flags = 0;
    uint16_t priority = 0;
    uint16_t language = 0;
    uint32_t initialFrames = 0;
    uint32_t scale = 1;
    uint32_t rate = 0;
    uint32_t start = 0;
    uint32_t suggestedBufferSize = 0;  // raised to the largest chunk at close
    int32_t quality = -1;
    uint32_t sampleSize = 0;
    int16_t frame[4] = {0, 0, 0, 0};  // left, top, right, bottom; video: 0,0,w,h when empty
    std::string name;                 // stored as strn when not empty
    // The length is not given: it is what was written.
};

class AviFile {
public:
    static constexpr uint64_t kRiffLimit = uint64_t(1) << 30;
    static constexpr int kSuperIndexEntries = 256;
    static constexpr uint32_t kKeyFrameFlag = 0x10;  // AVIIF_KEYFRAME

    // riffLimit: size at which a RIFF is closed and the next begins (at most
    // 1 GiB, smaller in tests). superIndexEntries: room reserved per stream
    // for the RIFFs of the file.
    explicit AviFile(uint64_t riffLimit = kRiffLimit, int superIndexEntries = kSuperIndexEntries);
    ~AviFile();
    AviFile(const AviFile&) = delete;
    AviFile& operator=(const AviFile&) = delete;

    [[nodiscard]] bool open(const std::string& path);
    // Streams and formats are set before the first write. Returns the stream
    // number, or -1.
    [[nodiscard]] int createStream(const StreamHeader& header);
    [[nodiscard]] bool setFormat(int stream, const std::vector<uint8_t>& format);
    // One chunk holding `samples` samples of the stream (1 for a video frame,
    // bytes / block align for audio). Audio chunks are always key frames.
    [[nodiscard]] bool write(int stream, const void* data, size_t size, uint32_t samples,
                             bool keyFrame);
    // Writes the indexes and the final headers and closes the file. False
    // when the file could not be completed or an earlier write had failed.
    bool close();

    bool isOpen() const { return sink_.isOpen(); }
    bool failed() const { return failed_; }
    int lastError() const { return sink_.lastError(); }
    bool lockedByAnother() const { return sink_.lockedByAnother(); }
    uint64_t fileSize() const { return sink_.size(); }
    int riffCount() const { return riffIndex_ + 1; }
    int streamCount() const { return int(streams_.size()); }

private:
    struct IndexEntry {
        uint32_t offset;  // chunk header, from the movi list's 'movi' code
        uint32_t size;
        bool key;
    };
    struct SuperEntry {
        uint64_t offset;
        uint32_t size;
        uint32_t duration;
    };
    struct Stream {
        StreamHeader header;
        std::vector<uint8_t> format;
        uint32_t chunkId = 0;
        uint32_t indexId = 0;
        uint64_t length = 0;
        uint64_t firstRiffLength = 0;
        uint32_t maxChunk = 0;
        uint64_t bytes = 0;
        std::vector<IndexEntry> riffEntries;
        uint64_t riffLength = 0;
        std::vector<SuperEntry> superIndex;
        uint64_t strhAt = 0;
        uint64_t indxAt = 0;
    };
    struct Idx1Entry {
        uint32_t id, flags, offset, size;
    };

    bool writeHeaders();
    bool startNextRiff();
    // Ends the current RIFF: standard indexes (OpenDML), movi size, idx1 in
    // the first RIFF, RIFF size.
    bool finishRiff(bool standardIndexes, bool& idx1Written);
    bool patchHeaders(bool idx1Written);
    bool patch32(uint64_t at, uint32_t value);
    uint64_t indexRoom() const;
    bool isVideo(const Stream& s) const;
    std::vector<uint8_t> avihBytes(bool idx1Written) const;
    std::vector<uint8_t> strhBytes(const Stream& s) const;
    std::vector<uint8_t> indxBytes(const Stream& s) const;
    std::vector<uint8_t> odmlBytes() const;

    uint64_t riffLimit_;
    int superEntries_;
    FileSink sink_;
    std::vector<Stream> streams_;
    std::vector<Idx1Entry> idx1_;
    bool headersWritten_ = false;
    bool failed_ = false;
    int riffIndex_ = 0;
    bool riffHasData_ = false;
    bool riffOpen_ = false;
    bool idx1Written_ = false;
    uint64_t riffStart_ = 0;
    uint64_t moviStart_ = 0;  // the movi list's 'LIST'
    uint64_t avihAt_ = 0;
    uint64_t odmlAt_ = 0;
};

}  // namespace zembra::avi::riff
