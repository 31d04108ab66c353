#pragma once
// Where the video decoder's bytes come from: the title reader for DVD titles
// (makeSourceReaderInput) or plain files read one after the other
// (PlainFileInput).

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace zembra {

// Positions are 2048-byte sectors over the whole set of files.
class DecoderInput {
public:
    virtual ~DecoderInput() = default;
    virtual int open(const std::vector<std::string>& files, bool useDiscLayer, int angle, int title,
                     int bufferMegabytes, bool bufferOnDisk, const std::string& tempPath) = 0;
    virtual int reopen() = 0;
    // -1 on failure, else >= 0.
    virtual int seek(int64_t sector) = 0;
    // Bytes delivered (up to length; fewer only at the end), 0 at the end of
    // the stream, -1 on a read error.
    virtual int read(uint8_t* destination, int length) = 0;
    virtual int close() = 0;
    virtual int64_t currentSector() const = 0;
    virtual int64_t sectorsBefore() const = 0;  // sectors of the files before the current one
    virtual int64_t fileSectors(int index) const = 0;
    virtual int fileIndex() const = 0;  // file of the set now being read
    virtual bool cancelRequested() const { return false; }
};

// Plain files read one after the other as one stream; sectors are 2048-byte
// units over the whole set. The decoder's default input.
class PlainFileInput : public DecoderInput {
public:
    ~PlainFileInput() override;
    int open(const std::vector<std::string>& files, bool useDiscLayer, int angle, int title,
             int bufferMegabytes, bool bufferOnDisk, const std::string& tempPath) override;
    int reopen() override;
    int seek(int64_t sector) override;
    int read(uint8_t* destination, int length) override;
    int close() override;
    int64_t currentSector() const override;
    int64_t sectorsBefore() const override;
    int64_t fileSectors(int index) const override;
    int fileIndex() const override { return current_; }

private:
    bool openFile(int index);
    std::vector<std::string> files_;
    std::vector<int64_t> sizes_;  // bytes
    std::FILE* file_ = nullptr;
    int current_ = -1;
    int64_t position_ = 0;  // byte offset over the whole set
};

// The title reader behind the DecoderInput interface.
class SourceReader;
std::unique_ptr<DecoderInput> makeSourceReaderInput(SourceReader& reader);

}  // namespace zembra
