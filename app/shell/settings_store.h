// The per-user settings store of the editor: an INI file in the user's config folder
// (organisation "Morvane", application "ZEF Rondavo"), with sections and keys such as
// "Preview Preferences" / "SingleLayerPreview". Every key has its default here; absent keys
// read as their default. Paths that were drive paths on other systems default to the user's
// video folder.
//
// It is also the project's source of capture defaults, the default composition template and
// the single-layer preference. GUI thread only.
#pragma once

#include "app/layout/deck_layout.h"
#include "model/project_links.h"

#include <QString>

#include <memory>
#include <string>
#include <vector>

class QSettings;

namespace zef {
class TemplateList;
}

namespace zef::app {

// "Capture Preferences".
struct CapturePreferences {
    bool useDirectShow = true;              // "UseDirectShow": capture through the plug-in
    bool videoPreviewDuringCapture = false; // "VideoPreviewDuringCapture"
    bool useOptimizedPreview = true;        // "UseOptimizedPreview"
    bool interleavedDV = true;              // "InterlievedDV"
    bool addToDeckAfterCapture = true;      // "AddToDDeckAfterCapture"
    int previewSize = 2;                    // "QTPreviewSize"
    bool splitTracks = false;               // "SplitTracks"
    bool captureVideo = true;               // "QTCaptureVideo"
    bool captureAudio = true;               // "QTCaptureAudio"
    bool useCaptureFile = false;            // "UseCaptureFile"
    std::string captureFilePath;            // "CaptureFilePath": <videos>/capture.avi
    int videoSelection = 0;                 // "Video Selection"
    int audioSelection = 0;                 // "Audio Selection"
};

// "Transport Preferences".
struct TransportPreferences {
    int filter = -1; // "Filter": the chosen tape-deck control, -1 none
    int port = 8;    // "Port"
};

// "Preview Preferences"; each is written as soon as it is toggled.
struct PreviewFlags {
    bool disableGraphicModesOnPreview = false;  // "DisableGraphicModesOnPreview"
    bool previewTransitionsAsCrossFades = true; // "PreviewTransitionsAsCrossFades"
    bool singleLayerPreview = false;            // "SingleLayerPreview"
    bool disableFiltersOnPreview = false;       // "DisableFiltersOnPreview"
};

// "Recovery Preferences": autosave and backups (times in milliseconds).
struct RecoveryPreferences {
    int autosaveDelay = 3000;        // "AutosaveDelay": after the last change; 0: no autosave
    int autosaveMaxInterval = 30000; // "AutosaveMaxInterval": at most this long while editing
    int backupCount = 5;             // "Backups": earlier versions kept of each project file
};

class SettingsStore : public ProjectSettings {
public:
    static constexpr const char* kOrganisation = "Morvane";
    static constexpr const char* kApplication = "ZEF Rondavo";
    static constexpr int kRecentFiles = 4;

    // The user's store. The template list (may be null) is where the default composition
    // template is looked up.
    explicit SettingsStore(const TemplateList* templates = nullptr);
    // A store kept in the given INI file (tests).
    SettingsStore(const QString& iniFile, const TemplateList* templates);
    ~SettingsStore() override;
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    void setTemplateList(const TemplateList* templates) { m_templates = templates; }
    QString fileName() const;
    // The folder of the store's file, where the user's own files (templates) go.
    QString folder() const;
    // The user's video folder, where capture files go by default.
    static std::string videoFolder();

    // Raw access by section and key.
    int readInt(const char* section, const char* key, int defaultValue) const;
    void writeInt(const char* section, const char* key, int value);
    std::string readString(const char* section, const char* key,
                           const std::string& defaultValue) const;
    void writeString(const char* section, const char* key, const std::string& value);

    CapturePreferences capturePreferences() const;
    void setCapturePreferences(const CapturePreferences& p);
    TransportPreferences transportPreferences() const;
    void setTransportPreferences(const TransportPreferences& p);
    // "Edit Preferences" / "TimelineTimeCode": the timeline shows timecode, else frames.
    bool timelineTimeCode() const;
    void setTimelineTimeCode(bool on);
    PreviewFlags previewFlags() const;
    // Writes one "Preview Preferences" flag at once.
    void setPreviewFlag(const char* key, bool on);

    // Read at start-up; values out of range are brought into it.
    RecoveryPreferences recoveryPreferences() const;
    void setRecoveryPreferences(const RecoveryPreferences& p);

    // "Capture Defaults" and "Composition Defaults" / "Template".
    CaptureDefaults captureDefaults() const override;
    void setCaptureDefaults(const CaptureDefaults& d);
    std::string compositionTemplateName() const;
    void setCompositionTemplateName(const std::string& name);
    std::optional<CProjectTemplate> defaultTemplate() const override;
    bool singleLayerPreview() const override;

    // "Panel%d": the stored place of a panel.
    StoredPanel panel(int index) const;
    void setPanel(int index, const Rect& rect, bool visible);

    // The recent-file list: project paths without extension, newest first.
    std::vector<std::string> recentFiles() const;
    void addRecentFile(const std::string& path);
    void removeRecentFile(const std::string& path);

    void sync();

private:
    // Files 1 to 4, empty where the list is shorter.
    void writeRecentFiles(std::vector<std::string> list);

    std::unique_ptr<QSettings> m_settings;
    const TemplateList* m_templates;
};

} // namespace zef::app
