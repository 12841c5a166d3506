// Writing offscreen pictures as PNG files (with their alpha), encoded with FFmpeg's PNG encoder.
#pragma once

#include "platform/movies/pixmap.h"

#include <string>

namespace zef::movies {

// Returns false when the picture is empty or the file cannot be written.
bool writePng(const Pixmap& picture, const std::string& path);

} // namespace zef::movies
