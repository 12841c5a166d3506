// The component's settings dialog (Qt Widgets, inside the program's QApplication): the
// transmitter, the sink, the intermediate file's frame rate and quality, and whether every
// print makes new files.
#pragma once

#include "platform/movies/atom_container.h"

namespace zef::peltra {

// Shows the dialog over the settings; true for OK (settings edited), false for Cancel. Without
// a QApplication (a program without windows) nothing is shown and the answer is true with the
// settings unchanged.
bool runSettingsDialog(movies::AtomContainer& settings);

} // namespace zef::peltra
