#include "app/shell/zef_app.h"

#include "app/capture/capture_control.h"
#include "app/capture/host_callbacks.h"
#include "app/capture/tape_capture_source.h"
#include "app/clipdeck/clip_deck.h"
#include "app/shell/app_paths.h"
#include "app/shell/capture_dialog.h"
#include "app/shell/desktop_integration.h"
#include "app/shell/keyboard_router.h"
#include "app/shell/main_bar.h"
#include "app/shell/qt_user_interface.h"
#include "app/shell/recovery_session.h"
#include "app/shell/settings_store.h"
#include "app/shell/tape_deck_view.h"
#include "capture/capture_plugin.h"
#include "capture/tape_deck.h"
#include "engine/effect_catalogue.h"
#include "engine/frame_delivery.h"
#include "engine/graph_clip_media.h"
#include "engine/movie_builder.h"
#include "model/project.h"
#include "model/template_list.h"
#include "model/zef_exception.h"
#include "output/doutput_settings.h"
#include "platform/graph/class_registry.h"
#include "platform/graph/device_control.h"
#include "platform/graph/software_tape_deck.h"
#include "platform/movies/components.h"
#include "platform/movies/effects/effect_registry.h"
#include "platform/movies/export/standard_exporters.h"
#include "platform/movies/media_check.h"
#include "renderfilter/render_filter.h"
#include "ui/decks/info_dialog.h"
#include "ui/decks/parameters_container.h"
#include "ui/preview/dpreview.h"
#include "ui/preview/preview_panel.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QMessageBox>
#include <QThread>
#include <QUrl>

namespace zef::app {

namespace {

constexpr int kIdleInterval = 100;          // ms between idle passes
constexpr int kCapturePictureInterval = 33; // ms between looks for a new capture picture

void message(QWidget* owner, const QString& text, const QString& title, QMessageBox::Icon icon)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, owner);
    box.exec();
}

} // namespace

// What capturing shows in the windows: the Preview Deck in capture mode with the device's
// pictures, the Info Deck's capture lines, the main bar's progress and the held-back painting.
class CaptureWindows : public QObject, public FCaptureControl::Host {
public:
    CaptureWindows(CMainFrame& frame, const std::function<FCaptureControl&()>& control)
        : m_frame(frame), m_control(control)
    {
        m_pictures.setInterval(kCapturePictureInterval);
        connect(&m_pictures, &QTimer::timeout, this, [this] {
            avcapture::Picture p;
            if (!m_control().newestPicture(p)) return;
            QImage image(p.bgra.data(), p.width, p.height, p.width * 4, QImage::Format_ARGB32);
            m_frame.previewDeck().setCapturePicture(image.copy());
        });
    }
    void deviceOpenChanged(bool open) override
    {
        ui::DPreview& preview = m_frame.previewDeck();
        if (open) {
            const auto [w, h] = m_control().previewPictureSize();
            preview.showCapture(QSize(w, h));
            m_pictures.start();
        } else {
            m_pictures.stop();
        }
    }
    void showStatistics(const CaptureStatistics* stats, bool capturing) override
    {
        FCaptureControl& c = m_control();
        m_frame.infoDeck().showCaptureInfo(stats, c.rateNum(), c.rateDen(), capturing);
        m_frame.setDeckVisible(kInfoDeckPanel, true);
    }
    void captureRunning(bool running) override
    {
        if (running)
            m_frame.beginCapture();
        else if (m_frame.captureCount() > 0)
            m_frame.endCapture();
        if (auto* page = qobject_cast<CCaptureDialog*>(m_frame.parametersDeck().page()))
            page->refresh();
        if (!running) {
            for (QWidget* w : QApplication::topLevelWidgets())
                w->update();
        }
    }
    void progress(const std::string& title, double fraction) override
    {
        CFile2000Status status{};
        if (fraction < 0) {
            m_frame.mainBar().showRenderStatus(nullptr);
            return;
        }
        if (!title.empty()) m_title = title;
        status.progressShown = true;
        status.fraction = fraction;
        status.displayed = m_title;
        m_frame.mainBar().showRenderStatus(&status);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    void beep() override { QApplication::beep(); }
    void pumpPaint() override
    {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }

private:
    CMainFrame& m_frame;
    std::function<FCaptureControl&()> m_control;
    QTimer m_pictures;
    std::string m_title;
};

CZefApp::CZefApp() : CZefApp(Options{}) {}

CZefApp::CZefApp(Options options) : m_options(std::move(options))
{
    m_idle.setInterval(kIdleInterval);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        // No engine pass while a render has the project.
        if (!m_builder || (m_project && m_project->rendering)) return;
        // Capturing comes first; while a capture runs the rest of the idle work waits.
        if (m_captureControl) {
            m_captureControl->idle();
            if (m_captureControl->isCapturing()) return;
        }
        try {
            m_builder->update();
        } catch (const ZEFException& e) {
            // Shown once: the same failure comes back at every pass until the item changes.
            if (e.what() == m_lastBuildError) return;
            m_lastBuildError = e.what();
            if (m_project) m_project->showError(e.what());
            return;
        }
        if (!m_frame) return;
        m_frame->previewDeck().idle();
        m_frame->vcrDeck().periodicUpdate();
    });
}

