// Options for a real editor in a test: its settings, user files and state in a folder of the
// test's own, no desktop files written, the program's data taken from the source tree.
#pragma once

#include "app/shell/zef_app.h"

#include <QDir>
#include <QString>

namespace zef::test {

inline app::CZefApp::Options appOptions(const QString& folder)
{
    const QDir dir(folder);
    app::CZefApp::Options o;
    o.settingsFile = dir.filePath(QStringLiteral("settings.ini"));
    o.userFolder = folder;
    o.writeFileAssociation = false;
    o.stateFolder = dir.filePath(QStringLiteral("state"));
    qputenv("ZEF_DATA_DIR", ZEF_DATA_DIR);
    return o;
}

} // namespace zef::test
