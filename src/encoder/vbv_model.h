#pragma once
// The VBV model of the video encoder: each picture's decoding time and
// vbv_delay, the bounds its size must keep for the buffer neither to
// overflow nor to underflow, and the counts of where it did.

namespace zembra {

struct VbvPicture {
    double delay = 0;  // 90 kHz ticks from the picture's first bit to its decoding
    int field = 0;     // vbv_delay as written (clamped to 16 bits)
    double lowerBound = 0, upperBound = 0;  // bits the picture may take
};

class VbvModel {
public:
    // A buffer of `bufferBits` filled at `bitRate`; MPEG-2 counts overflows
    // and underflows (MPEG-1 writes no delay).
    void start(double bufferBits, double bitRate, bool counts);
    // The next picture in coding order: `period` is its display period in
    // 90 kHz ticks; an anchor is decoded one anchor period after the last.
    // `bitsBefore` are the bits of the stream before it.
    VbvPicture next(bool anchor, double period, long long bitsBefore);
    // The picture ended with the stream at `bitsAfter`.
    void pictureEnd(long long bitsAfter);

    int overflows() const { return overflows_; }
    int underflows() const { return underflows_; }

private:
    double B_ = 0, R_ = 0;
    bool counts_ = false;
    double decodingTime_ = 0;
    double nextAnchorPeriod_ = 0;
    bool firstPicture_ = true;
    int overflows_ = 0, underflows_ = 0;
};

}  // namespace zembra
