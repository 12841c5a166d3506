#include "app/shell/desktop_integration.h"

#include "ui/controls/images.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace zef::app {

namespace {

QByteArray resource(const QString& name)
{
    QFile f(QStringLiteral(":/desktop/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes the bytes unless the file holds them already; changed tells whether it wrote.
bool put(const QString& path, const QByteArray& bytes, bool& changed)
{
    if (bytes.isEmpty()) return false;
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes) return true;
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size()) return false;
    changed = true;
    return out.commit();
}

QByteArray iconPng()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ui::artworkImage(QStringLiteral("icon")).save(&buffer, "PNG");
    return bytes;
}

void refreshCache(const QString& tool, const QString& folder)
{
    const QString program = QStandardPaths::findExecutable(tool);
    if (!program.isEmpty()) QProcess::startDetached(program, {folder});
}

} // namespace

bool writeUserFileAssociation(const QString& programPath, const QString& dataHome)
{
    const QString home = dataHome.isEmpty()
                             ? QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                             : dataHome;
    if (home.isEmpty() || programPath.isEmpty()) return false;

    QByteArray entry = resource(QStringLiteral("zef-rondavo.desktop"));
    QString quoted = programPath;
    if (quoted.contains(QLatin1Char(' '))) quoted = QLatin1Char('"') + quoted + QLatin1Char('"');
    entry.replace("Exec=zefedit", "Exec=" + quoted.toUtf8());
    entry.replace("TryExec=zefedit", "TryExec=" + programPath.toUtf8());

    bool entryChanged = false, mimeChanged = false, iconChanged = false;
    bool ok = put(home + QStringLiteral("/applications/zef-rondavo.desktop"), entry, entryChanged);
    ok &= put(home + QStringLiteral("/mime/packages/zef-rondavo.xml"),
              resource(QStringLiteral("zef-rondavo-mime.xml")), mimeChanged);
    const QByteArray icon = iconPng();
    const QString icons = home + QStringLiteral("/icons/hicolor/256x256/");
    ok &= put(icons + QStringLiteral("apps/zef-rondavo.png"), icon, iconChanged);
    ok &= put(icons + QStringLiteral("mimetypes/application-x-zef-rondavo-project.png"), icon,
              iconChanged);

    if (mimeChanged) refreshCache(QStringLiteral("update-mime-database"), home + "/mime");
    if (entryChanged)
        refreshCache(QStringLiteral("update-desktop-database"), home + "/applications");
    return ok;
}

} // namespace zef::app
