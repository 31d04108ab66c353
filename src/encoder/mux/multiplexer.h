#pragma once
// Program-stream multiplexer: MPEG-1 system streams in the VCD layout or
// MPEG-2 program streams in the SVCD layout, made of 2324-byte sectors, each
// one pack holding one packet. It paces sectors at a constant clock step,
// models both decoder buffers and, for SVCD, fills the scan-offset user data
// of every I picture once the file is complete.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "encoder/mux/es_store.h"
#include "encoder/units.h"
#include "platform/file_sink.h"
#include "platform/status.h"

namespace zembra {

class JobReporter;

enum class MuxLayout { Vcd, Svcd };

// A time stamp in the form the layout's packets carry.
ClockStamp clockFromTicks(double ticks27MHz, MuxLayout layout);

struct MuxSettings {
    MuxLayout layout = MuxLayout::Vcd;
    std::string outputPath;         // the piece's file
    double videoBitRate = 1150000;  // bit/s
    int audioBitrateIndex = 11;     // Layer II table index
    double muxRateFactor = 1.0;     // 1 + MuxRate / 100
    double frameRate = 25.0;        // for the SVCD scan jump distance
    bool pulldown = false;
};

// Decoder buffer occupancy as the multiplexer sees it.
class BufferModel {
public:
    void reset(int capacity) {
        capacity_ = capacity;
        entries_.clear();
        used_ = 0;
    }
    void add(int bytes, double decodeTicks) {
        entries_.push_back({bytes, decodeTicks});
        used_ += bytes;
    }
    // Drops every entry decoded by `now`.
    void expire(double now) {
        while (!entries_.empty() && entries_.front().decode <= now) {
            used_ -= entries_.front().bytes;
            entries_.pop_front();
        }
    }
    int freeSpace() const { return capacity_ - used_; }

private:
    struct Entry {
        int bytes;
        double decode;
    };
    std::deque<Entry> entries_;
    int capacity_ = 0;
    long used_ = 0;
};

class Multiplexer {
public:
    static constexpr int kSectorSize = 2324;
    static constexpr std::size_t kQueueLimit = 100;
    static constexpr std::size_t kCacheSize = 1048576;

    // The calls return what went wrong; `reporter` hears what comes up while
    // a piece is finished (its last sector, the scan offsets and their
    // progress), where one call meets several things to tell.
    explicit Multiplexer(JobReporter& reporter);
    ~Multiplexer();
    Multiplexer(const Multiplexer&) = delete;
    Multiplexer& operator=(const Multiplexer&) = delete;

    // New piece: queues, stores and counters emptied, back to Idle. The file
    // is created by muxStart on the first pump.
    void reset(const MuxSettings& settings);

    // Called by the encoders for each finished unit; a warning when the
    // queue is full.
    Status pushVideoUnit(const VideoUnit& unit);
    Status pushAudioUnit(const AudioUnit& unit);
    EsStore& videoStore() { return videoStore_; }
    EsStore& audioStore() { return audioStore_; }

    // A failure is told by the call it happens in; later calls of a failed
    // multiplexer return Status::failed().
    Status muxStart();
    // After every picture: starts once, then writes sectors while the queued
    // units hold more than one payload of each stream.
    Status muxPump();
    // Writes everything that is left, the last sector and closes the piece.
    // After a failed write the piece is closed as it stands: it ends with the
    // last whole sector that reached the file.
    Status muxDrain();
    // One sector; false at the end of data (the piece is then finished) or on
    // a failure (failed() tells which; the next call above tells why).
    [[nodiscard]] bool muxSector();
    void muxFinish();

    bool started() const { return started_; }
    bool finished() const { return finished_; }
    bool failed() const { return failed_; }
    // Bytes handed to the output cache for this piece.
    std::uint64_t bytesWritten() const { return bytesWritten_; }
    int sectorsWritten() const { return sectorCount_; }
    unsigned videoUnderflows() const { return videoUnderflows_; }
    unsigned audioUnderflows() const { return audioUnderflows_; }
    std::string diagnostics() const { return diag_; }