CZefApp::~CZefApp()
{
    exit();
    if (m_project) m_project->setUserInterface(nullptr);
    m_router.reset();
    registerHostContext(nullptr);
    m_captureControl.reset();
    m_captureWindows.reset();
    m_tapeView.reset();
    if (m_frame) m_frame->vcrDeck().setDeviceMode(nullptr);
    m_frame.reset();
    m_capture.reset();
    if (registeredFrameDelivery() == m_delivery.get()) registerFrameDelivery(nullptr);
}

std::string CZefApp::projectPathFromArgument(std::string arg)
{
    if (!arg.empty() && arg.front() == '"') {
        arg.erase(0, 1);
        if (!arg.empty()) arg.pop_back();
    }
    // Only a dot in the file's own name starts its extension, not one in a folder's name.
    const size_t slash = arg.find_last_of('/');
    const size_t dot = arg.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) arg.resize(dot);
    return arg;
}

bool CZefApp::startUp(const QStringList& arguments)
{
    // 1-2. The media libraries the movie toolbox is built on.
    const movies::MediaLibraryCheck media = movies::checkMediaLibraries();
    m_mediaReady = media.ready;
    if (!m_mediaReady) {
        QMessageBox box(QMessageBox::Critical, QString(),
                        QStringLiteral("FFmpeg 5 media libraries need to be installed\n(%1)\n"
                                       "for this application to run!! \nTerminating.")
                            .arg(QString::fromStdString(media.missing)),
                        QMessageBox::Ok);
        box.setWindowModality(Qt::ApplicationModal);
        box.exec();
        return false;
    }

    // 3. The file association.
    if (m_options.writeFileAssociation)
        writeUserFileAssociation(QCoreApplication::applicationFilePath());

    // 4-5. Components, plug-ins and effects.
    m_registry = std::make_unique<movies::EffectRegistry>(movies::EffectRegistry::withBuiltIns());
    m_components = std::make_unique<movies::ComponentManager>();
    movies::registerStandardExporters(*m_components);
    // Components ask the user through the program's message boxes.
    m_components->setAlertHandler([this](const std::string& title, const std::string& text) {
        message(m_frame.get(), QString::fromStdString(text), QString::fromStdString(title),
                QMessageBox::NoIcon);
        return true;
    });
    registerPlugins();
    m_catalogue = std::make_unique<FEffectCatalogue>(*m_registry, m_components.get());
    m_catalogue->buildCatalogue();

    // 6. The settings store.
    m_templates = std::make_unique<TemplateList>();
    m_settings = m_options.settingsFile.isEmpty()
                     ? std::make_unique<SettingsStore>(m_templates.get())
                     : std::make_unique<SettingsStore>(m_options.settingsFile, m_templates.get());
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Window, QColor(0x90, 0x90, 0x90));
    palette.setColor(QPalette::WindowText, Qt::black);
    QApplication::setPalette(palette);

    // The render filters in the media graph's class registry; the clip opener's second try.
    m_graphClasses = graph::FilterClassRegistry::withBuiltIns();
    DllRegisterServer(m_graphClasses.get());
    m_graphReaders = std::make_unique<GraphClipReaders>(*m_graphClasses, true);
    m_clipOpener = std::make_unique<MediaClipOpener>(m_graphReaders.get());

    // The tape-deck controls: the software deck plays the tape the settings name (else the
    // environment's, else its generated tape).
    graph::SoftwareTapeDeckOptions deckOptions;
    deckOptions.tapePath = m_settings->readString("Capture Preferences", "SoftwareDeckTape", "");
    deckOptions.refuseShuttle =
        m_settings->readInt("Capture Preferences", "SoftwareDeckRefuseShuttle", 0) != 0;
    graph::registerSoftwareTapeDeck(*m_graphClasses, deckOptions);
    m_devices = std::make_unique<graph::DeviceList>();
    m_devices->enumerate(*m_graphClasses);
    m_tapeDeck = std::make_unique<TapeDeck>(*m_graphClasses, *m_devices);
    m_tapeDeck->setPump([] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        QThread::msleep(5);
    });

    m_project = std::make_unique<FProject>(m_settings.get());
    m_project->setClipOpener(m_clipOpener.get());
    m_delivery = std::make_unique<FrameDelivery>(*m_project);
    registerFrameDelivery(m_delivery.get());
    m_project->setEffectCatalogue(m_catalogue.get());
    m_project->setTemplateList(m_templates.get());
    m_builder = std::make_unique<FMovieBuilder>(*m_project, *m_registry, m_components.get());
    m_project->setEngine(m_builder.get());
    applyPreviewPreferences();

    // 7-9. Templates, the main window and its decks, their places.
    loadTemplates();
    m_ui = std::make_unique<QtUserInterface>();
    m_frame = std::make_unique<CMainFrame>(*m_project, *m_settings, *this);
    m_frame->parametersDeck().setEffectRegistry(m_registry.get());
    m_frame->parametersDeck().setFreeStandingParameterDialog(
        m_settings->readInt("Edit Preferences", "FreeStandingParameterDialog", 1) != 0);
    m_frame->infoDeck().setComponents(m_components.get());
    m_capture.reset(CreateCaptureInstance());
    m_captureWindows = std::make_unique<CaptureWindows>(
        *m_frame, [this]() -> FCaptureControl& { return *m_captureControl; });
    m_captureControl =
        std::make_unique<FCaptureControl>(*m_project, m_capture.get(), *m_captureWindows);
    {
        const CapturePreferences p = m_settings->capturePreferences();
        CaptureSettings& c = m_captureControl->settings();
        c.useDirectShow = p.useDirectShow;
        c.videoPreviewDuringCapture = p.videoPreviewDuringCapture;
        c.useOptimizedPreview = p.useOptimizedPreview;
        c.interleavedDV = p.interleavedDV;
        c.splitTracks = p.splitTracks;
        c.addToDeckAfterCapture = p.addToDeckAfterCapture;
        c.captureVideo = p.captureVideo;
        c.captureAudio = p.captureAudio;
        c.useCaptureFile = p.useCaptureFile;
        c.captureFilePath = p.captureFilePath;
        c.previewSize = p.previewSize;
    }
    m_host = std::make_unique<HostContext>();
    m_host->project = m_project.get();
    m_host->plugin = m_capture.get();
    m_host->handleCapturing = [this] { return handleCapturing(); };
    m_host->drawClip = [this](const ZEFSourceItem& clip, int64_t ticks, uint8_t* buffer,
                              int32_t width, int32_t height) {
        return m_delivery->renderFrame(&clip, ticks, buffer, width, height, 0, false);
    };
    registerHostContext(m_host.get());
    m_frame->parametersDeck().setPageFactory(
        ui::CParametersContainer::kCapturePage, [this](QWidget* parent) {
            DeviceControlAccess devices;
            for (size_t i = 0; i < m_devices->size(); ++i)
                devices.names.push_back((*m_devices)[i].nameText());
            devices.current = [this] { return m_tapeDeck->deviceIndex(); };
            devices.reopen = [this](int32_t device, int32_t port) {
                openTapeDeck(device, port);
                return m_tapeDeck->port();
            };
            return new CCaptureDialog(*m_captureControl, *m_settings, *m_project, parent,
                                      std::move(devices));
        });
    m_ui->setParent(m_frame.get());
    m_project->setUserInterface(m_ui.get());
    m_frame->parametersDeck().setProjectPageMaker([this](QWidget* parent) {
        return new output::DOutputSettings({m_project.get(), m_templates.get(), m_components.get(),
                                            m_builder.get(), m_ui.get(), &m_frame->mainBar()},
                                           parent);
    });
    ui::DPreview::Services preview;
    preview.components = m_components.get();
    preview.currentTrack = [this] { return m_frame->clipControl().currentTrack(); };
    preview.setCurrentTrack = [this](int32_t t) { m_frame->clipControl().selectTrack(t); };
    m_frame->previewDeck().attach(*m_builder, std::move(preview));
    m_tapeView = std::make_unique<CTapeDeckView>(m_frame->previewDeck());
    {
        const TransportPreferences transport = m_settings->transportPreferences();
        if (!openTapeDeck(transport.filter, transport.port))
            for (size_t i = 0; i < m_devices->size(); ++i)
                if ((*m_devices)[i].classId == graph::kSoftwareTapeDeckClassId)
                    openTapeDeck(int32_t(i), transport.port);
    }
    m_frame->loadPanels();
    m_frame->showAll();
    m_router = std::make_unique<KeyboardRouter>(*m_frame);
    qApp->installEventFilter(m_router.get());

    // The session is marked for recovery; what an editor that did not close left behind is
    // offered before anything else opens.
    m_recovery = std::make_unique<CRecoverySession>(*m_project, *m_settings, m_options.stateFolder,
                                                    m_options.clock);
    connect(m_recovery.get(), &CRecoverySession::message, this, [this](const QString& text) {
        m_frame->mainBar().showMessage("%s", text.toUtf8().constData());
    });
    bool recovered = false;
    if (m_recovery->start())
        recovered = m_recovery->offerRecovery(
            m_frame.get(), [this](const std::string& file) { return openFromArgument(file); });
    else
        m_frame->mainBar().showMessage("No autosave: the state folder %s cannot be written",
                                       m_recovery->store().folder().c_str());

    // 10. The project named on the command line, or a new one.
    const QString argument = arguments.isEmpty() ? QString() : arguments.front();
    if (!recovered && (argument.isEmpty() || openFromArgument(argument.toStdString()) != 1)) {
        m_project->newProject();
        projectReplaced();
    }
    m_frame->setWindowTitle(m_project->windowTitle());
    m_idle.start();
    return true;
}

