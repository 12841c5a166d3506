// The plug-in component file: its table and the dispatch entry of 'spit'/'Pelt'.
#include "exporter/peltra_settings.h"
#include "exporter/print_job.h"
#include "exporter/settings_dialog.h"
#include "platform/movies/component_abi.h"
#include "platform/movies/components.h"
#include "platform/movies/export/movie_exporter.h"

#include <cstring>
#include <new>

using namespace zef::movies;
using namespace zef::peltra;

namespace {

// What an open instance keeps.
struct Instance {
    intptr_t self = 0;
    const ZefComponentHost* host = nullptr;
    bool haveSettings = false;
    AtomContainer settings;
    ExportProgress progress;
};

// The destination of an export to a handle, which has no file of its own.
constexpr const char* kHandleDestination = "movie.mov";

bool implemented(intptr_t selector)
{
    switch (selector) {
    case kComponentOpenSelect:
    case kComponentCloseSelect:
    case kComponentCanDoSelect:
    case kComponentVersionSelect:
    case kMovieExportToHandleSelect:
    case kMovieExportToFileSelect:
    case kMovieExportSetProgressProcSelect:
    case kMovieExportSetSampleDescriptionSelect:
    case kMovieExportDoUserDialogSelect:
    case kMovieExportGetSettingsAsAtomContainerSelect:
    case kMovieExportSetSettingsFromAtomContainerSelect:
    case kMovieExportGetFileNameExtensionSelect:
    case kMovieExportGetShortFileTypeStringSelect:
        return true;
    default:
        return false;
    }
}

const AtomContainer& heldSettings(Instance& inst)
{
    if (!inst.haveSettings) {
        inst.settings = defaultPrintSettings();
        inst.haveSettings = true;
    }
    return inst.settings;
}

OSErr exportTo(Instance& inst, const intptr_t* p, uint32_t count, const char* destination)
{
    if (count < 1 || !p[0] || !destination) return paramErr;
    return printMovie(inst.host, inst.progress, heldSettings(inst),
                      *reinterpret_cast<ExportSource*>(p[0]), destination);
}

ComponentResult dispatch(ZefComponentCall* call)
{
    const intptr_t* p = call->params;
    const uint32_t count = call->paramCount;
    if (call->selector == kComponentOpenSelect) {
        auto* inst = new (std::nothrow) Instance;
        if (!inst) return memFullErr;
        inst->self = count >= 1 ? p[0] : 0;
        // The services arrived with the toolbox that knows them; an older one has none.
        const auto* host = count >= 2 ? reinterpret_cast<const ZefComponentHost*>(p[1]) : nullptr;
        if (host && host->size >= sizeof(ZefComponentHost)) inst->host = host;
        call->storage = inst;
        return noErr;
    }
    if (call->selector == kComponentCanDoSelect) return count >= 1 && implemented(p[0]) ? 1 : 0;
    if (call->selector == kComponentVersionSelect) return ComponentResult(kPeltraVersion);
    auto* inst = static_cast<Instance*>(call->storage);
    if (!inst) return badComponentInstance;

    switch (call->selector) {
    case kComponentCloseSelect:
        delete inst;
        call->storage = nullptr;
        return noErr;
    case kMovieExportToHandleSelect: // (ExportSource*, ...)
        return exportTo(*inst, p, count, kHandleDestination);
    case kMovieExportToFileSelect: // (ExportSource*, const char* path)
        return exportTo(*inst, p, count,
                        count >= 2 ? reinterpret_cast<const char*>(p[1]) : nullptr);
    case kMovieExportSetProgressProcSelect:
        if (count < 2) return paramErr;
        inst->progress = {reinterpret_cast<MovieProgressProc>(p[0]), p[1]};
        return noErr;
    case kMovieExportSetSampleDescriptionSelect:
        return noErr;
    case kMovieExportDoUserDialogSelect: { // (ExportSource*, ExporterDialogHost*, bool* cancelled)
        if (count < 3) return paramErr;
        auto* cancelled = reinterpret_cast<bool*>(p[2]);
        AtomContainer edited = heldSettings(*inst);
        // A caller without a dialog host has no windows: the settings stay as they are.
        const bool ok = !p[1] || runSettingsDialog(edited);
        if (cancelled) *cancelled = !ok;
        if (ok) inst->settings = edited;
        return noErr;
    }
    case kMovieExportGetSettingsAsAtomContainerSelect: { // (Handle* out)
        if (count < 1 || !p[0]) return paramErr;
        Handle h = heldSettings(*inst).flatten();
        if (h.isNull()) return memFullErr;
        *reinterpret_cast<Handle*>(p[0]) = std::move(h);
        return noErr;
    }
    case kMovieExportSetSettingsFromAtomContainerSelect: { // (const Handle*)
        if (count < 1 || !p[0]) return paramErr;
        AtomContainer c;
        const OSErr err = AtomContainer::fromHandle(*reinterpret_cast<const Handle*>(p[0]), c);
        if (err != noErr) return err;
        inst->settings = std::move(c);
        inst->haveSettings = true;
        return noErr;
    }
    case kMovieExportGetFileNameExtensionSelect: // (OSType* out)
        if (count < 1 || !p[0]) return paramErr;
        *reinterpret_cast<OSType*>(p[0]) = fourcc("DV\0\0");
        return noErr;
    case kMovieExportGetShortFileTypeStringSelect: // (char* out, 256 bytes)
        if (count < 1 || !p[0]) return paramErr;
        std::strcpy(reinterpret_cast<char*>(p[0]), "Vonder Device");
        return noErr;
    default:
        return badComponentSelectorShort;
    }
}

const ZefComponentRegistration kEntries[] = {
    {kMovieExportType, kPeltraSubType, kPeltraManufacturer, 0u, 0u, "Print to DV Tape",
     "Prints the movie to a DV camcorder or deck over FireWire, or sends the DV stream to a file "
     "or named pipe",
     kPeltraVersion, "PeltraComponentDispatch"},
};

} // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t PeltraComponentDispatch(ZefComponentCall* call)
{
    if (!call) return paramErr;
    try {
        return dispatch(call);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
}

__attribute__((visibility("default"))) extern const ZefPluginTable ZefComponentTable = {
    ZEF_COMPONENT_ABI_VERSION, 1, kEntries};
}
