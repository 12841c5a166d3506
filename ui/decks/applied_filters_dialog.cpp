#include "ui/decks/applied_filters_dialog.h"

#include "model/item.h"
#include "model/project.h"
#include "ui/controls/xbutton.h"
#include "ui/controls/xcombobox.h"
#include "ui/decks/effect_parameter_dialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <QVBoxLayout>

namespace zef::ui {

namespace {

constexpr struct {
    const char* name;
    int id;
} kButtons[] = {
    {"Add Filter", 1002},     {"Delete Filter", 1003},    {"Setup Filter", 1004},
    {"Move filter up", 1005}, {"Move filter down", 1006}, {"Close", 1},
};

} // namespace

CAppliedFiltersDialog::CAppliedFiltersDialog(FProject& project, ZEFItem& item,
                                             CEffectParameterEditing* parameters, QWidget* parent)
    : CGUIDialogWithCaption(
          QStringLiteral("Filters applied on %1").arg(QString::fromStdString(item.name())), false,
          parent),
      m_project(project), m_item(item), m_parameters(parameters)
{
    setObjectName(QStringLiteral("AppliedFiltersDialog"));
    setWindowModality(Qt::ApplicationModal);
    m_snapshot =
        std::make_unique<FUndoBuffer>(project, item.track(), "Change filters on " + item.name());

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("FilterList"));
    setFieldLook(m_list);
    m_list->setMinimumSize(220, 170);
    layout->addWidget(m_list, 1);
    auto* column = new QVBoxLayout;
    for (const auto& b : kButtons) {
        auto* button = new CXButton(this);
        button->setCaption(QString::fromUtf8(b.name));
        button->setObjectName(QString::fromUtf8(b.name));
        button->setProperty("controlId", b.id);
        button->setFixedSize(130, 24);
        if (b.id == 1) column->addStretch(1);
        column->addWidget(button);
    }
    layout->addLayout(column);

    connect(button("Add Filter"), &CXButton::clicked, this, &CAppliedFiltersDialog::popupAddMenu);
    connect(button("Delete Filter"), &CXButton::clicked, this,
            &CAppliedFiltersDialog::deleteFilter);
    connect(button("Setup Filter"), &CXButton::clicked, this, &CAppliedFiltersDialog::setupFilter);
    connect(button("Move filter up"), &CXButton::clicked, this, [this] { moveFilter(-1); });
    connect(button("Move filter down"), &CXButton::clicked, this, [this] { moveFilter(1); });
    connect(button("Close"), &CXButton::clicked, this, &CAppliedFiltersDialog::finish);
    connect(this, &CGUIDialogWithCaption::closedByUser, this, &CAppliedFiltersDialog::finish);
    connect(m_list, &QListWidget::currentRowChanged, this, [this] { updateButtons(); });
    connect(m_list, &QListWidget::itemDoubleClicked, this, [this] { setupFilter(); });
    if (m_parameters)
        connect(m_parameters, &CEffectParameterEditing::finished, this,
                [this](ZEFEffectItem* edited, bool accepted) {
                    if (accepted && edited && edited->owner() == &m_item) m_changed = true;
                });
    refill(0);
}

CAppliedFiltersDialog::~CAppliedFiltersDialog() = default;

CXButton* CAppliedFiltersDialog::button(const char* name) const
{
    return findChild<CXButton*>(QString::fromUtf8(name));
}

QStringList CAppliedFiltersDialog::filterNames() const
{
    QStringList names;
    if (const EffectLookup* catalogue = m_project.effectCatalogue())
        for (const CPluginQT& e : catalogue->effectList())
            if (e.sources == 1 && e.manufacturer != movies::fourcc("krvI"))
                names << QString::fromStdString(e.nameText());
    return names;
}

void CAppliedFiltersDialog::refill(int select)
{
    m_list->clear();
    for (size_t i = 0; i < m_item.filterCount(); ++i)
        m_list->addItem(QString::fromStdString(m_item.filter(i)->name()));
    if (m_list->count() > 0) m_list->setCurrentRow(std::clamp(select, 0, m_list->count() - 1));
    updateButtons();
}

void CAppliedFiltersDialog::updateButtons()
{
    const int row = m_list->currentRow();
    const bool selected = row >= 0 && row < m_list->count();
    button("Delete Filter")->setEnabled(selected);
    button("Setup Filter")
        ->setEnabled(selected && m_parameters &&
                     m_parameters->canEdit(*m_item.filter(size_t(row))));
    button("Move filter up")->setEnabled(selected && row > 0);
    button("Move filter down")->setEnabled(selected && row < m_list->count() - 1);
}

void CAppliedFiltersDialog::popupAddMenu()
{
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("AddFilterMenu"));
    for (const QString& name : filterNames())
        menu.addAction(name, this, [this, name] { addFilter(name); });
    CXButton* add = button("Add Filter");
    menu.exec(add->mapToGlobal(QPoint(add->width(), 0)));
}

void CAppliedFiltersDialog::addFilter(const QString& name)
{
    auto filter = std::make_unique<ZEFEffectItem>(m_item.project(), m_item.track(), &m_item);
    filter->setName(name.toStdString());
    filter->assignStart(m_item.getStart());
    filter->assignEnd(m_item.getEnd());
    m_item.addFilter(std::move(filter));
    m_changed = true;
    refill(int(m_item.filterCount()) - 1);
}

void CAppliedFiltersDialog::deleteFilter()
{
    const int row = m_list->currentRow();
    if (row < 0 || size_t(row) >= m_item.filterCount()) return;
    m_item.removeFilter(size_t(row));
    m_changed = true;
    refill(row - 1);
}

void CAppliedFiltersDialog::setupFilter()
{
    const int row = m_list->currentRow();
    if (!m_parameters || row < 0 || size_t(row) >= m_item.filterCount()) return;
    m_parameters->editParameters(*m_item.filter(size_t(row)));
}

void CAppliedFiltersDialog::moveFilter(int by)
{
    const int row = m_list->currentRow(), to = row + by;
    if (row < 0 || to < 0 || size_t(row) >= m_item.filterCount() ||
        size_t(to) >= m_item.filterCount())
        return;
    // The two neighbours change places: the lower one is taken out and put back around the
    // other.
    std::vector<std::unique_ptr<ZEFEffectItem>> filters;
    while (m_item.filterCount() > 0)
        filters.push_back(m_item.removeFilter(0));
    std::swap(filters[size_t(row)], filters[size_t(to)]);
    for (auto& f : filters)
        m_item.addFilter(std::move(f));
    m_changed = true;
    refill(to);
}

void CAppliedFiltersDialog::finish()
{
    if (m_finished) return;
    m_finished = true;
    if (m_changed) {
        m_project.undoHistory().record(std::move(m_snapshot));
        m_project.itemChanged(&m_item, false, true);
    }
    m_snapshot.reset();
    hide();
    emit finished();
}

void CAppliedFiltersDialog::closeEvent(QCloseEvent* e)
{
    finish();
    e->accept();
}

void CAppliedFiltersDialog::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape) {
        finish();
        return;
    }
    CGUIDialogWithCaption::keyPressEvent(e);
}

} // namespace zef::ui
