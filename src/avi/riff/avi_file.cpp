#include "avi/riff/avi_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>

#include "avi/riff/le_buffer.h"

namespace zembra::avi::riff {

namespace {

constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAvifIsInterleaved = 0x100;
constexpr uint32_t kDeltaFrameBit = 0x80000000u;  // standard index: not a key frame
constexpr size_t kDmlhSize = 248;
constexpr size_t kOdmlListPayload = 4 + 8 + kDmlhSize;

uint32_t clamp32(uint64_t v) {
    return uint32_t(std::min<uint64_t>(v, std::numeric_limits<uint32_t>::max()));
}

// "00dc", "01wb", "ix00": two letters and the stream number in two digits.
uint32_t streamCode(int n, char a, char b, bool numberFirst) {
    char d1 = char('0' + (n / 10) % 10), d0 = char('0' + n % 10);
    char s[5] = {d1, d0, a, b, 0};
    if (!numberFirst) {
        s[0] = a;
        s[1] = b;
        s[2] = d1;
        s[3] = d0;
    }
    return fourcc(s);
}

}  // namespace

AviFile::AviFile(uint64_t riffLimit, int superIndexEntries)
    : riffLimit_(std::min(riffLimit, kRiffLimit)), superEntries_(std::max(superIndexEntries, 1)) {}

AviFile::~AviFile() {
    if (isOpen()) close();
}

bool AviFile::open(const std::string& path) {
    if (isOpen()) close();
    streams_.clear();
    idx1_.clear();
    headersWritten_ = failed_ = riffHasData_ = riffOpen_ = idx1Written_ = false;
    riffIndex_ = 0;
    riffStart_ = moviStart_ = avihAt_ = odmlAt_ = 0;
    return sink_.open(path);
}

int AviFile::createStream(const StreamHeader& header) {
    if (!isOpen() || headersWritten_ || streams_.size() >= 100) return -1;
    Stream s;
    s.header = header;
    int n = int(streams_.size());
    bool video = header.fccType == fourcc("vids");
    bool audio = header.fccType == fourcc("auds");
    s.chunkId = streamCode(n,
                           video   ? 'd'
                           : audio ? 'w'
                                   : 't',
                           video   ? 'c'
                           : audio ? 'b'
                                   : 'x',
                           true);
    s.indexId = streamCode(n, 'i', 'x', false);
    streams_.push_back(std::move(s));
    return n;
}

bool AviFile::setFormat(int stream, const std::vector<uint8_t>& format) {
    if (!isOpen() || headersWritten_ || stream < 0 || stream >= int(streams_.size())) return false;
    streams_[stream].format = format;
    return true;
}

bool AviFile::isVideo(const Stream& s) const { return s.header.fccType == fourcc("vids"); }

bool AviFile::writeHeaders() {
    LeBuffer b;
    b.fcc(fourcc("RIFF"));
    b.u32(0);
    b.fcc(fourcc("AVI "));
    b.fcc(fourcc("LIST"));
    size_t hdrlSizeAt = b.size();
    b.u32(0);
    b.fcc(fourcc("hdrl"));
    avihAt_ = b.size();
    b.append(avihBytes(false));
    for (Stream& s : streams_) {
        b.fcc(fourcc("LIST"));
        size_t strlSizeAt = b.size();
        b.u32(0);
        b.fcc(fourcc("strl"));
        s.strhAt = b.size();
        b.append(strhBytes(s));
        b.fcc(fourcc("strf"));
        b.u32(uint32_t(s.format.size()));
        b.append(s.format);
        b.pad();
        if (!s.header.name.empty()) {
            b.fcc(fourcc("strn"));
            b.u32(uint32_t(s.header.name.size() + 1));
            b.append(s.header.name.data(), s.header.name.size());
            b.u8(0);
            b.pad();
        }
        // Room for the super index, kept as JUNK while the file is AVI 1.0.
        s.indxAt = b.size();
        b.fcc(fourcc("JUNK"));
        b.u32(uint32_t(24 + 16 * superEntries_));
        b.zeros(24 + 16 * size_t(superEntries_));
        b.put32(strlSizeAt, uint32_t(b.size() - strlSizeAt - 4));
    }
    odmlAt_ = b.size();
    b.fcc(fourcc("JUNK"));
    b.u32(uint32_t(kOdmlListPayload));
    b.zeros(kOdmlListPayload);
    b.put32(hdrlSizeAt, uint32_t(b.size() - hdrlSizeAt - 4));
    moviStart_ = b.size();
    b.fcc(fourcc("LIST"));
    b.u32(0);
    b.fcc(fourcc("movi"));
    riffStart_ = 0;
    if (!sink_.append(b.data(), b.size())) return false;
    headersWritten_ = true;
    riffOpen_ = true;
    return true;
}

uint64_t AviFile::indexRoom() const {
    uint64_t room = 0;
    for (const Stream& s : streams_) room += 32 + 8 * uint64_t(s.riffEntries.size() + 1);
    if (riffIndex_ == 0) room += 8 + 16 * uint64_t(idx1_.size() + 1);
    return room;
}

bool AviFile::write(int stream, const void* data, size_t size, uint32_t samples, bool keyFrame) {
    if (!isOpen() || failed_ || stream < 0 || stream >= int(streams_.size()) ||
        size > std::numeric_limits<uint32_t>::max() - 16) {
        return false;
    }
    if (!headersWritten_ && !writeHeaders()) {
        failed_ = true;
        return false;
    }
    uint64_t chunkBytes = 8 + uint64_t(size) + (size & 1);
    uint64_t riffSize = sink_.size() - riffStart_;
    if (riffHasData_ && riffSize + chunkBytes + indexRoom() > riffLimit_ && !startNextRiff()) {
        failed_ = true;
        return false;
    }
    Stream& s = streams_[stream];
    if (!isVideo(s)) keyFrame = true;
    uint64_t at = sink_.size();
    uint8_t head[8];
    LeBuffer h;
    h.fcc(s.chunkId);
    h.u32(uint32_t(size));
    std::copy(h.data(), h.data() + 8, head);
    uint8_t zero = 0;
    iovec parts[3] = {{head, 8}, {const_cast<void*>(data), size}, {&zero, size & 1}};
    if (!sink_.append(parts, 3)) {
        failed_ = true;
        return false;
    }
    riffHasData_ = true;
    uint32_t offset = uint32_t(at - (moviStart_ + 8));
    s.riffEntries.push_back({offset, uint32_t(size), keyFrame});
    if (riffIndex_ == 0) {
        idx1_.push_back({s.chunkId, keyFrame ? kKeyFrameFlag : 0, offset, uint32_t(size)});
        s.firstRiffLength += samples;
    }
    s.length += samples;
    s.riffLength += samples;
    s.bytes += size;
    s.maxChunk = std::max(s.maxChunk, uint32_t(size));
    return true;
}

bool AviFile::startNextRiff() {
    for (const Stream& s : streams_) {
        if (int(s.superIndex.size()) >= superEntries_) {
            return false;  // the super index is full: the file ends here
        }
    }
    bool idx1Written = false;
    if (!finishRiff(true, idx1Written)) return false;
    LeBuffer b;
    b.fcc(fourcc("RIFF"));
    b.u32(0);
    b.fcc(fourcc("AVIX"));
    b.fcc(fourcc("LIST"));
    b.u32(0);
    b.fcc(fourcc("movi"));
    uint64_t at = sink_.size();
    if (!sink_.append(b.data(), b.size())) return false;
    ++riffIndex_;
    riffOpen_ = true;
    riffStart_ = at;
    moviStart_ = at + 12;
    riffHasData_ = false;
    return true;
}

bool AviFile::finishRiff(bool standardIndexes, bool& idx1Written) {
    idx1Written = false;
    uint64_t start = sink_.size();
    std::vector<size_t> superSizes;
    for (const Stream& s : streams_) superSizes.push_back(s.superIndex.size());
    auto undo = [&] {
        (void)sink_.truncate(start);
        for (size_t i = 0; i < streams_.size(); ++i) streams_[i].superIndex.resize(superSizes[i]);
    };
    if (standardIndexes) {
        for (Stream& s : streams_) {
            if (s.riffEntries.empty()) continue;
            LeBuffer b;
            b.fcc(s.indexId);
            b.u32(uint32_t(24 + 8 * s.riffEntries.size()));
            b.u16(2);  // longs per entry
            b.u8(0);   // index sub type
            b.u8(1);   // AVI_INDEX_OF_CHUNKS
            b.u32(uint32_t(s.riffEntries.size()));
            b.fcc(s.chunkId);
            b.u64(moviStart_ + 8);  // base: the 'movi' code
            b.u32(0);
            for (const IndexEntry& e : s.riffEntries) {
                b.u32(e.offset + 8);  // the chunk's data
                b.u32(e.size | (e.key ? 0 : kDeltaFrameBit));
            }
            uint64_t at = sink_.size();
            if (!sink_.append(b.data(), b.size())) {
                undo();
                return false;
            }
            s.superIndex.push_back({at, uint32_t(b.size()), clamp32(s.riffLength)});
        }
    }
    uint64_t moviEnd = sink_.size();
    if (!patch32(moviStart_ + 4, uint32_t(moviEnd - (moviStart_ + 8)))) {
        undo();
        return false;
    }
    if (riffIndex_ == 0) {
        LeBuffer b;
        b.fcc(fourcc("idx1"));
        b.u32(uint32_t(16 * idx1_.size()));
        for (const Idx1Entry& e : idx1_) {
            b.fcc(e.id);
            b.u32(e.flags);
            b.u32(e.offset);
            b.u32(e.size);
        }
        if (sink_.append(b.data(), b.size())) {
            idx1Written = idx1Written_ = true;
            idx1_.clear();
            idx1_.shrink_to_fit();
        } else if (standardIndexes) {
            undo();
            return false;
        }
        // Without room for idx1 the file stays readable by scanning movi.
    }
    if (!patch32(riffStart_ + 4, uint32_t(sink_.size() - (riffStart_ + 8)))) {
        undo();
        return false;
    }
    for (Stream& s : streams_) {
        s.riffEntries.clear();
        s.riffLength = 0;
    }
    riffOpen_ = false;
    return true;
}

bool AviFile::close() {
    if (!isOpen()) return true;
    bool ok = !failed_;
    if (!headersWritten_ && !writeHeaders()) {
        (void)sink_.close();
        return false;
    }
    bool odml = riffIndex_ > 0;
    bool idx1Written = false;
    if (riffOpen_ && !finishRiff(odml, idx1Written)) {
        // No room even for the indexes: close the lists over the data alone.
        ok = false;
        bool ignored = false;
        if (riffOpen_ && !finishRiff(false, ignored)) {
            (void)patch32(moviStart_ + 4, uint32_t(sink_.size() - (moviStart_ + 8)));
            (void)patch32(riffStart_ + 4, uint32_t(sink_.size() - (riffStart_ + 8)));
        }
    }
    if (!patchHeaders(idx1Written_)) ok = false;
    if (!sink_.close()) ok = false;
    return ok;
}

bool AviFile::patch32(uint64_t at, uint32_t value) {
    uint8_t b[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                    uint8_t(value >> 24)};
    return sink_.patch(at, b, 4);
}

bool AviFile::patchHeaders(bool indexed) {
    bool ok = true;
    auto put = [&](uint64_t at, const std::vector<uint8_t>& bytes) {
        if (!sink_.patch(at, bytes.data(), bytes.size())) ok = false;
    };
    put(avihAt_, avihBytes(indexed));
    for (const Stream& s : streams_) {
        put(s.strhAt, strhBytes(s));
        if (riffIndex_ > 0) put(s.indxAt, indxBytes(s));
    }
    if (riffIndex_ > 0) put(odmlAt_, odmlBytes());
    return ok;
}

std::vector<uint8_t> AviFile::avihBytes(bool indexed) const {
    const Stream* video = nullptr;
    for (const Stream& s : streams_)
        if (isVideo(s)) {
            video = &s;
            break;
        }
    uint32_t usPerFrame = 0, maxBytesPerSec = 0, width = 0, height = 0, suggested = 0;
    uint64_t totalBytes = 0;
    for (const Stream& s : streams_) {
        totalBytes += s.bytes;
        suggested = std::max(suggested, s.maxChunk);
    }
    if (video && video->header.rate > 0) {
        double seconds = double(video->length) * video->header.scale / video->header.rate;
        usPerFrame = uint32_t(std::lround(1e6 * video->header.scale / video->header.rate));
        if (seconds > 0) maxBytesPerSec = clamp32(uint64_t(double(totalBytes) / seconds));
        if (video->format.size() >= 12) {
            const uint8_t* format = video->format.data();
            width = uint32_t(std::abs(int32_t(readLe32(format + 4))));
            height = uint32_t(std::abs(int32_t(readLe32(format + 8))));
        }
    }
    LeBuffer b;
    b.fcc(fourcc("avih"));
    b.u32(56);
    b.u32(usPerFrame);
    b.u32(maxBytesPerSec);
    b.u32(0);  // padding granularity
    b.u32((indexed ? kAvifHasIndex : 0) | kAvifIsInterleaved);
    b.u32(video ? clamp32(video->firstRiffLength) : 0);  // frames of the first RIFF
    b.u32(0);                                            // initial frames
    b.u32(uint32_t(streams_.size()));
    b.u32(suggested ? suggested + 8 : 0);
    b.u32(width);
    b.u32(height);
    b.zeros(16);
    return b.bytes();
}

std::vector<uint8_t> AviFile::strhBytes(const Stream& s) const {
    const StreamHeader& h = s.header;
    int16_t frame[4] = {h.frame[0], h.frame[1], h.frame[2], h.frame[3]};
    if (isVideo(s) && frame[2] == 0 && frame[3] == 0 && s.format.size() >= 12) {
        frame[2] = int16_t(readLe16(s.format.data() + 4));
        int32_t height = int32_t(readLe32(s.format.data() + 8));
        frame[3] = int16_t(std::abs(height));
    }
    LeBuffer b;
    b.fcc(fourcc("strh"));
    b.u32(56);
    b.fcc(h.fccType);
    b.fcc(h.fccHandler);
    b.u32(h.flags);
    b.u16(h.priority);
    b.u16(h.language);
    b.u32(h.initialFrames);
    b.u32(h.scale);
    b.u32(h.rate);
    b.u32(h.start);
    b.u32(clamp32(s.length));
    b.u32(std::max(h.suggestedBufferSize, s.maxChunk));
    b.u32(uint32_t(h.quality));
    b.u32(h.sampleSize);
    for (int16_t v : frame) b.u16(uint16_t(v));
    return b.bytes();
}

std::vector<uint8_t> AviFile::indxBytes(const Stream& s) const {
    LeBuffer b;
    b.fcc(fourcc("indx"));
    b.u32(uint32_t(24 + 16 * superEntries_));
    b.u16(4);  // longs per entry
    b.u8(0);   // index sub type
    b.u8(0);   // AVI_INDEX_OF_INDEXES
    b.u32(uint32_t(s.superIndex.size()));
    b.fcc(s.chunkId);
    b.zeros(12);
    for (const SuperEntry& e : s.superIndex) {
        b.u64(e.offset);
        b.u32(e.size);
        b.u32(e.duration);
    }
    b.zeros(16 * (size_t(superEntries_) - s.superIndex.size()));
    return b.bytes();
}

std::vector<uint8_t> AviFile::odmlBytes() const {
    uint64_t frames = 0;
    for (const Stream& s : streams_)
        if (isVideo(s)) {
            frames = s.length;
            break;
        }
    LeBuffer b;
    b.fcc(fourcc("LIST"));
    b.u32(uint32_t(kOdmlListPayload));
    b.fcc(fourcc("odml"));
    b.fcc(fourcc("dmlh"));
    b.u32(uint32_t(kDmlhSize));
    b.u32(clamp32(frames));
    b.zeros(kDmlhSize - 4);
    return b.bytes();
}

}  // namespace zembra::avi::riff
