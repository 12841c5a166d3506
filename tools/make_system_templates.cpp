// Writes the built-in "System" template file shipped with the program. Run at build time:
//   make_system_templates OUTPUT_DIR
#include "model/template_list.h"

#include <cstdio>

using namespace zef;

namespace {
CProjectTemplate make(const char* name, int width, int height, movies::Fixed rate)
{
    CProjectTemplate t(true, name);
    t.applyBuiltInDefaults();
    t.width = width;
    t.height = height;
    t.frameRate = rate;
    return t;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_system_templates OUTPUT_DIR\n");
        return 2;
    }
    constexpr movies::Fixed r25 = 25 << 16, r30 = 30 << 16, r2997 = 1964113, r24 = 24 << 16;
    TemplateList list;
    // The first entry is the default template.
    list.append(make("VHS Quality, 30 fps movie", 320, 240, r30));
    list.append(make("Web Movie, 640 x 480, 30 fps", 640, 480, r30));
    list.append(make("DV PAL, 720 x 576, 25 fps", 720, 576, r25));
    list.append(make("DV NTSC, 720 x 480, 29.97 fps", 720, 480, r2997));
    list.append(make("HD 720p, 1280 x 720, 30 fps", 1280, 720, r30));
    list.append(make("HD 720p, 1280 x 720, 25 fps", 1280, 720, r25));
    list.append(make("Full HD 1080p, 1920 x 1080, 30 fps", 1920, 1080, r30));
    list.append(make("Full HD 1080p, 1920 x 1080, 25 fps", 1920, 1080, r25));
    list.append(make("Film, 1920 x 1080, 24 fps", 1920, 1080, r24));
    if (!list.saveFile(argv[1], "System", true)) {
        std::fprintf(stderr, "make_system_templates: cannot write %s/System.tmpl\n", argv[1]);
        return 1;
    }
    return 0;
}