bool CZefApp::openTapeDeck(int32_t deviceIndex, int32_t port)
{
    const bool wasInDeviceMode = deviceMode();
    setDeviceMode(false);
    const bool opened = m_tapeDeck->open(deviceIndex, port);
    if (wasInDeviceMode) setDeviceMode(true);
    // Captures with device control drive this deck and record its output (when it has one).
    std::shared_ptr<graph::TapeDeckOutput> output;
    if (opened)
        output = graph::openTapeDeckOutput(*m_graphClasses,
                                           (*m_devices)[size_t(m_tapeDeck->deviceIndex())].classId);
    m_captureControl->setTapeDeck(opened ? m_tapeDeck.get() : nullptr);
    m_captureControl->setTapeSource(output ? std::make_shared<TapeCaptureSource>(output) : nullptr);
    return opened;
}

bool CZefApp::deviceMode() const { return m_frame && m_frame->vcrDeck().deviceMode(); }

void CZefApp::setDeviceMode(bool on)
{
    if (!m_frame) return;
    if (on && m_tapeDeck->isOpen()) {
        m_frame->vcrDeck().setDeviceMode(m_tapeDeck.get());
        m_tapeView->attach(graph::openTapeDeckOutput(
            *m_graphClasses, (*m_devices)[size_t(m_tapeDeck->deviceIndex())].classId));
    } else {
        m_tapeView->detach();
        m_frame->vcrDeck().setDeviceMode(nullptr);
    }
}

