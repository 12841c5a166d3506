#include "ui/decks/effect_parameter_dialog.h"

#include "model/item.h"
#include "model/project.h"
#include "ui/controls/xbutton.h"
#include "ui/controls/xcheckbox.h"
#include "ui/controls/xcombobox.h"
#include "ui/controls/xslider.h"
#include "ui/controls/xstatic.h"
#include "ui/decks/color_button.h"
#include "ui/decks/settings_page.h"

#include <QCloseEvent>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <string_view>

namespace zef::ui {

using namespace movies;

namespace {

constexpr int kSliderSteps = 1000;

bool isNumber(ParamType t)
{
    return t == ParamType::Integer || t == ParamType::Fixed || t == ParamType::Angle;
}

int decimalsOf(const ParamDescriptor& p)
{
    if (p.type == ParamType::Integer) return 0;
    if (p.type == ParamType::Angle) return 1;
    return p.max - p.min >= 10 ? 2 : 3;
}

QDoubleSpinBox* numberField(QWidget* parent, double min, double max, int decimals)
{
    auto* f = new QDoubleSpinBox(parent);
    f->setRange(min, max);
    f->setDecimals(decimals);
    f->setSingleStep(decimals == 0 ? 1.0
                                   : std::max((max - min) / 100.0, std::pow(10.0, -decimals)));
    f->setKeyboardTracking(false);
    f->setMinimumWidth(72);
    setFieldLook(f);
    return f;
}

QColor colourOf(double packed)
{
    const auto c = uint32_t(packed);
    return QColor(int((c >> 16) & 255), int((c >> 8) & 255), int(c & 255));
}

QImage imageOf(const Pixmap& p)
{
    return QImage(reinterpret_cast<const uchar*>(p.data()), p.width(), p.height(),
                  int(p.strideBytes()), QImage::Format_ARGB32)
        .copy();
}

} // namespace

// ---- the panel

CEffectParameterPanel::CEffectParameterPanel(const EffectDescriptor& d, const ParameterSet& values,
                                             QWidget* parent)
    : QWidget(parent), m_descriptor(d), m_values(values)
{
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    grid->setColumnStretch(1, 1);
    int index = 0;
    for (const ParamDescriptor& p : d.params) {
        const int group = index++ / kPerSubPanel;
        addRow(p, false, group, *grid);
        if (p.tweens) addRow(p, true, group, *grid);
        m_groups = group + 1;
    }
    if (d.params.empty()) {
        auto* none = new XStatic(QStringLiteral("This effect has no parameters."), this);
        grid->addWidget(none, 0, 0, 1, 3);
    }
    // The labels keep the width of the widest, so that the controls stay where they are when
    // another sub-panel is shown.
    int widest = 0;
    for (XStatic* l : findChildren<XStatic*>())
        widest = std::max(widest, l->sizeHint().width());
    grid->setColumnMinimumWidth(0, widest);
    grid->setRowStretch(grid->rowCount(), 1);
    showValues();
}

void CEffectParameterPanel::addRow(const ParamDescriptor& p, bool end, int group, QGridLayout& grid)
{
    Row row;
    row.code = p.code;
    row.end = end;
    row.group = group;
    const int r = grid.rowCount();
    const QString name = QString::fromStdString(p.name);
    const QString label = end ? QStringLiteral("%1 at the end:").arg(name) : name + u':';
    const QString objectName = QStringLiteral("param_") +
                               QString::fromStdString(fourccToString(p.code)).trimmed() +
                               (end ? QStringLiteral("_end") : QString());
    auto addLabel = [&] {
        auto* l = new XStatic(label, this);
        grid.addWidget(l, r, 0);
        row.widgets.push_back(l);
    };

    if (isNumber(p.type)) {
        addLabel();
        auto* slider = new CXSliderCtrl(Qt::Horizontal, this);
        slider->setRange(0, kSliderSteps);
        slider->setPageSize(kSliderSteps / 10);
        slider->setMinimumWidth(120);
        slider->setFixedHeight(18);
        auto* field = numberField(this, p.min, p.max, decimalsOf(p));
        field->setObjectName(objectName);
        grid.addWidget(slider, r, 1);
        grid.addWidget(field, r, 2);
        row.widgets.insert(row.widgets.end(), {slider, field});
        row.control = field;
        const double min = p.min, span = std::max(1e-9, p.max - p.min);
        row.show = [=](const ParamValue& v) {
            slider->setPosition(int(std::lround((v.x - min) / span * kSliderSteps)));
            field->setValue(v.x);
        };
        connect(slider, &CXSliderCtrl::scrolled, this, [=, this](int, int position) {
            if (!m_showing) take(p, end, {min + span * position / kSliderSteps, 0});
        });
        connect(field, &QDoubleSpinBox::valueChanged, this, [=, this](double v) {
            if (!m_showing) take(p, end, {v, 0});
        });
    } else if (p.type == ParamType::Boolean) {
        auto* box = new CXCheckBox(name, this);
        box->setObjectName(objectName);
        box->setFixedHeight(16);
        grid.addWidget(box, r, 0, 1, 3);
        row.widgets.push_back(box);
        row.control = box;
        row.show = [box](const ParamValue& v) { box->setChecked(v.x != 0); };
        connect(box, &CXCheckBox::toggled, this, [=, this](bool on) {
            if (!m_showing) take(p, end, {on ? 1.0 : 0.0, 0});
        });
    } else if (p.type == ParamType::Enum) {
        addLabel();
        auto* list = new CXComboBox(this);
        list->setObjectName(objectName);
        for (const std::string& c : p.choices)
            list->addItem(QString::fromStdString(c));
        grid.addWidget(list, r, 1, 1, 2);
        row.widgets.push_back(list);
        row.control = list;
        row.show = [list](const ParamValue& v) { list->setCurrentIndex(int(v.x)); };
        connect(list, &QComboBox::currentIndexChanged, this, [=, this](int i) {
            if (!m_showing && i >= 0) take(p, end, {double(i), 0});
        });
    } else if (p.type == ParamType::Colour) {
        addLabel();
        auto* button = new CColorButton(this);
        button->setObjectName(objectName);
        button->setFixedSize(48, 20);
        grid.addWidget(button, r, 1, Qt::AlignLeft);
        row.widgets.push_back(button);
        row.control = button;
        row.show = [button](const ParamValue& v) { button->setColour(colourOf(v.x)); };
        connect(button, &CColorButton::chosen, this, [=, this](const QColor& c) {
            take(p, end,
                 {double(0xFF000000u | (uint32_t(c.red()) << 16) | (uint32_t(c.green()) << 8) |
                         uint32_t(c.blue())),
                  0});
        });
    } else { // a point: x and y
        addLabel();
        auto* x = numberField(this, p.min, p.max, 3);
        auto* y = numberField(this, p.min, p.max, 3);
        x->setPrefix(QStringLiteral("x "));
        y->setPrefix(QStringLiteral("y "));
        x->setObjectName(objectName);
        y->setObjectName(objectName + QStringLiteral("_y"));
        grid.addWidget(x, r, 1);
        grid.addWidget(y, r, 2);
        row.widgets.insert(row.widgets.end(), {x, y});
        row.control = x;
        row.show = [x, y](const ParamValue& v) {
            x->setValue(v.x);
            y->setValue(v.y);
        };
        auto changed = [=, this] {
            if (!m_showing) take(p, end, {x->value(), y->value()});
        };
        connect(x, &QDoubleSpinBox::valueChanged, this, changed);
        connect(y, &QDoubleSpinBox::valueChanged, this, changed);
    }
    m_rows.push_back(std::move(row));
}

void CEffectParameterPanel::take(const ParamDescriptor& p, bool end, ParamValue v)
{
    const ParameterSet::Entry* e = m_values.find(p.code);
    if (!e) {
        m_values.set(m_descriptor, p.code, v);
    } else if (end) {
        m_values.setTween(m_descriptor, p.code, e->start, v);
    } else if (e->start == e->end || !p.tweens) {
        // Until its end value is set apart, a value holds for the whole effect.
        m_values.set(m_descriptor, p.code, v);
    } else {
        m_values.setTween(m_descriptor, p.code, v, e->end);
    }
    showValues();
    emit changed();
}

void CEffectParameterPanel::showValues()
{
    m_showing = true;
    for (Row& row : m_rows)
        if (const ParameterSet::Entry* e = m_values.find(row.code))
            row.show(row.end ? e->end : e->start);
    m_showing = false;
}

QStringList CEffectParameterPanel::subPanels() const
{
    QStringList names;
    const auto& params = m_descriptor.params;
    for (int g = 0; g < m_groups; ++g) {
        const size_t first = size_t(g) * kPerSubPanel;
        if (first >= params.size()) {
            names << QStringLiteral("Parameters");
            continue;
        }
        const size_t last = std::min(params.size(), first + kPerSubPanel) - 1;
        const QString a = QString::fromStdString(params[first].name);
        names
            << (first == last
                    ? a
                    : QStringLiteral("%1 to %2").arg(a, QString::fromStdString(params[last].name)));
    }
    return names;
}

void CEffectParameterPanel::showSubPanel(int index)
{
    m_shown = index < 0 || index >= m_groups ? -1 : index;
    for (Row& row : m_rows)
        for (QWidget* w : row.widgets)
            w->setVisible(m_shown < 0 || row.group == m_shown);
}

QWidget* CEffectParameterPanel::control(FourCC code, bool end) const
{
    for (const Row& row : m_rows)
        if (row.code == code && row.end == end) return row.control;
    return nullptr;
}

// ---- the dialog

CEffectParameterDialog::~CEffectParameterDialog()
{
    // The item may have gone first (its own end clears the pointer): only its address is used.
    if (m_editedIn && m_editedIn->editedEffect == &m_item) m_editedIn->editedEffect = nullptr;
}

CEffectParameterDialog::CEffectParameterDialog(const EffectRegistry& registry, ZEFEffectItem& item,
                                               const EffectDescriptor& d, Presentation presentation,
                                               QWidget* parent)
    : CGUIDialogWithCaption(QString::fromStdString(item.name()), false, parent), m_item(item),
      m_descriptor(d), m_presentation(presentation),
      m_preview(registry, item, kPreviewWidth,
                [&] {
                    const FProject* p = item.project();
                    const int w = p ? p->composition().width : 4,
                              h = p ? p->composition().height : 3;
                    return std::clamp(kPreviewWidth * h / std::max(1, w), 48, 2 * kPreviewWidth);
                }()),
      m_original(item.effectDescription())
{
    setObjectName(QStringLiteral("EffectParameterDialog"));
    setWindowModality(Qt::ApplicationModal);
    m_progressValue = m_preview.progress();
    // While the dialog is open, plug-ins reach this effect through the program's exports.
    m_editedIn = item.project();
    if (m_editedIn) m_editedIn->editedEffect = &item;

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(8, 8, 8, 8);
    const QString effectName = QString::fromStdString(item.name());
    if (presentation == Presentation::Embedded) {
        setCaption(QStringLiteral("Effect Parameters"));
        auto* top = new QHBoxLayout;
        auto* title = new XStatic(effectName, this);
        QFont bold = title->font();
        bold.setBold(true);
        title->setFont(bold);
        top->addWidget(title);
        top->addStretch(1);
        top->addWidget(new XStatic(QStringLiteral("Sub-panel:"), this));
        m_subPanels = new CXComboBox(this);
        m_subPanels->setObjectName(QStringLiteral("SubPanels"));
        top->addWidget(m_subPanels);
        outer->addLayout(top);
    }

    auto* middle = new QHBoxLayout;
    m_panel = new CEffectParameterPanel(d, parametersOf(d, item), this);
    middle->addWidget(m_panel, 1);
    auto* right = new QVBoxLayout;
    m_picture = new QLabel(this);
    m_picture->setObjectName(QStringLiteral("EffectPreview"));
    m_picture->setFixedSize(m_preview.width() + 4, m_preview.height() + 4);
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setStyleSheet(QStringLiteral("background: black; border: 2px inset #606060;"));
    right->addWidget(m_picture);
    m_progress = new CXSliderCtrl(Qt::Horizontal, this);
    m_progress->setObjectName(QStringLiteral("PreviewProgress"));
    m_progress->setRange(0, 100);
    m_progress->setPosition(int(std::lround(m_progressValue * 100)));
    m_progress->setFixedHeight(16);
    CGUIDialog::setControlTip(m_progress,
                              QStringLiteral("The moment of the effect the preview shows"));
    right->addWidget(m_progress);
    right->addStretch(1);
    middle->addLayout(right);
    outer->addLayout(middle, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (const char* text : {"OK", "Cancel"}) {
        auto* b = new CXButton(this);
        b->setCaption(QString::fromUtf8(text));
        b->setObjectName(QString::fromUtf8(text));
        b->setFixedSize(80, 24);
        buttons->addWidget(b);
        const bool ok = std::string_view(text) == "OK";
        connect(b, &CXButton::clicked, this, [this, ok] { ok ? confirm() : cancel(); });
    }
    outer->addLayout(buttons);

    if (m_subPanels) {
        m_subPanels->addItems(m_panel->subPanels());
        connect(m_subPanels, &QComboBox::currentIndexChanged, this,
                [this](int i) { m_panel->showSubPanel(i); });
        m_panel->showSubPanel(0);
    }
    connect(m_panel, &CEffectParameterPanel::changed, this, &CEffectParameterDialog::valuesChanged);
    connect(this, &CGUIDialogWithCaption::closedByUser, this, &CEffectParameterDialog::confirm);
    connect(m_progress, &CXSliderCtrl::scrolled, this,
            [this](int, int position) { setPreviewProgress(position / 100.0); });
    drawPreview();
}

void CEffectParameterDialog::setPreviewProgress(double p)
{
    m_progressValue = std::clamp(p, 0.0, 1.0);
    drawPreview();
}

void CEffectParameterDialog::valuesChanged()
{
    // The description is edited in place; the layer is rebuilt only when the user confirms.
    storeParameters(m_item, m_panel->values());
    drawPreview();
}

void CEffectParameterDialog::drawPreview()
{
    Pixmap out;
    if (m_preview.render(m_descriptor, m_panel->values(), m_progressValue, out) != PixelStatus::Ok)
        out = samplePicture(m_preview.width(), m_preview.height(), 0);
    m_previewImage = imageOf(out);
    m_picture->setPixmap(QPixmap::fromImage(m_previewImage));
}

void CEffectParameterDialog::confirm() { finish(true); }

void CEffectParameterDialog::cancel() { finish(false); }

void CEffectParameterDialog::finish(bool accepted)
{
    if (m_finished) return;
    m_finished = true;
    if (!accepted) m_item.setEffectDescription(m_original);
    hide();
    emit finished(accepted);
}

void CEffectParameterDialog::closeEvent(QCloseEvent* e)
{
    // Closing the window keeps what was set.
    finish(true);
    e->accept();
}

void CEffectParameterDialog::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape) {
        cancel();
        return;
    }
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        confirm();
        return;
    }
    CGUIDialogWithCaption::keyPressEvent(e);
}

