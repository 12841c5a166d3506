// CCaptureDialog: the capture settings, shown as the Parameters Deck's capture page: the
// engine ("Capture Mode": "QuickTime" for the toolbox's sequence grabber, "DirectShow" for the
// capture plug-in), "Record Now!", and the tabs "Capture Device", "Advanced" and "Transport".
// Every change takes effect at once and the persistent ones are written to the settings store.
//
// GUI thread only; the capture control, settings store and project outlive it.
#pragma once

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTabWidget;

namespace zef {
class FProject;
}
namespace zef::ui {
class CXButton;
class CXCheckBox;
class CXRadioButton;
class CXTimeCode;
} // namespace zef::ui

namespace zef::app {

class FCaptureControl;
class SettingsStore;

// The device controllers for the "Transport" tab: their names, the open one, and re-opening
// the deck on a device and port (answering the port the device reports, -1 without one).
struct DeviceControlAccess {
    std::vector<std::string> names;
    std::function<int32_t()> current;
    std::function<int32_t(int32_t device, int32_t port)> reopen;
};

class CCaptureDialog : public QWidget {
    Q_OBJECT
public:
    CCaptureDialog(FCaptureControl& control, SettingsStore& settings, FProject& project,
                   QWidget* parent = nullptr, DeviceControlAccess devices = {});

    // "Record Now!": stops a running capture, else asks for the file (unless the capture file
    // is used) and starts one.
    void recordNow();
    // Redraws "Record Now!" when the capturing state changed, and the in/out fields.
    void refresh();
    void refreshDeviceTab();
    // The name the "Capture audio/video clip to disk" question gives (empty: cancelled).
    static QString askCaptureName(QWidget* parent, const QString& last);

private:
    void setEngine(bool directShow);
    void pathChanged();

    void portChanged(int32_t port);

    FCaptureControl& m_control;
    SettingsStore& m_settings;
    DeviceControlAccess m_devices;
    FProject& m_project;
    ui::CXRadioButton* m_quickTime;
    ui::CXRadioButton* m_directShow;
    ui::CXButton* m_record;
    QTabWidget* m_tabs;
    // "Capture Device"
    QLabel* m_videoLabel;
    QComboBox* m_video;
    QLabel* m_audioLabel;
    QComboBox* m_audio;
    ui::CXButton *m_videoSettings, *m_format, *m_display, *m_compress, *m_more, *m_audioSettings;
    ui::CXCheckBox *m_previewDuring, *m_optimized, *m_interleaved, *m_split;
    QLabel* m_rateLabel;
    QComboBox* m_rate;
    QLabel* m_sizeLabel;
    QComboBox* m_size;
    ui::CXButton* m_capturePreview;
    // "Advanced"
    ui::CXRadioButton *m_untilStop, *m_timed, *m_deviceControl;
    QSpinBox* m_seconds;
    QLabel* m_secondsLabel;
    ui::CXCheckBox *m_addToGallery, *m_useFile;
    QLineEdit* m_path;
    ui::CXButton *m_browse, *m_reallocate;
    QSpinBox* m_fileSize;
    QLabel *m_pathLabel, *m_sizeFileLabel, *m_status;
    int64_t m_existingMB = 0;
    // "Transport"
    QComboBox* m_controller;
    QComboBox* m_port;
    ui::CXTimeCode *m_in, *m_out;
    bool m_shownCapturing = false;
    bool m_filling = false;
};

} // namespace zef::app
