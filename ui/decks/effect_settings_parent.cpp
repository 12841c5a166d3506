#include "ui/decks/effect_settings_parent.h"

#include "model/item.h"
#include "model/project.h"
#include "ui/controls/xbutton.h"
#include "ui/controls/xcombobox.h"
#include "ui/controls/xstatic.h"
#include "ui/controls/xtimecode.h"
#include "ui/decks/effect_parameter_dialog.h"
#include "ui/decks/graphics_mode_box.h"
#include "ui/decks/settings_edits.h"

#include <QGridLayout>
#include <QHBoxLayout>

namespace zef::ui {

namespace {

constexpr int kRow = 24;

XStatic* label(QWidget* parent, const char* text)
{
    auto* l = new XStatic(QString::fromUtf8(text), parent);
    l->setFixedHeight(kRow);
    return l;
}

} // namespace

CEffectSettingsParent::CEffectSettingsParent(DeckContext& context, ZEFItem& item, bool transition,
                                             QWidget* parent)
    : CSettingsPage(context, parent), m_item(&item), m_transition(transition)
{
    setObjectName(transition ? QStringLiteral("TransitionSettings")
                             : QStringLiteral("EffectSettings"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(8);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    m_types = new CXComboBox(this);
    m_types->setObjectName(QStringLiteral("EffectType"));
    grid->addWidget(label(this, "Effect type:"), 0, 0);
    grid->addWidget(m_types, 0, 1, 1, 3);
    connect(m_types, &QComboBox::activated, this, [this](int i) {
        ZEFEffectItem* fx = effect();
        if (!fx || i < 0) return;
        editing([&] {
            edits::setEffectType(m_context.project, *fx, m_types->itemText(i).toStdString());
        });
        emit captionChanged();
        refill();
    });

    m_start = timeField([this](CXTimeCode& f) {
        editing([&] {
            if (m_transition)
                edits::setTransitionStart(m_context.project, *m_item, f.value());
            else if (ZEFEffectItem* fx = effect())
                edits::setEffectStart(m_context.project, *fx, f.value());
        });
        refill();
    });
    m_start->setObjectName(QStringLiteral("Start"));
    m_duration = timeField([this](CXTimeCode& f) {
        editing([&] {
            if (m_transition)
                edits::setTransitionDuration(m_context.project, *m_item, f.value());
            else if (ZEFEffectItem* fx = effect())
                edits::setEffectDuration(m_context.project, *fx, f.value());
        });
        refill();
    });
    m_duration->setObjectName(QStringLiteral("Duration"));
    for (CXTimeCode* f : {m_start, m_duration})
        f->setFixedSize(CXTimeCode::widthFor(kRow), kRow);
    grid->addWidget(label(this, "Start:"), 1, 0);
    grid->addWidget(m_start, 1, 1, Qt::AlignLeft);
    grid->addWidget(label(this, "Duration:"), 1, 2);
    grid->addWidget(m_duration, 1, 3, Qt::AlignLeft);

    auto button = [this](const char* text) {
        auto* b = new CXButton(this);
        b->setCaption(QString::fromUtf8(text));
        b->setObjectName(QString::fromUtf8(text));
        b->setFixedHeight(26);
        return b;
    };
    m_parameters = button("Parameters...");
    m_filters = button("Filters...");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_parameters);
    buttons->addWidget(m_filters);
    grid->addLayout(buttons, 2, 0, 1, 4);
    connect(m_parameters, &CXButton::clicked, this, [this] {
        if (ZEFEffectItem* fx = effect(); fx && m_context.parameters)
            m_context.parameters->editParameters(*fx);
    });
    connect(m_filters, &CXButton::clicked, this, [this] {
        if (!m_transition && m_context.openFilters) m_context.openFilters(*m_item);
    });

    m_mode = new CGraphicsModeBox(m_context.project, this);
    grid->addWidget(m_mode, 3, 0, 1, 4);
    grid->setRowStretch(4, 1);
    refill();
}

ZEFEffectItem* CEffectSettingsParent::effect() const
{
    return m_transition ? m_item->transition() : dynamic_cast<ZEFEffectItem*>(m_item);
}

QString CEffectSettingsParent::caption() const
{
    const ZEFEffectItem* fx = effect();
    return QStringLiteral("Parameters: %1")
        .arg(QString::fromStdString(fx ? fx->name() : m_item->name()));
}

void CEffectSettingsParent::itemChanged(ZEFItem* item)
{
    if (item) m_item = item;
    if (!isEditing()) refill();
}

void CEffectSettingsParent::refill()
{
    ZEFEffectItem* fx = effect();
    // The catalogue's generators for an effect item, its transitions in transition mode; the
    // program's own components are not offered.
    const int32_t sources = m_transition ? 2 : 0;
    m_types->clear();
    if (const EffectLookup* catalogue = m_context.project.effectCatalogue())
        for (const CPluginQT& e : catalogue->effectList())
            if (e.sources == sources && e.manufacturer != movies::fourcc("krvI"))
                m_types->addItem(QString::fromStdString(e.nameText()));
    const int row =
        fx ? m_types->findText(QString::fromStdString(fx->name()), Qt::MatchFixedString) : -1;
    m_types->setCurrentIndex(std::max(row, 0));

    if (m_transition) {
        m_start->setValue(edits::transitionStart(*m_item));
        m_duration->setValue(edits::transitionDuration(*m_item));
    } else {
        m_start->setValue(m_item->getStart());
        m_duration->setValue(m_item->duration());
    }
    m_parameters->setEnabled(fx && m_context.parameters && m_context.parameters->canEdit(*fx));
    m_filters->setEnabled(!m_transition);
    m_mode->setItem(fx);
}

} // namespace zef::ui
