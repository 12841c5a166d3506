// One print to tape: the movie becomes an intermediate AVI file through the toolbox's AVI
// exporter, the intermediate file a DV file, and the DV file is played out through a DV
// transmitter once the user has been told to prepare the camera.
//
// Files: for a destination whose file name is N (its folder is not used), the DV file is
// "N.QT.AVI" and the intermediate file "N.QT.AVI.temp.AVI", both in the current directory.
// Unless the settings force new files ('vide'/'drty'), an existing DV file is played again and
// an existing intermediate file is re-encoded without exporting the movie again. Files that a
// failed or aborted step left incomplete are removed, so they are never taken for finished ones.
#pragma once

#include "exporter/peltra_settings.h"
#include "platform/movies/atom_container.h"
#include "platform/movies/component_abi.h"
#include "platform/movies/export/movie_exporter.h"

#include <string>

namespace zef::peltra {

struct PrintFiles {
    std::string dv;
    std::string intermediate;
};
// Empty names for a destination without a file name.
PrintFiles printFiles(const std::string& destination);

// The settings as the print reads them (peltra_settings.h); missing atoms give the defaults.
struct PrintSettings {
    bool forceNewFiles = false;
    movies::TemporalSettings temporal{kDefaultTemporalQuality, kDefaultFrameRate,
                                      kDefaultKeyFrameRate};
    TransmitterKind transmitter = TransmitterKind::fireWireElseSink;
    std::string sinkPath;
};
PrintSettings readPrintSettings(const movies::AtomContainer& settings);
// Writes them back into a container, keeping its other atoms.
void writePrintSettings(movies::AtomContainer& settings, const PrintSettings& values);
// The container the component starts from: the temporal settings only.
movies::AtomContainer defaultPrintSettings();

// The message shown before the playout.
constexpr const char* kPrepareTitle = "Vonder";
constexpr const char* kPrepareText = "Prepare camera for recording";

// Runs a print. host: the toolbox's services (the AVI exporter, the message box); progress: the
// export's progress procedure, which gets open, updates over the whole print and close, and
// can stop it at any step. Results: noErr once the whole movie was played out; otherwise the
// first failure (the AVI exporter's, kExportEncoderErr, ioErr, kExportConnectionErr when no
// transmitter can take the stream, progressProcAborted, ...).
movies::OSErr printMovie(const ZefComponentHost* host, const movies::ExportProgress& progress,
                         const movies::AtomContainer& settings, movies::ExportSource& source,
                         const std::string& destination);

} // namespace zef::peltra