// ---- the program's parameter edit

CEffectParameterEditing::CEffectParameterEditing(QWidget* dialogParent) : m_parent(dialogParent) {}

CEffectParameterEditing::~CEffectParameterEditing()
{
    if (m_dialog) m_dialog->cancel();
    delete m_dialog.data();
}

bool CEffectParameterEditing::canEdit(const ZEFEffectItem& item) const
{
    return m_registry && !dynamic_cast<const ZEFTitlerEffect*>(&item) &&
           descriptorOf(*m_registry, item) != nullptr;
}

int32_t CEffectParameterEditing::editParameters(ZEFEffectItem& item)
{
    return m_editor.editParameters(item);
}

bool CEffectParameterEditing::open(ZEFEffectItem& item)
{
    const EffectDescriptor* d = m_registry ? descriptorOf(*m_registry, item) : nullptr;
    if (!d || dynamic_cast<ZEFTitlerEffect*>(&item)) {
        if (FProject* p = item.project())
            p->showError("The effect " + item.name() + " has no parameters to set");
        return false;
    }
    m_dialog = new CEffectParameterDialog(*m_registry, item, *d, m_presentation, m_parent);
    ZEFEffectItem* edited = &item;
    connect(m_dialog, &CEffectParameterDialog::finished, this, [this, edited](bool accepted) {
        m_editor.endParameterEdit(accepted);
        emit finished(edited, accepted);
    });
    showCentred(m_dialog, m_parent);
    return true;
}

void CEffectParameterEditing::dismiss()
{
    if (m_dialog) m_dialog->deleteLater();
    m_dialog = nullptr;
}

void CEffectParameterEditing::showStatus(const std::string& text)
{
    emit statusMessage(QString::fromStdString(text));
}

} // namespace zef::ui