int CZefApp::openFromArgument(const std::string& argument)
{
    const std::string path = projectPathFromArgument(argument);
    int result;
    {
        CRecoverySession::Pause pause(m_recovery.get());
        result = m_project->openProject(path);
    }
    if (result == 1) {
        m_frame->setWindowTitle(m_project->windowTitle());
        m_settings->addRecentFile(m_project->filePath);
        projectReplaced();
    } else if (result == -1) {
        message(m_frame.get(),
                QStringLiteral("Cannot load project file\n%1\nPlease verify that path and file "
                               "name are correct")
                    .arg(QString::fromStdString(path)),
                QString(), QMessageBox::Warning);
    }
    return result;
}

void CZefApp::registerPlugins()
{
    for (const std::string& folder : pluginFolders())
        if (QFileInfo(QString::fromStdString(folder)).isDir())
            m_components->registerPluginFolder(folder);
}

QString CZefApp::userFolder() const
{
    return m_options.userFolder.isEmpty() ? m_settings->folder() : m_options.userFolder;
}

void CZefApp::loadTemplates()
{
    for (const std::string& dir : dataFolders())
        if (m_templates->loadFile(dir, "System", true)) break;
    for (const std::string& dir : dataFolders())
        if (m_templates->loadFile(dir, "Import", true)) break;
    m_templates->loadFile(userFolder().toStdString(), "User", false);
    m_templates->sortList();
}

