#include "output/doutput_settings.h"

#include "engine/render.h"
#include "model/project.h"
#include "model/template_list.h"
#include "model/user_interface.h"
#include "output/broadcast_dialogs.h"
#include "output/render_progress.h"
#include "ui/controls/xbutton.h"
#include "ui/controls/xcheckbox.h"
#include "ui/controls/xstatic.h"
#include "ui/controls/xtimecode.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QSpinBox>

namespace zef::output {

namespace {

// Two templates look the same to the deck when it would show nothing different.
bool sameShown(const CProjectTemplate& a, const CProjectTemplate& b)
{
    return sameSettings(a, b) && a.name == b.name && a.outputFile == b.outputFile;
}

const QColor kTimeColour(0, 192, 192);

} // namespace

DOutputSettings::DOutputSettings(const OutputServices& services, QWidget* parent)
    : ui::CGUIDialog(parent), m_services(services),
      m_settings(*services.project, *services.templates, *services.components, *services.ui),
      m_dialogs(this)
{
    setObjectName(QStringLiteral("OutputSettings"));
    build();
    m_settings.listComponents();
    for (const ExportComponent& c : m_settings.components())
        m_component->addItem(QString::fromStdString(c.name));
    m_services.project->addObserver(this);
    refreshFromTemplate();
    showForm();
    m_outputFile->setFocus();
}

DOutputSettings::~DOutputSettings() { m_services.project->removeObserver(this); }

void DOutputSettings::build()
{
    auto label = [this](const char* text, const QRect& r) {
        auto* s = new ui::XStatic(QString::fromUtf8(text), this);
        s->setGeometry(r);
        return s;
    };
    auto button = [this](const char* name, const char* text, const QRect& r) {
        auto* b = new ui::CXButton(this);
        b->setObjectName(QString::fromUtf8(name));
        b->setCaption(QString::fromUtf8(text));
        b->setGeometry(r);
        return b;
    };
    auto group = [this](const char* text, const QRect& r) {
        auto* g = new ui::XGroup(QString::fromUtf8(text), this);
        g->setGeometry(r);
        g->lower();
        return g;
    };
    auto check = [this](const char* name, const char* text, const QRect& r) {
        auto* c = new ui::CXCheckBox(QString::fromUtf8(text), this);
        c->setObjectName(QString::fromUtf8(name));
        c->setGeometry(r);
        return c;
    };
    auto timecode = [this](const char* name, int x, int y) {
        auto* t = new ui::CXTimeCode(this);
        t->setObjectName(QString::fromUtf8(name));
        t->setDigitColour(kTimeColour);
        t->setGeometry(x, y, ui::CXTimeCode::widthFor(24), 24);
        return t;
    };

    label("Output file:", QRect(8, 8, 70, 22));
    m_outputFile = new QLineEdit(this);
    m_outputFile->setObjectName(QStringLiteral("OutputFile"));
    m_outputFile->setGeometry(80, 8, 380, 22);
    connect(m_outputFile, &QLineEdit::editingFinished, this, [this] {
        if (m_refreshing || m_outputFile->text().toStdString() == m_settings.current().outputFile)
            return;
        m_settings.setOutputFile(m_outputFile->text().toStdString());
        showChanged();
    });
    connect(button("Browse", "Browse", QRect(466, 7, 78, 24)), &ui::CXButton::clicked, this,
            &DOutputSettings::browse);

    group("Output Range", QRect(4, 36, 544, 62));
    connect(button("SetInPoint", "Set In Point", QRect(12, 60, 84, 26)), &ui::CXButton::clicked,
            this, &DOutputSettings::setInPoint);
    m_in = timecode("InPoint", 100, 61);
    connect(button("SetOutPoint", "Set Out Point", QRect(204, 60, 88, 26)), &ui::CXButton::clicked,
            this, &DOutputSettings::setOutPoint);
    m_out = timecode("OutPoint", 296, 61);
    connect(button("RecordNow", "Record Now!", QRect(420, 58, 120, 30)), &ui::CXButton::clicked,
            this, [this] { recordNow(); });
    connect(m_in, &ui::CXTimeCode::changed, this, [this] {
        if (m_refreshing) return;
        m_settings.setInPoint(m_in->value());
        showRange();
    });
    connect(m_out, &ui::CXTimeCode::changed, this, [this] {
        if (m_refreshing) return;
        m_settings.setOutPoint(m_out->value());
        showRange();
    });

    group("Templates", QRect(4, 104, 544, 62));
    m_templates = new QComboBox(this);
    m_templates->setObjectName(QStringLiteral("Templates"));
    m_templates->setEditable(true);
    m_templates->setInsertPolicy(QComboBox::NoInsert);
    m_templates->setGeometry(12, 129, 250, 24);
    connect(m_templates, &QComboBox::activated, this, [this](int index) {
        if (m_refreshing || index < 0) return;
        m_settings.chooseTemplate(size_t(index));
        refreshFromTemplate();
        showForm();
    });
    connect(m_templates, &QComboBox::editTextChanged, this, [this] { applyEditedName(); });
    m_save = button("SaveTemplate", "Save Template", QRect(268, 128, 96, 26));
    connect(m_save, &ui::CXButton::clicked, this, &DOutputSettings::saveTemplate);
    m_delete = button("DeleteTemplate", "Delete Template", QRect(368, 128, 104, 26));
    connect(m_delete, &ui::CXButton::clicked, this, &DOutputSettings::deleteTemplate);
    m_details = button("Details", "Details", QRect(476, 128, 64, 26));
    connect(m_details, &ui::CXButton::clicked, this, &DOutputSettings::toggleDetails);

    // The full form.
    const QObjectList before = children();
    group("Project Size", QRect(4, 172, 272, 90));
    m_width = new QSpinBox(this);
    m_width->setObjectName(QStringLiteral("Width"));
    m_width->setRange(kMinWidth, kMaxWidth);
    m_width->setGeometry(12, 197, 76, 24);
    label("x", QRect(94, 197, 12, 24))->setAlignment(Qt::AlignCenter);
    m_height = new QSpinBox(this);
    m_height->setObjectName(QStringLiteral("Height"));
    m_height->setRange(kMinHeight, kMaxHeight);
    m_height->setGeometry(112, 197, 76, 24);
    for (QSpinBox* spin : {m_width, m_height}) {
        // A typed size counts once it is complete (Enter or leaving the field).
        spin->setKeyboardTracking(false);
        connect(spin, &QSpinBox::valueChanged, this, [this, spin] {
            if (m_refreshing) return;
            const auto [w, h] =
                m_settings.editSize(m_width->value(), m_height->value(), spin == m_width);
            m_refreshing = true;
            m_width->setValue(w);
            m_height->setValue(h);
            m_refreshing = false;
            showChanged();
        });
    }
    m_keepAspect = check("KeepAspect", "Maintain aspect ratio", QRect(12, 230, 200, 18));
    connect(m_keepAspect, &ui::CXCheckBox::clicked, this, [this] {
        m_settings.setKeepAspect(m_keepAspect->isChecked());
        showChanged();
    });

    label("Edit frame rate", QRect(288, 180, 100, 24));
    m_rates = new QComboBox(this);
    m_rates->setObjectName(QStringLiteral("FrameRate"));
    for (const char* r : kEditFrameRateNames)
        m_rates->addItem(QString::fromUtf8(r));
    m_rates->setGeometry(392, 180, 80, 24);
    connect(m_rates, &QComboBox::activated, this, [this](int index) {
        if (m_refreshing) return;
        m_settings.chooseFrameRate(index);
        showRange();
        showChanged();
    });
    m_crop = check("Crop", "Enable output cropping", QRect(288, 214, 200, 18));
    connect(m_crop, &ui::CXCheckBox::clicked, this, [this] {
        m_settings.setCropEnabled(m_crop->isChecked());
        showChanged();
    });

    label("Component:", QRect(8, 270, 74, 24));
    m_component = new QComboBox(this);
    m_component->setObjectName(QStringLiteral("Component"));
    m_component->setGeometry(84, 270, 300, 24);
    connect(m_component, &QComboBox::activated, this, [this](int index) {
        if (m_refreshing) return;
        m_settings.chooseComponent(index);
        m_outputFile->setText(QString::fromStdString(m_settings.current().outputFile));
        showChanged();
    });
    m_componentSetup = button("ComponentSetup", "Component Setup", QRect(392, 269, 148, 26));
    connect(m_componentSetup, &ui::CXButton::clicked, this, &DOutputSettings::componentSetup);

    group("Live Broadcast", QRect(4, 302, 544, 62));
    m_broadcast = check("BroadcastEnable", "Enable", QRect(12, 331, 80, 18));
    connect(m_broadcast, &ui::CXCheckBox::clicked, this, [this] {
        m_settings.setBroadcastEnabled(m_broadcast->isChecked());
        showChanged();
    });
    m_flatten = check("Flatten", "Flatten movie before broadcasting", QRect(100, 331, 260, 18));
    connect(m_flatten, &ui::CXCheckBox::clicked, this, [this] {
        m_settings.setFlatten(m_flatten->isChecked());
        showChanged();
    });
    m_liveSetup = button("LiveSetup", "Live Setup", QRect(420, 326, 120, 26));
    connect(m_liveSetup, &ui::CXButton::clicked, this, &DOutputSettings::liveSetup);
    for (QObject* o : children())
        if (auto* w = qobject_cast<QWidget*>(o); w && !before.contains(o)) m_fullOnly.push_back(w);
}

// ---- showing the template

void DOutputSettings::refreshFromTemplate()
{
    m_refreshing = true;
    m_settings.setFilling(true);
    const CProjectTemplate& t = m_settings.current();
    m_width->setValue(t.width);
    m_height->setValue(t.height);
    m_keepAspect->setChecked(t.keepAspect);
    m_crop->setChecked(t.cropEnabled);
    m_broadcast->setChecked(t.broadcastEnabled);
    m_flatten->setChecked(t.flattenForBroadcast);
    m_settings.refresh();
    m_rates->setCurrentIndex(m_settings.frameRateIndex());
    const int component = m_settings.componentIndex();
    m_component->setCurrentIndex(component);
    showRange();
    m_settings.chooseComponent(component);
    m_outputFile->setText(QString::fromStdString(m_settings.current().outputFile));
    showTemplateList(m_settings.showTemplateList());
    m_settings.setFilling(false);
    m_settings.clearModified();
    m_shown = m_settings.current();
    showLiveSwitches();
    applyEditedName();
    m_refreshing = false;
}

void DOutputSettings::showTemplateList(int select)
{
    const bool was = m_refreshing;
    m_refreshing = true;
    TemplateList& list = *m_services.templates;
    m_templates->clear();
    for (size_t i = 0; i < list.size(); ++i)
        m_templates->addItem(QString::fromStdString(list.at(i).name));
    if (select >= 0 && select < m_templates->count())
        m_templates->setCurrentIndex(select);
    else
        m_templates->setEditText(QString::fromStdString(m_settings.current().name));
    m_refreshing = was;
    applyEditedName();
}

void DOutputSettings::showRange()
{
    const FProject& p = *m_services.project;
    const EditTime end = p.projectEnd();
    const bool was = m_refreshing;
    m_refreshing = true;
    m_in->setRange(EditTime(), end);
    m_out->setRange(p.renderStart, end);
    m_in->setValue(p.renderStart);
    m_out->setValue(p.renderEnd);
    m_refreshing = was;
}

void DOutputSettings::showLiveSwitches()
{
    const bool live = m_settings.broadcastSwitchesEnabled();
    m_broadcast->setEnabled(live);
    m_flatten->setEnabled(live);
    m_liveSetup->setEnabled(m_settings.liveSetup() != LiveSetup::None);
}

void DOutputSettings::showChanged()
{
    const bool was = m_refreshing;
    m_refreshing = true;
    const CProjectTemplate& t = m_settings.current();
    m_rates->setCurrentIndex(m_settings.frameRateIndex());
    m_broadcast->setChecked(t.broadcastEnabled);
    if (m_settings.modified()) m_templates->setEditText(QString::fromStdString(t.name));
    m_refreshing = was;
    m_shown = t;
    showLiveSwitches();
    applyEditedName();
}

void DOutputSettings::applyEditedName()
{
    const std::string text = m_templates->currentText().toStdString();
    m_save->setEnabled(m_settings.modified() ||
                       (!text.empty() && text != m_settings.current().name));
    m_delete->setEnabled(m_settings.canDelete(text));
}

void DOutputSettings::showForm()
{
    const bool full = m_settings.details();
    m_details->setPressed(full);
    for (QWidget* w : m_fullOnly)
        w->setVisible(full);
    setFixedSize(kWidth, full ? kFullHeight : kShortHeight);
    emit formChanged();
}

// ---- the commands

void DOutputSettings::browse()
{
    const std::optional<std::string> chosen =
        m_services.ui->chooseFileToSave(m_settings.current().outputFile, "All Files (*)", "*", "");
    if (!chosen) return;
    m_settings.setOutputFile(*chosen);
    m_outputFile->setText(QString::fromStdString(m_settings.current().outputFile));
    showChanged();
}

void DOutputSettings::setInPoint()
{
    m_settings.setInPoint(m_settings.currentFrameTime());
    showRange();
}

void DOutputSettings::setOutPoint()
{
    m_settings.setOutPoint(m_settings.currentFrameTime());
    showRange();
}

bool DOutputSettings::recordNow()
{
    if (m_rendering) return false;
    m_rendering = true;
    QPointer<DOutputSettings> self(this);
    bool ok = false;
    {
        CRenderHost host(*m_services.project, m_services.progress, [self] {
            if (!self) return false;
            const bool applied = self->m_settings.applyDefaultSettings();
            self->showChanged();
            return applied;
        });
        FRender render(*m_services.project, *m_services.builder, *m_services.components, &host);
        ok = render.renderCommand();
    }
    if (!self) return ok;
    m_rendering = false;
    showRange();
    return ok;
}

void DOutputSettings::saveTemplate()
{
    const int index = m_settings.saveTemplate(m_templates->currentText().toStdString());
    if (index < 0) return;
    showTemplateList(index);
    m_shown = m_settings.current();
}

void DOutputSettings::deleteTemplate()
{
    const int select = m_settings.deleteTemplate(m_templates->currentText().toStdString());
    showTemplateList(select);
}

void DOutputSettings::toggleDetails()
{
    m_settings.setDetails(!m_settings.details());
    showForm();
}

void DOutputSettings::componentSetup()
{
    switch (m_settings.componentSetup(&m_dialogs)) {
    case FOutputSettings::SetupResult::CannotOpen:
        m_services.ui->showMessage("Cannot Open Component", "Error", Icon::Exclamation);
        return;
    case FOutputSettings::SetupResult::Applied:
        showRange();
        showChanged();
        return;
    default:
        return;
    }
}

void DOutputSettings::liveSetup()
{
    switch (m_settings.liveSetup()) {
    case LiveSetup::FileURL: {
        CBroadcastSettingsDialog dialog(m_settings.fileURL(), this);
        if (dialog.exec() != QDialog::Accepted) return;
        m_settings.setFileURL(dialog.url());
        break;
    }
    case LiveSetup::Server: {
        CServerSettingsDialog dialog(m_settings.serverSettings(), this);
        if (dialog.exec() != QDialog::Accepted) return;
        m_settings.setServerSettings(dialog.settings());
        break;
    }
    case LiveSetup::None:
        return;
    }
    showChanged();
}

// ---- following the project

void DOutputSettings::repaintRuler()
{
    if (!m_refreshing) showRange();
}

void DOutputSettings::refreshDecks()
{
    // Looked at once the change that told it is complete: the deck's own commands tell the
    // views in the middle of their work.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_refreshing || m_rendering || sameShown(m_shown, m_settings.current())) return;
            refreshFromTemplate();
            showForm();
        },
        Qt::QueuedConnection);
}

void DOutputSettings::setWindowTitle(const std::string&) { refreshDecks(); }

void DOutputSettings::refreshTimeline() { refreshDecks(); }

} // namespace zef::output
