#include "encoder/rate_control.h"

#include <algorithm>
#include <cmath>

namespace zembra {

using mpeg::PictureType;

void RateControl::start(double bitRate, double frameRate) {
    R_ = bitRate;
    F_ = frameRate;
    r_ = std::floor(2 * R_ / F_ + 0.5);
    Xi_ = std::floor(140 * R_ / 115 + 0.5);
    Xp_ = std::floor(66 * R_ / 115 + 0.5);
    Xb_ = std::floor(46 * R_ / 115 + 0.5);
    di_ = std::floor(10 * r_ / 31 + 0.5);
    dp_ = std::floor(10 * r_ / 31 + 0.5);
    db_ = std::floor(14 * r_ / 31 + 0.5);
    avgAct_ = 400;
    intraRatio_ = kTm5IntraRatio;
    bidirRatio_ = kTm5BidirRatio;
    G_ = 0;
    Np_ = Nb_ = 0;
}

void RateControl::setQuantiserRatios(double intra, double bidirectional) {
    intraRatio_ = intra;
    bidirRatio_ = bidirectional;
}

void RateControl::startGop(int pPictures, int bPictures) {
    // What the last GOP spent beyond its share is carried; what it saved is not.
    if (G_ > 0) G_ = 0;
    G_ += std::floor((pPictures + bPictures + 1) * R_ / F_ + 0.5);
    Np_ = pPictures;
    Nb_ = bPictures;
    dp_ = 0;
    db_ = 0;
}

double RateControl::target(PictureType type, double lowerBound, double upperBound) const {
    // Each type's quantiser is its complexity over its bits, X / T; the
    // targets hold the quantisers in the ratios kI : 1 : kB.
    const double kI = intraRatio_, kB = bidirRatio_;
    double T;
    if (type == PictureType::I)
        T = std::floor(G_ / (1 + Np_ * Xp_ * kI / Xi_ + Nb_ * Xb_ * kI / (kB * Xi_)) + 0.5);
    else if (type == PictureType::P)
        T = std::floor(G_ / (Np_ + 0.01 + Nb_ * Xb_ / (kB * Xp_)) + 0.5);
    else
        T = std::floor(G_ / (Nb_ + 0.01 + kB * Np_ * Xp_ / Xb_) + 0.5);
    T = std::min(T, upperBound);
    return std::max(T, lowerBound);
}

double RateControl::complexity(PictureType type) const {
    return type == PictureType::I ? Xi_ : type == PictureType::P ? Xp_ : Xb_;
}

double RateControl::fullness(PictureType type) const {
    return type == PictureType::I ? di_ : type == PictureType::P ? dp_ : db_;
}

double& RateControl::complexityOf(PictureType type) {
    return type == PictureType::I ? Xi_ : type == PictureType::P ? Xp_ : Xb_;
}

double& RateControl::fullnessOf(PictureType type) {
    return type == PictureType::I ? di_ : type == PictureType::P ? dp_ : db_;
}

void RateControl::pictureDone(PictureType type, long long bits, long long complexityBits,
                              double sumQ, double sumAct, int mbCount, double target) {
    complexityOf(type) = std::floor(complexityBits * sumQ / (2.0 * mbCount) + 0.5);
    fullnessOf(type) += bits - target;
    G_ -= bits;
    if (type == PictureType::P && Np_ > 0) --Np_;
    if (type == PictureType::B && Nb_ > 0) --Nb_;
    avgAct_ = sumAct / mbCount;
}

}  // namespace zembra
