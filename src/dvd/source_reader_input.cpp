// The title reader as the decoder's input.

#include "dvd/decoder_input.h"
#include "dvd/source_reader.h"
#include "platform/job_reporter.h"

namespace zembra {

namespace {

class SourceReaderInput : public DecoderInput {
public:
    explicit SourceReaderInput(SourceReader& reader) : r_(reader) {}
    // The decoder's input answers with a number, and the decoder's open
    // returns as soon as its input fails: the reader's status is told here,
    // at that moment.
    int open(const std::vector<std::string>& files, bool useDiscLayer, int angle, int title,
             int bufferMegabytes, bool bufferOnDisk, const std::string& tempPath) override {
        return told(r_.openSource(files, useDiscLayer, angle, title, bufferMegabytes, bufferOnDisk,
                                  tempPath));
    }
    int reopen() override { return told(r_.reopenSource()); }
    int seek(int64_t sector) override { return r_.seekSource(sector) < 0 ? -1 : 0; }
    int read(uint8_t* destination, int length) override {
        return r_.readSource(destination, length);
    }
    int close() override { return r_.closeSource(); }
    int64_t currentSector() const override { return r_.getCurrentSector(); }
    int64_t sectorsBefore() const override { return r_.getSectorsBefore(); }
    int64_t fileSectors(int index) const override { return r_.getFileSectors(index); }
    int fileIndex() const override { return r_.getFileIndex(); }
    bool cancelRequested() const override { return r_.cancelRequested() != 0; }

private:
    int told(const Status& status) {
        if (status.hasMessage()) r_.reporter().notice(status);
        return status.ok() ? 1 : 0;
    }

    SourceReader& r_;
};

}  // namespace

std::unique_ptr<DecoderInput> makeSourceReaderInput(SourceReader& reader) {
    return std::make_unique<SourceReaderInput>(reader);
}

}  // namespace zembra