void CZefApp::applyPreviewPreferences()
{
    const PreviewFlags f = m_settings->previewFlags();
    PreviewPreferences p;
    p.disableGraphicModesOnPreview = f.disableGraphicModesOnPreview;
    p.previewTransitionsAsCrossFades = f.previewTransitionsAsCrossFades;
    p.disableFiltersOnPreview = f.disableFiltersOnPreview;
    p.singleLayerPreview = f.singleLayerPreview;
    m_builder->setPreferences(p);
}

bool CZefApp::handleCapturing()
{
    // A plug-in may ask from a thread of its own: the device is opened on the GUI thread.
    if (QThread::currentThread() != thread()) {
        bool open = false;
        QMetaObject::invokeMethod(
            this, [this, &open] { open = handleCapturing(); }, Qt::BlockingQueuedConnection);
        return open;
    }
    if (m_captureControl->deviceOpen()) return true;
    if (!m_captureControl->openDevice(true)) return false;
    ui::DPreview& preview = m_frame->previewDeck();
    const CaptureRect area = m_captureControl->videoArea(preview.width(), preview.height());
    preview.setCaption(QStringLiteral("Capture plugin preview : %1 x %2")
                           .arg(area.right - area.left)
                           .arg(area.bottom - area.top));
    return true;
}

void CZefApp::capturePreview()
{
    ui::DPreview& preview = m_frame->previewDeck();
    preview.pause();
    m_captureControl->setPreviewWindowSize(preview.width(), preview.height());
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool open = m_captureControl->openDevice(false);
    QApplication::restoreOverrideCursor();
    if (!open) return;
    m_captureControl->applyPreviewSize();
    const auto [w, h] = m_captureControl->previewPictureSize();
    preview.showCapture(QSize(w, h));
    const CaptureRect area = m_captureControl->videoArea(preview.width(), preview.height());
    preview.setCaption(QStringLiteral("Capture preview : %1 x %2")
                           .arg(area.right - area.left)
                           .arg(area.bottom - area.top));
    m_frame->mainBar().setPreviewMode(false, true);
    CaptureStatistics none{};
    none.diskSecondsRemaining = -1;
    none.fileSecondsRemaining = -1;
    m_frame->infoDeck().showCaptureInfo(&none, m_captureControl->rateNum(),
                                        m_captureControl->rateDen(), false);
    m_frame->parametersDeck().setCaptureMode(true);
    m_frame->parametersDeck().showSettings(nullptr, true, ui::CParametersContainer::kCapturePage);
    m_frame->setDeckVisible(kParametersDeckPanel, true);
}

void CZefApp::renderPreview()
{
    if (!m_captureControl) return;
    if (m_captureControl->isCapturing()) m_captureControl->stopCapture();
    m_captureControl->closeDevice();
    if (m_capture && m_capture->IsPreviewRunning()) m_capture->SetPreview(0, false, false);
    m_frame->parametersDeck().setCaptureMode(false);
    m_frame->previewDeck().setCaption(QStringLiteral("Preview Deck"));
}

void CZefApp::exit()
{
    if (m_exited || !m_templates) return;
    m_exited = true;
    m_idle.stop();
    // Unsaved changes the user was not asked about stay for the next start to offer.
    if (m_recovery) m_recovery->end(!m_closeConfirmed);
    QDir().mkpath(userFolder());
    m_templates->saveFile(userFolder().toStdString(), "User", false);
    if (m_captureControl) {
        if (m_captureControl->isCapturing()) m_captureControl->stopCapture();
        m_captureControl->closeDevice();
    }
    if (m_project) {
        if (m_frame) m_frame->vcrDeck().stop();
        m_project->reset(true);
    }
}

