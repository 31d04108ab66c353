#include "encoder/vbv_model.h"

#include <algorithm>
#include <cmath>

namespace zembra {

void VbvModel::start(double bufferBits, double bitRate, bool counts) {
    B_ = bufferBits;
    R_ = bitRate;
    counts_ = counts;
    decodingTime_ = 0;
    nextAnchorPeriod_ = 0;
    firstPicture_ = true;
    overflows_ = underflows_ = 0;
}

VbvPicture VbvModel::next(bool anchor, double period, long long bitsBefore) {
    double delayPeriod = period;
    if (anchor) {
        delayPeriod = firstPicture_ ? period : nextAnchorPeriod_;
        nextAnchorPeriod_ = period;
    }
    if (firstPicture_)
        decodingTime_ = 7.0 / 8.0 * B_ * 90000.0 / R_;
    else
        decodingTime_ += delayPeriod;
    firstPicture_ = false;
    VbvPicture v;
    v.delay = decodingTime_ - bitsBefore * 90000.0 / R_;
    if (counts_ && (v.delay > B_ * 90000.0 / R_ || v.delay > 65535)) ++overflows_;
    v.field = static_cast<int>(std::clamp(v.delay, 0.0, 65535.0));
    v.lowerBound = std::max(
        0.0, 8 * std::floor((((v.delay - B_ * 90000.0 / R_) / 90000.0 + 0.1) * R_ + 7) / 8));
    v.upperBound = 8 * std::floor((decodingTime_ * R_ / 90000.0 - bitsBefore) / 8) - 200;
    return v;
}

void VbvModel::pictureEnd(long long bitsAfter) {
    if (counts_ && bitsAfter * 90000.0 / R_ > decodingTime_) ++underflows_;
}

}  // namespace zembra
