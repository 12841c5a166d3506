// Rendering a part of the render range, for a render split over several processes or machines:
// the pictures of a range of frames, or the sound of the whole range, each into an intermediate
// movie that joinParts (platform/movies/export/part_export.h) joins with the others without
// encoding again. Ranges that meet join picture for picture: a part shows exactly the frames
// a whole render shows at the same places.
#pragma once

#include "platform/movies/export/part_export.h"

#include <cstdint>

namespace zef {

class FRender;

struct RenderPart {
    enum class Kind {
        Describe, // writes nothing; tells how the render splits
        Pictures, // frames [first, end) of the render (0 is the render range's first frame)
        Sound,    // the sound of the whole range
    };
    Kind kind = Kind::Describe;
    int64_t first = 0;
    int64_t end = 0;
};

// Renders a part of the project's render range through render, with the project's output
// settings, into the output path those settings name. The part is written under a temporary
// name beside it ("<path>.partial") and renamed when complete, so a part that exists is whole.
// *format (when given) gets the format of the whole render. True on success, false after an
// abort; throws ZEFException with the render's own messages and "This output cannot be
// rendered in parts: <file type>", "Frames <first> to <end> are not within the render's <n>
// frames", "The render has no sound".
bool renderPart(FRender& render, const RenderPart& part, movies::PartFormat* format = nullptr);

} // namespace zef
