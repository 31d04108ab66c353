#pragma once
// picture_coding_type of MPEG video, with its values in the stream.

namespace zembra::mpeg {

// D pictures (DC coefficients only) exist in MPEG-1 streams alone.
enum class PictureType : int { I = 1, P = 2, B = 3, D = 4 };

}  // namespace zembra::mpeg
