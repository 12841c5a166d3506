// Internal: 32-bit pictures to 8-bit 4:2:0 planes in one pass, for encoders that take YUV 4:2:0
// at the picture's own size. Each chroma sample is the mean of its 2 × 2 pixels (centred, as
// FFmpeg's scaler takes RGB input); alpha is ignored.
#pragma once

#include "platform/movies/pixmap.h"

#include <cstdint>

namespace zef::movies::exportav {

struct YuvMatrix {
    bool bt709 = false;     // BT.709 luma coefficients, else BT.601
    bool fullRange = false; // 0–255 luma and chroma, else 16–235 luma and 16–240 chroma
};

// Writes picture (even width and height) into the Y plane (width × height) and the Cb and Cr
// planes (width/2 × height/2). strides are in bytes.
void bgraToYuv420(const Pixmap& picture, uint8_t* const planes[3], const int strides[3],
                  YuvMatrix matrix);

} // namespace zef::movies::exportav
