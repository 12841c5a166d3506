#include "engine/render_parts.h"

#include "engine/render.h"
#include "model/zef_exception.h"
#include "platform/movies/export/movie_export_source.h"
#include "platform/movies/export/standard_exporters.h"

#include <unistd.h>

#include <cstdio>

namespace zef {

using namespace movies;

bool renderPart(FRender& render, const RenderPart& part, PartFormat* format)
{
    PartFormat described;
    render.setConversion([&](MovieExportSource& source, ComponentInstance instance,
                             const std::string& path, const ExportProgress& progress) -> OSErr {
        MovieExporter* exporter = exporterOf(render.components(), instance);
        if (!exporter)
            throw ZEFException("This output cannot be rendered in parts: plug-in exporter");
        const OSErr err = partFormat(*exporter, source, &described);
        if (err == featureUnsupported)
            throw ZEFException("This output cannot be rendered in parts: " +
                               exporter->shortFileTypeString());
        if (err != noErr) return err;
        if (part.kind == RenderPart::Kind::Describe) return noErr;
        if (part.kind == RenderPart::Kind::Pictures &&
            (part.first < 0 || part.end > described.frames || part.first >= part.end)) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "Frames %lld to %lld are not within the render's %lld frames",
                          (long long)part.first, (long long)part.end, (long long)described.frames);
            throw ZEFException(text);
        }
        if (part.kind == RenderPart::Kind::Sound && !described.hasSound)
            throw ZEFException("The render has no sound");

        const std::string partial = path + ".partial";
        ::unlink(partial.c_str());
        exporter->setProgressProc(progress.proc, progress.refcon);
        const OSErr result =
            part.kind == RenderPart::Kind::Pictures
                ? exportPicturePart(*exporter, source, part.first, part.end, partial)
                : exportSoundPart(*exporter, source, partial);
        exporter->setProgressProc(nullptr, 0);
        if (result == noErr && ::rename(partial.c_str(), path.c_str()) == 0) return noErr;
        ::unlink(partial.c_str());
        return result == noErr ? ioErr : result;
    });
    struct Reset {
        FRender& render;
        ~Reset() { render.setConversion({}); }
    } reset{render};
    const bool ok = render.renderRange();
    if (format) *format = described;
    return ok;
}

} // namespace zef