    // Derived values, valid after muxStart.
    int muxRateField() const { return muxRateField_; }
    int sectorsPerSecond() const { return sectorsPerSecond_; }
    int videoPayload() const { return pv_; }
    int audioPayload() const { return pa_; }
    std::string iPictureListPath() const { return settings_.outputPath + "svcd"; }

private:
    struct Current {
        bool valid = false;
        mpeg::PictureType type{};  // video only
        int remaining = 0;
        bool startsPacket = true;
        double dts = 0, pts = 0;  // 27 MHz ticks, offset included
        int number = 0;
    };
    bool isVcd() const { return settings_.layout == MuxLayout::Vcd; }
    void computeDerived();
    bool nextVideo();
    bool nextAudio();
    bool chooseAndWrite(bool videoUrgent, bool audioUrgent, bool closedToVideo);
    // What the packets of one stream state besides their payload.
    struct StreamPackets {
        std::uint8_t id;
        int payload;      // bytes of a full packet
        int maxStamps;    // 2: PTS and DTS, 1: PTS
        int bufferScale;  // the STD buffer: 1024 or 128 byte units
        int bufferSize;
        int trailingZeros;  // bytes after the packet that fill the sector
    };
    // One packet's payload and the stamps of the unit it carries first.
    struct Payload {
        std::vector<std::uint8_t> data;
        bool haveStamp = false;
        Current stamp;
        bool iStarts = false;  // an I picture starts the payload
    };
    StreamPackets videoPackets() const;
    StreamPackets audioPackets() const;
    template <class Unit>
    void gather(Current& current, std::deque<Unit>& queue, EsStore& store, BufferModel& model,
                int payload, bool (Multiplexer::*next)(), Payload& out);
    bool writePacket(const StreamPackets& stream, const Payload& payload, int stamps,
                     bool& firstPes);
    bool writeVideoSector();
    bool writeAudioSector();
    void paddingPacket(std::vector<std::uint8_t>& s, int length) const;
    void writePaddingSector();
    void writeFirstSector();
    void packHeader(std::vector<std::uint8_t>& s) const;
    void systemHeader(std::vector<std::uint8_t>& s, bool audio, bool video) const;
    bool emit(const std::vector<std::uint8_t>& sector);
    bool flushCache();
    void keepWholeSectors();
    void closeFiles();
    void scanOffsets();
    void diag(const char* fmt, ...);
    // Marks the piece failed; the reason waits for outcome() to hand it out.
    void fail(Status why);
    // Done, or the failure not yet told (once; after that failed()).
    Status outcome();
    // Tells a failure not yet told before what comes next.
    void tellFailure();

    JobReporter& reporter_;
    MuxSettings settings_;
    EsStore videoStore_, audioStore_;
    std::deque<VideoUnit> videoQueue_;
    std::deque<AudioUnit> audioQueue_;
    long queuedVideoBytes_ = 0, queuedAudioBytes_ = 0;
    Current video_, audio_;
    BufferModel videoModel_, audioModel_;

    int pv_ = 0, pa_ = 0;
    int muxRateField_ = 0, sectorsPerSecond_ = 0;
    double sectorTicks_ = 0, scr_ = 0, timeOffset_ = 0;
    int sectorCount_ = 0;
    int firstSectorsLeft_ = 0;
    bool firstVideoPes_ = true, firstAudioPes_ = true;
    int videoPictures_ = 0;
    unsigned videoUnderflows_ = 0, audioUnderflows_ = 0;

    bool started_ = false, finished_ = false, failed_ = false, endOfData_ = false;
    Status failure_;
    FileSink out_;
    FileSink list_;  // SVCD: the sector number of each I picture, 32-bit LE
    std::vector<std::uint8_t> cache_;
    std::uint64_t bytesWritten_ = 0;
    // The piece file this multiplexer created (not one another rip holds),
    // and where its first video sector ends (0: none yet).
    bool pieceMade_ = false;
    std::uint64_t firstVideoEnd_ = 0;
    std::string diag_;
};

}  // namespace zembra