// ---- file commands

bool CZefApp::saveChangesFirst()
{
    const int result = m_project->saveProject(false, true, true);
    projectSaved(result);
    return result != -1;
}

void CZefApp::projectSaved(int result)
{
    if (result != 1) return;
    m_frame->setWindowTitle(m_project->windowTitle());
    m_settings->addRecentFile(m_project->filePath);
    if (m_recovery) m_recovery->settled();
}

void CZefApp::projectReplaced()
{
    if (m_recovery) m_recovery->settled();
}

void CZefApp::newProject()
{
    if (!saveChangesFirst()) return;
    m_project->newProject();
    projectReplaced();
}

void CZefApp::openProject()
{
    if (!saveChangesFirst()) return;
    int result;
    {
        CRecoverySession::Pause pause(m_recovery.get());
        result = m_project->openProject("");
    }
    if (result == 1) {
        m_frame->setWindowTitle(m_project->windowTitle());
        m_settings->addRecentFile(m_project->filePath);
        projectReplaced();
    } else if (result == -1) {
        message(m_frame.get(), QStringLiteral("Cannot load project file"), QStringLiteral("Error"),
                QMessageBox::Warning);
    }
}

void CZefApp::saveProject() { projectSaved(m_project->saveProject(false, false, false)); }

void CZefApp::saveProjectAs() { projectSaved(m_project->saveProject(true, false, false)); }

void CZefApp::openRecentFile(int index)
{
    const std::vector<std::string> files = m_settings->recentFiles();
    if (index < 0 || size_t(index) >= files.size()) return;
    if (!saveChangesFirst()) return;
    // The list holds paths without extension; add one so that only it is cut again.
    if (openFromArgument(files[size_t(index)] + ".ZEF") == -1)
        m_settings->removeRecentFile(files[size_t(index)]);
}

void CZefApp::fillBackupMenu(QMenu& menu)
{
    if (!m_recovery) return;
    m_recovery->fillBackupMenu(menu, [this](const recovery::Backup& b) { restoreBackup(b); });
}

void CZefApp::restoreBackup(const recovery::Backup& backup)
{
    if (!m_recovery || !saveChangesFirst()) return;
    if (m_recovery->openAs(backup.file, backup.projectFile) != 1)
        message(m_frame.get(), QStringLiteral("Cannot load project file"), QStringLiteral("Error"),
                QMessageBox::Warning);
}

void CZefApp::helpIndex()
{
    const std::string guide = findDataFile("help/index.html");
    if (guide.empty() ||
        !QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(guide))))
        message(m_frame.get(),
                guide.empty() ? QStringLiteral("The user guide is not installed.")
                              : QStringLiteral("No program to show %1 was found.")
                                    .arg(QString::fromStdString(guide)),
                QStringLiteral("Help"), QMessageBox::Information);
}

void CZefApp::about()
{
    const movies::MediaLibraryCheck media = movies::checkMediaLibraries();
    QMessageBox::about(m_frame.get(), QStringLiteral("About ZEF Rondavo"),
                       QStringLiteral("<b>ZEF Rondavo %1</b><p>A non-linear video editor.</p>"
                                      "<p>Qt %2<br>%3</p>")
                           .arg(QCoreApplication::applicationVersion(),
                                QString::fromLatin1(qVersion()),
                                QString::fromStdString(media.versions)));
}

void CZefApp::previewFlagToggled(const char* key, bool on)
{
    m_settings->setPreviewFlag(key, on);
    applyPreviewPreferences();
    if (on && std::string(key) == "SingleLayerPreview")
        m_project->setTrackEnabled(m_frame->clipControl().currentTrack(), true);
}

bool CZefApp::mainWindowClosing()
{
    const int result = m_project->saveProject(false, true, true);
    if (result == -1) return false;
    projectSaved(result);
    m_frame->savePanels();
    m_settings->setCaptureDefaults(CaptureDefaults{m_project->captureRate, m_project->captureTime,
                                                   m_project->captureMode,
                                                   m_project->captureFileName});
    m_settings->setCompositionTemplateName(m_project->composition().name);
    m_settings->sync();
    for (int i = 1; i < kPanelsTotal; ++i)
        m_frame->panelWindow(i)->hide();
    m_closeConfirmed = true;
    return true;
}

} // namespace zef::app
