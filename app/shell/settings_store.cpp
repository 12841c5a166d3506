#include "app/shell/settings_store.h"

#include "model/template_list.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>

namespace zef::app {

namespace {

constexpr const char* kCapture = "Capture Preferences";
constexpr const char* kTransport = "Transport Preferences";
constexpr const char* kEdit = "Edit Preferences";
constexpr const char* kPreview = "Preview Preferences";
constexpr const char* kCaptureDefaults = "Capture Defaults";
constexpr const char* kComposition = "Composition Defaults";
constexpr const char* kRecent = "Recent File List";
constexpr const char* kRecovery = "Recovery Preferences";
constexpr const char* kDefaultTemplate = "VHS Quality, 30 fps movie";

QString key(const char* section, const char* name)
{
    return QString::fromUtf8(section) + QLatin1Char('/') + QString::fromUtf8(name);
}

} // namespace

SettingsStore::SettingsStore(const TemplateList* templates)
    : m_settings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                             QString::fromUtf8(kOrganisation),
                                             QString::fromUtf8(kApplication))),
      m_templates(templates)
{
}

SettingsStore::SettingsStore(const QString& iniFile, const TemplateList* templates)
    : m_settings(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)), m_templates(templates)
{
}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::fileName() const { return m_settings->fileName(); }

QString SettingsStore::folder() const { return QFileInfo(fileName()).absolutePath(); }

std::string SettingsStore::videoFolder()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (dir.isEmpty()) dir = QDir::homePath();
    return dir.toStdString();
}

int SettingsStore::readInt(const char* section, const char* name, int defaultValue) const
{
    bool ok = false;
    const int v = m_settings->value(key(section, name), defaultValue).toInt(&ok);
    return ok ? v : defaultValue;
}

void SettingsStore::writeInt(const char* section, const char* name, int value)
{
    m_settings->setValue(key(section, name), value);
}

std::string SettingsStore::readString(const char* section, const char* name,
                                      const std::string& defaultValue) const
{
    const QVariant v = m_settings->value(key(section, name));
    return v.isValid() ? v.toString().toStdString() : defaultValue;
}

void SettingsStore::writeString(const char* section, const char* name, const std::string& value)
{
    m_settings->setValue(key(section, name), QString::fromStdString(value));
}

CapturePreferences SettingsStore::capturePreferences() const
{
    CapturePreferences p;
    p.useDirectShow = readInt(kCapture, "UseDirectShow", 1) != 0;
    p.videoPreviewDuringCapture = readInt(kCapture, "VideoPreviewDuringCapture", 0) != 0;
    p.useOptimizedPreview = readInt(kCapture, "UseOptimizedPreview", 1) != 0;
    p.interleavedDV = readInt(kCapture, "InterlievedDV", 1) != 0;
    p.addToDeckAfterCapture = readInt(kCapture, "AddToDDeckAfterCapture", 1) != 0;
    p.previewSize = readInt(kCapture, "QTPreviewSize", 2);
    p.splitTracks = readInt(kCapture, "SplitTracks", 0) != 0;
    p.captureVideo = readInt(kCapture, "QTCaptureVideo", 1) != 0;
    p.captureAudio = readInt(kCapture, "QTCaptureAudio", 1) != 0;
    p.useCaptureFile = readInt(kCapture, "UseCaptureFile", 0) != 0;
    p.captureFilePath = readString(kCapture, "CaptureFilePath", videoFolder() + "/capture.avi");
    p.videoSelection = readInt(kCapture, "Video Selection", 0);
    p.audioSelection = readInt(kCapture, "Audio Selection", 0);
    return p;
}

void SettingsStore::setCapturePreferences(const CapturePreferences& p)
{
    writeInt(kCapture, "UseDirectShow", p.useDirectShow);
    writeInt(kCapture, "VideoPreviewDuringCapture", p.videoPreviewDuringCapture);
    writeInt(kCapture, "UseOptimizedPreview", p.useOptimizedPreview);
    writeInt(kCapture, "InterlievedDV", p.interleavedDV);
    writeInt(kCapture, "AddToDDeckAfterCapture", p.addToDeckAfterCapture);
    writeInt(kCapture, "QTPreviewSize", p.previewSize);
    writeInt(kCapture, "SplitTracks", p.splitTracks);
    writeInt(kCapture, "QTCaptureVideo", p.captureVideo);
    writeInt(kCapture, "QTCaptureAudio", p.captureAudio);
    writeInt(kCapture, "UseCaptureFile", p.useCaptureFile);
    writeString(kCapture, "CaptureFilePath", p.captureFilePath);
    writeInt(kCapture, "Video Selection", p.videoSelection);
    writeInt(kCapture, "Audio Selection", p.audioSelection);
}

TransportPreferences SettingsStore::transportPreferences() const
{
    return {readInt(kTransport, "Filter", -1), readInt(kTransport, "Port", 8)};
}

void SettingsStore::setTransportPreferences(const TransportPreferences& p)
{
    writeInt(kTransport, "Filter", p.filter);
    writeInt(kTransport, "Port", p.port);
}

bool SettingsStore::timelineTimeCode() const { return readInt(kEdit, "TimelineTimeCode", 1) != 0; }

void SettingsStore::setTimelineTimeCode(bool on) { writeInt(kEdit, "TimelineTimeCode", on); }

