// The file association of project files on a freedesktop desktop, for the current user: a
// desktop entry that opens a project with this program, the MIME type of ".zef" files and the
// icons of both, under the user's data folder ($XDG_DATA_HOME, usually ~/.local/share).
// Files whose content is already right are left alone; the desktop's caches are refreshed
// when something changed. Failures are ignored by the caller: the editor works without them.
#pragma once

#include <QString>

namespace zef::app {

// Writes the association for the program at programPath into dataHome (empty: the user's
// data folder). Returns whether every file is in place.
bool writeUserFileAssociation(const QString& programPath, const QString& dataHome = {});

} // namespace zef::app
