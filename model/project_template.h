// Output templates: a named set of composition and output settings (size, edit frame rate,
// export component and its settings, output file, cropping, live-broadcast options).
#pragma once

#include "platform/movies/fourcc.h"
#include "platform/movies/handle.h"
#include "platform/storage/stream.h"

#include <array>
#include <cstdint>
#include <string>

namespace zef {

struct FixedRect {
    movies::Fixed left = 0;
    movies::Fixed top = 0;
    movies::Fixed right = movies::kFixed1;
    movies::Fixed bottom = movies::kFixed1;
    friend bool operator==(const FixedRect&, const FixedRect&) = default;
};

class CProjectTemplate {
public:
    static constexpr movies::Fixed kDefaultFrameRate = 0x1E0000; // 30.0

    explicit CProjectTemplate(bool builtIn = false, std::string name = "New Template")
        : builtIn(builtIn), name(std::move(name))
    {
    }

    bool builtIn = false;
    std::string name;
    std::string outputFile;
    FixedRect cropRect;
    int32_t width = 320;
    int32_t height = 240;
    bool keepAspect = true;
    bool cropEnabled = false;
    movies::Fixed frameRate = kDefaultFrameRate;
    movies::Handle exportSettings; // null: none
    movies::FourCC exportSubType = movies::fourcc("MooV");
    movies::FourCC exportManufacturer = movies::fourcc("appl");
    bool broadcastEnabled = false;
    bool flattenForBroadcast = false;
    std::array<std::string, 10> broadcastText;

    // The defaults a project takes when no template is available.
    void applyBuiltInDefaults();
    // A new template with those defaults applied.
    static CProjectTemplate builtInDefaults()
    {
        CProjectTemplate t;
        t.applyBuiltInDefaults();
        return t;
    }
    // Copies every field, including builtIn and a private copy of the export settings.
    void copyFrom(const CProjectTemplate& t) { *this = t; }

    // The template record of project and template files. read returns false (and leaves
    // this template partly filled) when the stream fails.
    void write(storage::StreamWriter& w) const;
    bool read(storage::StreamReader& r);
};

// True when every field except builtIn, name and outputFile is equal; export settings compare
// by presence, size and bytes; strings compare exactly.
bool sameSettings(const CProjectTemplate& a, const CProjectTemplate& b);

// "Web Movie" → "Web Movie001", "Web Movie001" → "Web Movie002", "X999" → "X1000".
void bumpName(CProjectTemplate& t);

} // namespace zef