PreviewFlags SettingsStore::previewFlags() const
{
    PreviewFlags f;
    f.disableGraphicModesOnPreview = readInt(kPreview, "DisableGraphicModesOnPreview", 0) != 0;
    f.previewTransitionsAsCrossFades = readInt(kPreview, "PreviewTransitionsAsCrossFades", 1) != 0;
    f.singleLayerPreview = readInt(kPreview, "SingleLayerPreview", 0) != 0;
    f.disableFiltersOnPreview = readInt(kPreview, "DisableFiltersOnPreview", 0) != 0;
    return f;
}

void SettingsStore::setPreviewFlag(const char* name, bool on)
{
    writeInt(kPreview, name, on);
    m_settings->sync();
}

RecoveryPreferences SettingsStore::recoveryPreferences() const
{
    RecoveryPreferences p;
    p.autosaveDelay = std::clamp(readInt(kRecovery, "AutosaveDelay", p.autosaveDelay), 0, 3600000);
    p.autosaveMaxInterval = std::clamp(
        readInt(kRecovery, "AutosaveMaxInterval", p.autosaveMaxInterval), p.autosaveDelay, 3600000);
    p.backupCount = std::clamp(readInt(kRecovery, "Backups", p.backupCount), 0, 100);
    return p;
}

void SettingsStore::setRecoveryPreferences(const RecoveryPreferences& p)
{
    writeInt(kRecovery, "AutosaveDelay", p.autosaveDelay);
    writeInt(kRecovery, "AutosaveMaxInterval", p.autosaveMaxInterval);
    writeInt(kRecovery, "Backups", p.backupCount);
}

CaptureDefaults SettingsStore::captureDefaults() const
{
    CaptureDefaults d;
    d.rate = readInt(kCaptureDefaults, "Rate", 11);
    d.time = readInt(kCaptureDefaults, "Time", 10);
    d.mode = readInt(kCaptureDefaults, "Mode", 0);
    d.fileName = readString(kCaptureDefaults, "FileName", videoFolder() + "/Capture.avi");
    return d;
}

void SettingsStore::setCaptureDefaults(const CaptureDefaults& d)
{
    writeInt(kCaptureDefaults, "Rate", d.rate);
    writeInt(kCaptureDefaults, "Time", d.time);
    writeInt(kCaptureDefaults, "Mode", d.mode);
    writeString(kCaptureDefaults, "FileName", d.fileName);
}

std::string SettingsStore::compositionTemplateName() const
{
    return readString(kComposition, "Template", kDefaultTemplate);
}

void SettingsStore::setCompositionTemplateName(const std::string& name)
{
    writeString(kComposition, "Template", name);
}

std::optional<CProjectTemplate> SettingsStore::defaultTemplate() const
{
    if (!m_templates) return std::nullopt;
    auto* list = const_cast<TemplateList*>(m_templates);
    if (CProjectTemplate* t = list->findByName(compositionTemplateName())) return *t;
    if (CProjectTemplate* t = list->defaultTemplate()) return *t;
    return std::nullopt;
}

bool SettingsStore::singleLayerPreview() const { return previewFlags().singleLayerPreview; }

StoredPanel SettingsStore::panel(int index) const
{
    const std::string section = "Panel" + std::to_string(index);
    const char* s = section.c_str();
    StoredPanel p;
    p.rect = {readInt(s, "Left", 0), readInt(s, "Top", 0), readInt(s, "Right", 0),
              readInt(s, "Bottom", 0)};
    p.visible = readInt(s, "Visible", 1) != 0;
    return p;
}

void SettingsStore::setPanel(int index, const Rect& rect, bool visible)
{
    const std::string section = "Panel" + std::to_string(index);
    const char* s = section.c_str();
    writeInt(s, "Left", rect.left);
    writeInt(s, "Top", rect.top);
    writeInt(s, "Right", rect.right);
    writeInt(s, "Bottom", rect.bottom);
    writeInt(s, "Visible", visible);
}

std::vector<std::string> SettingsStore::recentFiles() const
{
    std::vector<std::string> out;
    for (int i = 1; i <= kRecentFiles; ++i) {
        const std::string name = "File" + std::to_string(i);
        std::string path = readString(kRecent, name.c_str(), "");
        if (!path.empty()) out.push_back(path);
    }
    return out;
}

void SettingsStore::addRecentFile(const std::string& path)
{
    std::vector<std::string> list = recentFiles();
    list.erase(std::remove(list.begin(), list.end(), path), list.end());
    list.insert(list.begin(), path);
    writeRecentFiles(list);
}

void SettingsStore::removeRecentFile(const std::string& path)
{
    std::vector<std::string> list = recentFiles();
    list.erase(std::remove(list.begin(), list.end(), path), list.end());
    writeRecentFiles(list);
}

void SettingsStore::writeRecentFiles(std::vector<std::string> list)
{
    list.resize(kRecentFiles);
    for (int i = 1; i <= kRecentFiles; ++i) {
        const std::string name = "File" + std::to_string(i);
        writeString(kRecent, name.c_str(), list[size_t(i - 1)]);
    }
    m_settings->sync();
}

void SettingsStore::sync() { m_settings->sync(); }

} // namespace zef::app
