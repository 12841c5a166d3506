// The composition and output settings of a project (the subset the project core needs; the
// template files extend it).
#pragma once

#include "platform/movies/fourcc.h"

#include <cstdint>
#include <string>

namespace zef {

struct CProjectTemplate {
    std::string name;
    int32_t width = 320;
    int32_t height = 240;
    // The edit frame rate, 16.16 fixed.
    movies::Fixed frameRate = 30 << 16;

    // The template used when no default template exists.
    static CProjectTemplate builtIn()
    {
        CProjectTemplate t;
        t.name = "Default";
        return t;
    }
};

} // namespace zef
