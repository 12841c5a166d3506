// Exports in parts that join without encoding again: the pictures of a range of export frames,
// or the sound of the whole export, each into an intermediate movie written with an exporter's
// own codec settings, and the join of those parts into the exporter's kind of file.
//
// A picture part is an encoding of its own: it starts with a key frame and none of its
// pictures refers to one outside it, so parts that meet join picture for picture. The sound is
// one part over the whole export, so no seam can split it. The join copies the encoded
// pictures and sound; it checks that every picture part holds exactly the frames it should
// (each once) and was encoded like the first.
//
// Parts need a built-in exporter that writes a movie, MPEG-4 or AVI file without a palette
// pass ('MooV', 'mpg4', 'VfW '); the others answer featureUnsupported from partFormat.
#pragma once

#include "platform/movies/export/movie_exporter.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zef::movies {

// What the join needs to know of the whole export.
struct PartFormat {
    std::string muxer; // of the joined file: "mov", "mp4", "avi"
    std::map<std::string, std::string> muxerOptions;
    FrameRate rate;         // the export frame rate
    int64_t frames = 0;     // export frames of the whole source
    bool hasSound = false;  // whether the export has a sound part
    std::string typeString; // the exporter's short file type ("Movie")
};

// Whether exporter (with its current settings) can export source in parts, and how: noErr with
// *out filled; featureUnsupported when the exporter cannot; paramErr when the source does not fit
// it.
OSErr partFormat(MovieExporter& exporter, const ExportSource& source, PartFormat* out);

// Writes export frames [first, end) of source's pictures, without sound, into a movie file at
// path with the exporter's video settings. paramErr for a range outside the export's frames.
// The exporter's progress procedure gets open, updates and close for the part.
OSErr exportPicturePart(MovieExporter& exporter, ExportSource& source, int64_t first, int64_t end,
                        const std::string& path);

// Writes the sound of the whole export alone into a movie file at path with the exporter's
// sound settings (paramErr when the export has no sound).
OSErr exportSoundPart(MovieExporter& exporter, ExportSource& source, const std::string& path);

struct PicturePart {
    std::string path;
    int64_t frames = 0; // the frames it must hold
};

// Joins the picture parts (in order) and the sound part (none when empty) into a file at path
// as format says, copying the encoded data. Returns noErr; paramErr with *error saying which
// part is missing, holds other frames than it should or was encoded differently; ioErr or
// kExportEncoderErr with *error when reading or writing fails; progressProcAborted when
// cancelled() answers true (checked between packets). A failed join removes what it wrote.
OSErr joinParts(const PartFormat& format, const std::vector<PicturePart>& pictures,
                const std::string& sound, const std::string& path, std::string* error,
                const std::function<bool()>& cancelled = {});

} // namespace zef::movies
