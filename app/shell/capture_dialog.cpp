#include "app/shell/capture_dialog.h"

#include "app/capture/capture_control.h"
#include "app/shell/settings_store.h"
#include "capture/tape_deck.h"
#include "model/project.h"
#include "model/zef_exception.h"
#include "platform/com/task_memory.h"
#include "platform/movies/capture/sequence_grabber.h"
#include "ui/controls/xbutton.h"
#include "ui/controls/xcheckbox.h"
#include "ui/controls/xcombobox.h"
#include "ui/controls/xtimecode.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSpinBox>
#include <QStorageInfo>
#include <QTabWidget>
#include <QVBoxLayout>

namespace zef::app {

namespace {

constexpr const char* kPrefs = "Capture Preferences";
constexpr const char* kTransport = "Transport Preferences";

const char* const kRateNames[14] = {"1",  "2",  "3",  "5",  "8",     "10", "12",
                                    "15", "20", "24", "25", "29.97", "30", "Not set"};
const std::pair<const char*, int> kPorts[8] = {
    {"IEEE 1394 Bus", 8},   {"COM1", 2}, {"COM2", 3}, {"COM3", 4}, {"COM4", 5}, {"ARTI driver", 7},
    {"Diaquest driver", 6}, {"USB", 9}};

ui::CXButton* textButton(const QString& text, QWidget* parent)
{
    auto* b = new ui::CXButton(parent);
    b->setCaption(text);
    b->setObjectName(text);
    b->setMinimumSize(86, 22);
    b->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    return b;
}

QString pluginString(char* s)
{
    QString text = s ? QString::fromUtf8(s) : QString();
    com::taskMemFree(s);
    return text;
}

} // namespace

QString CCaptureDialog::askCaptureName(QWidget* parent, const QString& last)
{
    QDialog d(parent);
    d.setWindowTitle(QStringLiteral("Capture audio/video clip to disk"));
    auto* grid = new QGridLayout(&d);
    auto* field = new QLineEdit(last, &d);
    field->setObjectName(QStringLiteral("Capture file name"));
    field->setMinimumWidth(320);
    auto* browse = textButton(QStringLiteral("..."), &d);
    browse->setMinimumSize(24, 22);
    auto* now = textButton(QStringLiteral("Capture Now!"), &d);
    auto* cancel = textButton(QStringLiteral("Cancel"), &d);
    grid->addWidget(new QLabel(QStringLiteral("Capture file name:"), &d), 0, 0, 1, 3);
    grid->addWidget(field, 1, 0, 1, 2);
    grid->addWidget(browse, 1, 2);
    grid->addWidget(now, 2, 0);
    grid->addWidget(cancel, 2, 1);
    QObject::connect(browse, &ui::CXButton::clicked, &d, [&] {
        const QString f = QFileDialog::getOpenFileName(&d, QString(), field->text());
        if (!f.isEmpty()) field->setText(f);
    });
    QObject::connect(now, &ui::CXButton::clicked, &d, &QDialog::accept);
    QObject::connect(cancel, &ui::CXButton::clicked, &d, &QDialog::reject);
    QObject::connect(field, &QLineEdit::returnPressed, &d, &QDialog::accept);
    field->setFocus();
    field->selectAll();
    if (d.exec() != QDialog::Accepted) return {};
    return field->text().trimmed();
}

CCaptureDialog::CCaptureDialog(FCaptureControl& control, SettingsStore& settings, FProject& project,
                               QWidget* parent, DeviceControlAccess devices)
    : QWidget(parent), m_control(control), m_settings(settings), m_devices(std::move(devices)),
      m_project(project)
{
    setObjectName(QStringLiteral("Capture settings"));
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(6, 4, 6, 4);
    auto* modeRow = new QHBoxLayout;
    modeRow->addWidget(new QLabel(QStringLiteral("Capture Mode"), this));
    m_quickTime = new ui::CXRadioButton(QStringLiteral("QuickTime"), this);
    m_directShow = new ui::CXRadioButton(QStringLiteral("DirectShow"), this);
    m_record = textButton(QStringLiteral("Record Now!"), this);
    for (ui::CXRadioButton* r : {m_quickTime, m_directShow}) {
        r->setMinimumWidth(r->sizeHint().width() + r->sizeHint().height()); // the whole name
        modeRow->addWidget(r);
    }
    modeRow->addStretch();
    modeRow->addWidget(m_record);
    top->addLayout(modeRow);
    m_tabs = new QTabWidget(this);
    top->addWidget(m_tabs);

    // "Capture Device"
    auto* t1 = new QWidget;
    auto* g1 = new QGridLayout(t1);
    m_videoLabel = new QLabel(QStringLiteral("Video:"), t1);
    m_video = new ui::CXComboBox(t1);
    m_video->setObjectName(QStringLiteral("Video device"));
    m_videoSettings = textButton(QStringLiteral("Settings..."), t1);
    m_audioLabel = new QLabel(QStringLiteral("Audio:"), t1);
    m_audio = new ui::CXComboBox(t1);
    m_audio->setObjectName(QStringLiteral("Audio device"));
    m_audioSettings = textButton(QStringLiteral("Settings..."), t1);
    m_format = textButton(QStringLiteral("Format..."), t1);
    m_display = textButton(QStringLiteral("Display..."), t1);
    m_compress = textButton(QStringLiteral("Compress..."), t1);
    m_more = textButton(QStringLiteral("More..."), t1);
    m_previewDuring = new ui::CXCheckBox(QStringLiteral("Video preview during capture"), t1);
    m_optimized = new ui::CXCheckBox(QStringLiteral("Use optimized preview"), t1);
    m_interleaved = new ui::CXCheckBox(QStringLiteral("Interlieved DV stream"), t1);
    m_split = new ui::CXCheckBox(QStringLiteral("Split tracks"), t1);
    m_rateLabel = new QLabel(QStringLiteral("Capture frame rate:"), t1);
    m_rate = new ui::CXComboBox(t1);
    for (const char* r : kRateNames)
        m_rate->addItem(QString::fromUtf8(r));
    m_sizeLabel = new QLabel(QStringLiteral("Preview size:"), t1);
    m_size = new ui::CXComboBox(t1);
    m_size->addItems(
        {QStringLiteral("Full-size"), QStringLiteral("Half-size"), QStringLiteral("Quarter-size")});
    m_capturePreview = textButton(QStringLiteral("Capture preview"), t1);
    g1->addWidget(m_videoLabel, 0, 0);
    g1->addWidget(m_video, 0, 1, 1, 2);
    g1->addWidget(m_videoSettings, 0, 3);
    g1->addWidget(m_audioLabel, 1, 0);
    g1->addWidget(m_audio, 1, 1, 1, 2);
    g1->addWidget(m_audioSettings, 1, 3);
    g1->addWidget(m_format, 2, 0);
    g1->addWidget(m_display, 2, 1);
    g1->addWidget(m_compress, 2, 2);
    g1->addWidget(m_more, 2, 3);
    g1->addWidget(m_previewDuring, 3, 0, 1, 2);
    g1->addWidget(m_optimized, 3, 2, 1, 2);
    g1->addWidget(m_interleaved, 4, 0, 1, 2);
    g1->addWidget(m_split, 4, 2, 1, 2);
    g1->addWidget(m_rateLabel, 5, 0);
    g1->addWidget(m_rate, 5, 1);
    g1->addWidget(m_sizeLabel, 5, 2);
    g1->addWidget(m_size, 5, 3);
    g1->addWidget(m_capturePreview, 6, 0, 1, 2);
    m_tabs->addTab(t1, QStringLiteral("Capture Device"));

    // "Advanced"
    auto* t2 = new QWidget;
    auto* g2 = new QGridLayout(t2);
    m_untilStop = new ui::CXRadioButton(QStringLiteral("Capture until stop button is pressed"), t2);
    m_timed = new ui::CXRadioButton(QStringLiteral("Capture"), t2);
    m_seconds = new QSpinBox(t2);
    m_seconds->setRange(0, 3600);
    m_seconds->setObjectName(QStringLiteral("Seconds field"));
    m_secondsLabel = new QLabel(QStringLiteral("Seconds"), t2);
    m_deviceControl = new ui::CXRadioButton(QStringLiteral("Capture using device control"), t2);
    m_addToGallery = new ui::CXCheckBox(QStringLiteral("Add to gallery when capture finishes"), t2);
    m_useFile = new ui::CXCheckBox(QStringLiteral("Use Capture File"), t2);
    m_pathLabel = new QLabel(QStringLiteral("Path:"), t2);
    m_path = new QLineEdit(t2);
    m_browse = textButton(QStringLiteral("Browse"), t2);
    m_sizeFileLabel = new QLabel(QStringLiteral("File Size (MB):"), t2);
    m_fileSize = new QSpinBox(t2);
    m_fileSize->setRange(0, 1 << 20);
    m_reallocate = textButton(QStringLiteral("Re-Allocate"), t2);
    m_status = new QLabel(t2);
    g2->addWidget(m_untilStop, 0, 0, 1, 4);
    g2->addWidget(m_timed, 1, 0);
    g2->addWidget(m_seconds, 1, 1);
    g2->addWidget(m_secondsLabel, 1, 2);
    g2->addWidget(m_deviceControl, 2, 0, 1, 4);
    g2->addWidget(m_addToGallery, 3, 0, 1, 4);
    g2->addWidget(m_useFile, 4, 0, 1, 4);
    g2->addWidget(m_pathLabel, 5, 0);
    g2->addWidget(m_path, 5, 1, 1, 2);
    g2->addWidget(m_browse, 5, 3);
    g2->addWidget(m_sizeFileLabel, 6, 0);
    g2->addWidget(m_fileSize, 6, 1);
    g2->addWidget(m_reallocate, 6, 3);
    g2->addWidget(m_status, 7, 0, 1, 4);
    m_tabs->addTab(t2, QStringLiteral("Advanced"));

    // "Transport"
    auto* t3 = new QWidget;
    auto* g3 = new QGridLayout(t3);
    m_controller = new ui::CXComboBox(t3);
    m_port = new ui::CXComboBox(t3);
    for (const auto& p : kPorts)
        m_port->addItem(QString::fromUtf8(p.first), p.second);
    m_in = new ui::CXTimeCode(t3);
    m_out = new ui::CXTimeCode(t3);
    for (ui::CXTimeCode* t : {m_in, m_out})
        t->setRange(EditTime(0), EditTime(21600000));
    auto* gotoIn = textButton(QStringLiteral("Goto In Point"), t3);
    auto* gotoOut = textButton(QStringLiteral("Goto Out Point"), t3);
    g3->addWidget(new QLabel(QStringLiteral("Device Controller:"), t3), 0, 0);
    g3->addWidget(m_controller, 0, 1, 1, 2);
    g3->addWidget(new QLabel(QStringLiteral("Port to use:"), t3), 1, 0);
    g3->addWidget(m_port, 1, 1, 1, 2);
    g3->addWidget(new QLabel(QStringLiteral("In-point:"), t3), 2, 0);
    g3->addWidget(m_in, 2, 1);
    g3->addWidget(gotoIn, 2, 2);
    g3->addWidget(new QLabel(QStringLiteral("Out-point:"), t3), 3, 0);
    g3->addWidget(m_out, 3, 1);
    g3->addWidget(gotoOut, 3, 2);
    m_tabs->addTab(t3, QStringLiteral("Transport"));

    // The values.
    CaptureSettings& s = m_control.settings();
    (s.useDirectShow ? m_directShow : m_quickTime)->setChecked(true);
    m_untilStop->setChecked(m_project.captureMode == 0);
    m_timed->setChecked(m_project.captureMode == 1);
    m_deviceControl->setChecked(m_project.captureMode == 2);
    m_seconds->setValue(m_project.captureTime);
    m_addToGallery->setChecked(s.addToDeckAfterCapture);
    m_useFile->setChecked(s.useCaptureFile);
    m_path->setText(QString::fromStdString(s.captureFilePath));
    for (const std::string& name : m_devices.names)
        m_controller->addItem(QString::fromStdString(name));
    m_controller->addItem(QStringLiteral("<<none>>"));
    {
        const int32_t open = m_devices.current ? m_devices.current() : -1;
        m_controller->setCurrentIndex(
            open >= 0 && open < m_controller->count() - 1 ? open : m_controller->count() - 1);
    }
    for (int i = 0; i < m_port->count(); ++i)
        if (m_port->itemData(i).toInt() == m_settings.readInt(kTransport, "Port", 8))
            m_port->setCurrentIndex(i);
    m_in->setValue(m_control.inPoint);
    m_out->setValue(m_control.outPoint);

    // The engine.
    connect(m_quickTime, &ui::CXCheckBox::clicked, this, [this] { setEngine(false); });
    connect(m_directShow, &ui::CXCheckBox::clicked, this, [this] { setEngine(true); });
    connect(m_record, &ui::CXButton::clicked, this, &CCaptureDialog::recordNow);
    // "Capture Device".
    auto flag = [this](ui::CXCheckBox* box, bool CaptureSettings::*member, const char* key) {
        connect(box, &ui::CXCheckBox::toggled, this, [this, member, key](bool on) {
            if (m_filling) return;
            m_control.settings().*member = on;
            if (key) m_settings.writeInt(kPrefs, key, on);
            refreshDeviceTab();
        });
    };
    flag(m_previewDuring, &CaptureSettings::videoPreviewDuringCapture, "VideoPreviewDuringCapture");
    flag(m_interleaved, &CaptureSettings::interleavedDV, "InterlievedDV");
    flag(m_split, &CaptureSettings::splitTracks, "SplitTracks");
    connect(m_optimized, &ui::CXCheckBox::toggled, this, [this](bool on) {
        if (m_filling) return;
        m_control.settings().useOptimizedPreview = on;
        m_settings.writeInt(kPrefs, "UseOptimizedPreview", on);
        if (m_capturePreview->isPressed()) {
            m_control.setPluginPreview(false);
            m_control.setPluginPreview(true);
        }
    });
    connect(m_video, &QComboBox::activated, this, [this](int index) {
        CaptureSettings& s = m_control.settings();
        if (!s.useDirectShow) {
            s.captureVideo = index == 0; // for this run only
        } else {
            m_settings.writeInt(kPrefs, "Video Selection", index);
            if (ICaptureDevicePlugin* p = m_control.plugin()) {
                int32_t state = -1;
                p->GetState(&state);
                char* current = nullptr;
                p->GetCurrentVideoDevice(&current);
                const QString name = m_video->itemText(index);
                if (pluginString(current) != name &&
                    !captureFailed(p->SelectVideoDevice(name.toUtf8().constData())) &&
                    state == kCaptureStatePreviewing)
                    p->SetPreview(0, true, s.useOptimizedPreview);
            }
        }
        refreshDeviceTab();
    });
    connect(m_audio, &QComboBox::activated, this, [this](int index) {
        CaptureSettings& s = m_control.settings();
        if (!s.useDirectShow) {
            s.captureAudio = index == 0;
        } else {
            m_settings.writeInt(kPrefs, "Audio Selection", index);
            if (ICaptureDevicePlugin* p = m_control.plugin()) {
                char* current = nullptr;
                p->GetCurrentAudioDevice(&current);
                const QString name = m_audio->itemText(index);
                if (pluginString(current) != name) p->SelectAudioDevice(name.toUtf8().constData());
            }
        }
        refreshDeviceTab();
    });
    const std::pair<ui::CXButton*, int> dialogs[] = {
        {m_videoSettings, 0}, {m_format, 1}, {m_audioSettings, 2}, {m_compress, 3}, {m_display, 4}};
    for (const auto& [button, which] : dialogs)
        connect(button, &ui::CXButton::clicked, this, [this, which] {
            if (m_control.settings().useDirectShow && m_control.plugin())
                m_control.plugin()->ShowDialog(which);
        });
    connect(m_more, &ui::CXButton::clicked, this, [this] {
        if (m_control.plugin()) m_control.plugin()->ShowMoreDialog();
    });
    connect(m_capturePreview, &ui::CXButton::clicked, this, [this] {
        const bool on = !m_capturePreview->isPressed();
        m_capturePreview->setPressed(on);
        m_control.setPluginPreview(on);
    });
    connect(m_rate, &QComboBox::activated, this,
            [this](int index) { m_project.captureRate = index; });
    connect(m_size, &QComboBox::activated, this, [this](int index) {
        m_control.settings().previewSize = index;
        m_settings.writeInt(kPrefs, "QTPreviewSize", index);
        m_control.applyPreviewSize();
    });
    // "Advanced".
    auto mode = [this](int m) {
        m_project.captureMode = m;
        m_seconds->setEnabled(m == 1);
        m_secondsLabel->setEnabled(m == 1);
    };
    connect(m_untilStop, &ui::CXCheckBox::clicked, this, [mode] { mode(0); });
    connect(m_timed, &ui::CXCheckBox::clicked, this, [mode] { mode(1); });
    connect(m_deviceControl, &ui::CXCheckBox::clicked, this, [mode] { mode(2); });
    mode(m_project.captureMode);
    connect(m_seconds, &QSpinBox::valueChanged, this, [this](int v) { m_project.captureTime = v; });
    connect(m_addToGallery, &ui::CXCheckBox::toggled, this,
            [this](bool on) { m_control.settings().addToDeckAfterCapture = on; });
    auto fileControls = [this](bool on) {
        for (QWidget* w : std::initializer_list<QWidget*>{m_pathLabel, m_path, m_browse,
                                                          m_sizeFileLabel, m_fileSize, m_status})
            w->setEnabled(on);
        m_reallocate->setEnabled(on && m_fileSize->value() != m_existingMB);
    };
    connect(m_useFile, &ui::CXCheckBox::toggled, this, [this, fileControls](bool on) {
        m_control.settings().useCaptureFile = on;
        m_settings.writeInt(kPrefs, "UseCaptureFile", on);
        fileControls(on);
    });
    fileControls(s.useCaptureFile);
    connect(m_path, &QLineEdit::editingFinished, this, &CCaptureDialog::pathChanged);
    connect(m_browse, &ui::CXButton::clicked, this, [this] {
        const QString f = QFileDialog::getSaveFileName(this, QString(), m_path->text(),
                                                       QStringLiteral("AVI files (*.AVI *.avi)"),
                                                       nullptr, QFileDialog::DontConfirmOverwrite);
        if (f.isEmpty()) return;
        m_path->setText(f);
        pathChanged();
    });
    connect(m_fileSize, &QSpinBox::valueChanged, this, [this](int v) {
        m_reallocate->setEnabled(m_useFile->isChecked() && v != m_existingMB);
    });
    connect(m_reallocate, &ui::CXButton::clicked, this, [this] {
        if (QMessageBox::warning(this, QStringLiteral("Warning"),
                                 QStringLiteral("Do you want to re-create capture file ?"),
                                 QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
            return;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        if (ICaptureDevicePlugin* p = m_control.plugin())
            p->SetCaptureFile(m_path->text().toUtf8().constData(),
                              uint64_t(m_fileSize->value()) * 1048576);
        QApplication::restoreOverrideCursor();
        pathChanged();
    });
    // "Transport".
    connect(m_in, &ui::CXTimeCode::changed, this, [this] { m_control.inPoint = m_in->value(); });
    connect(m_out, &ui::CXTimeCode::changed, this, [this] { m_control.outPoint = m_out->value(); });
    connect(gotoIn, &ui::CXButton::clicked, this, [this] {
        if (TapeTransport* d = m_control.tapeDeck()) d->seek(m_control.inPoint);
    });
    connect(gotoOut, &ui::CXButton::clicked, this, [this] {
        if (TapeTransport* d = m_control.tapeDeck()) d->seek(m_control.outPoint);
    });
    connect(m_controller, &QComboBox::activated, this, [this](int index) {
        m_settings.writeInt(kTransport, "Filter", index == m_controller->count() - 1 ? -1 : index);
        portChanged(m_port->currentIndex() >= 0 ? m_port->currentData().toInt() : 8);
    });
    connect(m_port, &QComboBox::activated, this,
            [this](int) { portChanged(m_port->currentData().toInt()); });
    pathChanged();
    refreshDeviceTab();
}

void CCaptureDialog::portChanged(int32_t chosen)
{
    // The deck is opened again on the chosen port; the port kept is the one the device
    // reports (-1 without a device: no entry is selected).
    const int device = m_controller->currentIndex();
    int32_t port = -1;
    if (m_devices.reopen && device >= 0 && device < m_controller->count() - 1)
        port = m_devices.reopen(device, chosen);
    m_port->setCurrentIndex(-1);
    for (int i = 0; i < m_port->count(); ++i)
        if (m_port->itemData(i).toInt() == port) m_port->setCurrentIndex(i);
    m_settings.writeInt(kTransport, "Port", port);
}

void CCaptureDialog::setEngine(bool directShow)
{
    CaptureSettings& s = m_control.settings();
    if (s.useDirectShow == directShow) return;
    m_control.closeDevice();
    s.useDirectShow = directShow;
    m_settings.writeInt(kPrefs, "UseDirectShow", directShow);
    m_control.openDevice(false);
    refreshDeviceTab();
}

void CCaptureDialog::pathChanged()
{
    CaptureSettings& s = m_control.settings();
    const QString path = m_path->text();
    s.captureFilePath = path.toStdString();
    m_settings.writeString(kPrefs, "CaptureFilePath", s.captureFilePath);
    const QFileInfo file(path);
    const int64_t existingKB = file.exists() ? file.size() / 1024 : 0;
    const QStorageInfo storage(file.absolutePath());
    const int64_t freeKB = storage.isValid() ? storage.bytesAvailable() / 1024 : 0;
    m_status->setText(
        QStringLiteral("Available disk space: %1 MB").arg((freeKB + existingKB) / 1024));
    m_existingMB = existingKB / 1024;
    m_fileSize->setValue(int(m_existingMB));
    if (ICaptureDevicePlugin* p = m_control.plugin(); p && !path.isEmpty())
        p->SetCaptureFile(path.toUtf8().constData(), 0);
}

void CCaptureDialog::refreshDeviceTab()
{
    m_filling = true;
    CaptureSettings& s = m_control.settings();
    const bool ds = s.useDirectShow;
    for (QWidget* w : std::initializer_list<QWidget*>{m_format, m_display, m_compress, m_more,
                                                      m_optimized, m_interleaved})
        w->setVisible(ds);
    for (QWidget* w : std::initializer_list<QWidget*>{m_split, m_size, m_sizeLabel})
        w->setVisible(!ds);
    m_previewDuring->setChecked(s.videoPreviewDuringCapture);
    m_optimized->setChecked(s.useOptimizedPreview);
    m_interleaved->setChecked(s.interleavedDV);
    m_split->setChecked(s.splitTracks);
    m_rate->setCurrentIndex(std::clamp(m_project.captureRate, 0, 13));
    m_size->setCurrentIndex(std::clamp(s.previewSize, 0, 2));
    m_video->clear();
    m_audio->clear();
    if (ds) {
        ICaptureDevicePlugin* p = m_control.plugin();
        int32_t count = 0;
        if (p && !captureFailed(p->GetVideoDeviceCount(&count)))
            for (int i = 0; i < count; ++i) {
                char* name = nullptr;
                p->GetVideoDeviceName(i, &name);
                m_video->addItem(pluginString(name));
            }
        count = 0;
        if (p && !captureFailed(p->GetAudioDeviceCount(&count)))
            for (int i = 0; i < count; ++i) {
                char* name = nullptr;
                p->GetAudioDeviceName(i, &name);
                m_audio->addItem(pluginString(name));
            }
        char* current = nullptr;
        if (p) p->GetCurrentVideoDevice(&current);
        QString name = pluginString(current);
        m_video->setCurrentIndex(name.isEmpty() ? m_video->count() - 1 : m_video->findText(name));
        current = nullptr;
        if (p) p->GetCurrentAudioDevice(&current);
        name = pluginString(current);
        m_audio->setCurrentIndex(name.isEmpty() ? m_audio->count() - 1 : m_audio->findText(name));
        uint32_t caps = 0;
        if (p) p->GetCapabilities(&caps);
        m_audio->setEnabled(!s.interleavedDV);
        m_audioLabel->setEnabled(!s.interleavedDV);
        m_videoSettings->setEnabled(caps & kCaptureCanVideoSettings);
        m_format->setEnabled(caps & kCaptureCanFormat);
        m_display->setEnabled(caps & kCaptureCanDisplay);
        m_compress->setEnabled(caps & kCaptureCanCompress);
        m_audioSettings->setEnabled((caps & kCaptureCanAudioSettings) && !s.interleavedDV);
        const bool real = m_video->currentIndex() >= 0;
        for (QWidget* w :
             std::initializer_list<QWidget*>{m_previewDuring, m_optimized, m_interleaved,
                                             m_rateLabel, m_rate, m_capturePreview})
            w->setEnabled(real);
    } else {
        m_video->addItems({QStringLiteral("Use Video Device"), QStringLiteral("<<none>>")});
        m_audio->addItems({QStringLiteral("Use Audio Device"), QStringLiteral("<<none>>")});
        m_video->setCurrentIndex(s.captureVideo ? 0 : 1);
        m_audio->setCurrentIndex(s.captureAudio ? 0 : 1);
        movies::SequenceGrabber* g = m_control.grabber();
        const bool video = g && g->videoChannel(), sound = g && g->soundChannel();
        for (QWidget* w :
             std::initializer_list<QWidget*>{m_videoLabel, m_video, m_videoSettings, m_size,
                                             m_sizeLabel, m_previewDuring, m_rateLabel, m_rate})
            w->setEnabled(video);
        m_audio->setEnabled(sound);
        m_audioLabel->setEnabled(sound);
        m_audioSettings->setEnabled(sound);
        m_split->setEnabled(video && sound && s.captureVideo && s.captureAudio);
        m_capturePreview->setEnabled(false);
    }
    m_filling = false;
}

void CCaptureDialog::recordNow()
{
    if (m_control.isCapturing()) {
        m_control.stopCapture();
        refresh();
        return;
    }
    CaptureSettings& s = m_control.settings();
    std::string name;
    if (s.useCaptureFile) {
        name = s.captureFilePath;
    } else {
        const QString chosen =
            askCaptureName(this, QString::fromStdString(m_project.captureFileName));
        if (chosen.isEmpty()) return;
        name = chosen.toStdString();
        m_project.captureFileName = name;
    }
    try {
        m_control.startCapture(name, s.videoPreviewDuringCapture, m_project.captureRate,
                               s.useCaptureFile, s.interleavedDV);
    } catch (const ZEFException& e) {
        QMessageBox::warning(this, QString(), QString::fromStdString(e.message()));
    }
    refresh();
}

void CCaptureDialog::refresh()
{
    const bool capturing = m_control.isCapturing();
    if (capturing != m_shownCapturing) {
        m_shownCapturing = capturing;
        m_record->setGlow(capturing, false, false);
        m_record->setPressed(capturing);
    }
    if (m_in->value().ticks() != m_control.inPoint.ticks()) m_in->setValue(m_control.inPoint);
    if (m_out->value().ticks() != m_control.outPoint.ticks()) m_out->setValue(m_control.outPoint);
}

} // namespace zef::app
