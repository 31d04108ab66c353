#pragma once
// How a call into the video or audio decoder ended. Values below Fatal are
// damage inside a picture that decoding gets over at the next slice or
// picture; Fatal and above stop decoding until the next open or reseek.

namespace zembra {

enum class DecodeStatus : int {
    Ok = 0,
    BadCoefficient = 1,
    BadMacroblockType = 2,
    BadBlockPattern = 3,
    BadAddressIncrement = 4,
    BadMotionCode = 5,
    BadSlice = 10,
    Fatal = 50,
    // No picture header came, or the frame queue is full (pictures come and
    // nobody takes them).
    NoPicture = 100,
    // The input has ended; also when the PCM FIFO overflowed, which ends
    // decoding the same way.
    EndOfInput = 101,
    ReadError = 102,
    // The sound waiting to be handed out fills the PCM FIFO while no picture
    // comes (a still picture with sound): decoding pauses between pictures
    // until the frame queue has taken some of it, then goes on where it was.
    AudioBacklog = 103,
};

constexpr bool isFatal(DecodeStatus s) { return int(s) >= int(DecodeStatus::Fatal); }
constexpr bool isDamage(DecodeStatus s) { return s != DecodeStatus::Ok && !isFatal(s); }

}  // namespace zembra
