#pragma once
// TM5 rate control across the pictures of a sequence: the complexity of
// each picture type, the bits the GOP has left, and the virtual buffers
// whose fullness sets the macroblocks' quantiser.

#include "mpeg/picture_type.h"

namespace zembra {

class RateControl {
public:
    // The starting complexities and buffers for `bitRate` bits per second
    // at `frameRate` pictures per second.
    void start(double bitRate, double frameRate);
    // The quantisers the targets aim for in I and B pictures against P's:
    // TM5's 1 and 1.4 after start() unless set.
    void setQuantiserRatios(double intra, double bidirectional);
    // A GOP of `pPictures` P and `bPictures` B pictures after its I picture.
    void startGop(int pPictures, int bPictures);
    // The bits a picture of `type` is given, within the VBV's bounds.
    double target(mpeg::PictureType type, double lowerBound, double upperBound) const;
    double complexity(mpeg::PictureType type) const;
    // The virtual buffer fullness of the type's pictures.
    double fullness(mpeg::PictureType type) const;
    // A picture coded: its bits (stuffing included), the bits its
    // complexity is measured from, the sum of its macroblocks' quantiser
    // scales and activities, and the target it had.
    void pictureDone(mpeg::PictureType type, long long bits, long long complexityBits, double sumQ,
                     double sumAct, int mbCount, double target);

    double bitRate() const { return R_; }
    double frameRate() const { return F_; }
    // The reaction parameter: twice the bits of a picture period.
    double reaction() const { return r_; }
    double averageActivity() const { return avgAct_; }

private:
    double& complexityOf(mpeg::PictureType type);
    double& fullnessOf(mpeg::PictureType type);

    double R_ = 0, F_ = 0, r_ = 0;
    double Xi_ = 0, Xp_ = 0, Xb_ = 0;
    double di_ = 0, dp_ = 0, db_ = 0;
    double avgAct_ = 400;
    double G_ = 0;  // bits left in the GOP
    int Np_ = 0, Nb_ = 0;
    static constexpr double kTm5IntraRatio = 1.0, kTm5BidirRatio = 1.4;
    double intraRatio_ = kTm5IntraRatio, bidirRatio_ = kTm5BidirRatio;
};

}  // namespace zembra
