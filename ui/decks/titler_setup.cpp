#include "ui/decks/titler_setup.h"

#include "model/project.h"
#include "platform/movies/text/font_library.h"
#include "ui/controls/xcheckbox.h"
#include "ui/controls/xcombobox.h"
#include "ui/controls/xstatic.h"
#include "ui/controls/xtimecode.h"
#include "ui/decks/color_button.h"
#include "ui/decks/settings_edits.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTabBar>
#include <QTextOption>

namespace zef::ui {

namespace {

// Style bits and display flags of the title record.
constexpr uint8_t kBold = 1, kItalic = 2, kUnderline = 4, kOutline = 8;
constexpr uint32_t kClipToBox = 4, kScrollIn = 32, kScrollOut = 64, kHorizontalScroll = 128,
                   kReverseScroll = 256, kDropShadow = 4096;
// Justifications: default, left, centre, right.
constexpr int16_t kJustifications[4] = {0, -2, 1, -1};

// The page's geometry: the text box, the check box, the placement group and the tab control.
constexpr int kMargin = 8;
constexpr int kTextHeight = 88;
constexpr int kTabPageHeight = 150;

QSpinBox* spin(QWidget* parent, int min, int max, const char* name)
{
    auto* s = new QSpinBox(parent);
    s->setRange(min, max);
    s->setObjectName(QString::fromUtf8(name));
    s->setFixedWidth(70);
    setFieldLook(s);
    return s;
}

CXCheckBox* check(QWidget* parent, const char* text)
{
    auto* c = new CXCheckBox(QString::fromUtf8(text), parent);
    c->setObjectName(QString::fromUtf8(text));
    c->setFixedHeight(18);
    return c;
}

XStatic* label(QWidget* parent, const char* text)
{
    auto* l = new XStatic(QString::fromUtf8(text), parent);
    l->setFixedHeight(22);
    return l;
}

// The title text keeps its lines apart with carriage returns; the text box with line feeds.
QString shownText(const std::string& stored)
{
    QString t = QString::fromStdString(stored);
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(u'\r', u'\n');
    return t;
}

std::string storedText(const QString& shown)
{
    QString t = shown;
    t.replace(u'\n', u'\r');
    return t.toStdString();
}

Qt::Alignment alignmentOf(int16_t justification)
{
    switch (justification) {
    case 1:
        return Qt::AlignHCenter;
    case -1:
        return Qt::AlignRight;
    default:
        return Qt::AlignLeft;
    }
}

void setFlag(uint32_t& flags, uint32_t bit, bool on) { flags = on ? flags | bit : flags & ~bit; }

} // namespace

// ---- Font

CTitlerTab1::CTitlerTab1(CTitlerSetup& page) : QWidget(&page)
{
    setObjectName(QStringLiteral("Font"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->setVerticalSpacing(8);
    face = new CXComboBox(this);
    face->setObjectName(QStringLiteral("Face"));
    // Every numbered font with a name, with its number as the entry's data.
    if (movies::FontLibrary* fonts = page.fontLibrary())
        for (int n = 0; n <= movies::FontLibrary::kMaxFontNumber && n < fonts->fontCount(); ++n)
            if (const std::string name = fonts->fontName(n); !name.empty())
                face->addItem(QString::fromStdString(name), n);
    face->setMaxVisibleItems(16);
    size = spin(this, 0, 1000, "Size");
    bold = check(this, "Bold");
    italic = check(this, "Italic");
    underline = check(this, "Underline");
    outline = check(this, "Outline");
    clipToBox = check(this, "Clip to box");
    colour = new CColorButton(this);
    colour->setObjectName(QStringLiteral("TextColor"));
    colour->setFixedSize(48, 22);

    grid->addWidget(label(this, "Face:"), 0, 0);
    grid->addWidget(face, 0, 1, 1, 4);
    grid->addWidget(label(this, "Size:"), 1, 0);
    grid->addWidget(size, 1, 1);
    grid->addWidget(label(this, "Color:"), 1, 2, Qt::AlignRight);
    grid->addWidget(colour, 1, 3, Qt::AlignLeft);
    grid->addWidget(bold, 2, 0, 1, 2);
    grid->addWidget(italic, 2, 2);
    grid->addWidget(underline, 2, 3);
    grid->addWidget(outline, 2, 4);
    grid->addWidget(clipToBox, 3, 0, 1, 2);
    grid->setColumnStretch(4, 1);

    connect(face, &QComboBox::activated, &page, &CTitlerSetup::styleEdited);
    connect(size, &QSpinBox::valueChanged, &page, &CTitlerSetup::styleEdited);
    for (CXCheckBox* c : {bold, italic, underline, outline, clipToBox})
        connect(c, &CXCheckBox::clicked, &page, &CTitlerSetup::styleEdited);
    connect(colour, &CColorButton::chosen, &page, &CTitlerSetup::chooseColour);
}

void CTitlerTab1::refill(const TitleStyle& s)
{
    const int row = face->findData(int(s.font));
    face->setCurrentIndex(row >= 0 ? row : 0);
    size->setValue(s.size);
    bold->setChecked(s.style & kBold);
    italic->setChecked(s.style & kItalic);
    underline->setChecked(s.style & kUnderline);
    outline->setChecked(s.style & kOutline);
    clipToBox->setChecked(s.displayFlags & kClipToBox);
    colour->setColour(QColor(s.textColor.red, s.textColor.green, s.textColor.blue));
}

void CTitlerTab1::store(TitleStyle& s) const
{
    if (face->currentIndex() >= 0) s.font = int16_t(face->currentData().toInt());
    s.size = int16_t(size->value());
    // The upper four bits of the style are kept.
    s.style = uint8_t(
        (s.style & 0xF0) | (bold->isChecked() ? kBold : 0) | (italic->isChecked() ? kItalic : 0) |
        (underline->isChecked() ? kUnderline : 0) | (outline->isChecked() ? kOutline : 0));
    setFlag(s.displayFlags, kClipToBox, clipToBox->isChecked());
}

// ---- Effects

CTitlerTab2::CTitlerTab2(CTitlerSetup& page) : QWidget(&page)
{
    setObjectName(QStringLiteral("Effects"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->setVerticalSpacing(6);
    in = check(this, "In");
    out = check(this, "Out");
    reverse = check(this, "Reverse");
    auto* direction = new QWidget(this);
    auto* dl = new QHBoxLayout(direction);
    dl->setContentsMargins(0, 0, 0, 0);
    horizontal = new CXRadioButton(QStringLiteral("Horizontal"), direction);
    vertical = new CXRadioButton(QStringLiteral("Vertical"), direction);
    for (CXRadioButton* r : {horizontal, vertical}) {
        r->setObjectName(r->text());
        r->setFixedHeight(18);
        dl->addWidget(r);
    }
    delay = check(this, "delay(%):");
    delayPercent = spin(this, 0, 100, "Delay");
    shadow = check(this, "Use shadow");
    shadowX = spin(this, -200, 200, "ShadowX");
    shadowY = spin(this, -200, 200, "ShadowY");
    transparency = spin(this, 0, 255, "Transparency");

    grid->addWidget(label(this, "Scroll:"), 0, 0);
    grid->addWidget(in, 0, 1);
    grid->addWidget(out, 0, 2);
    grid->addWidget(reverse, 0, 3);
    grid->addWidget(direction, 1, 1, 1, 3);
    grid->addWidget(delay, 2, 1);
    grid->addWidget(delayPercent, 2, 2);
    grid->addWidget(shadow, 3, 0, 1, 2);
    auto* x = label(this, "X:");
    auto* y = label(this, "Y:");
    auto* t = label(this, "Transp.:");
    grid->addWidget(x, 4, 0, Qt::AlignRight);
    grid->addWidget(shadowX, 4, 1);
    grid->addWidget(y, 4, 2, Qt::AlignRight);
    grid->addWidget(shadowY, 4, 3);
    grid->addWidget(t, 4, 4, Qt::AlignRight);
    grid->addWidget(transparency, 4, 5);
    grid->setColumnStretch(6, 1);
    m_shadowParts = {x, y, t, shadowX, shadowY, transparency};

    for (CXCheckBox* c : {in, out, reverse, delay, shadow})
        connect(c, &CXCheckBox::clicked, &page, &CTitlerSetup::styleEdited);
    for (CXRadioButton* r : {horizontal, vertical})
        connect(r, &CXRadioButton::clicked, &page, &CTitlerSetup::styleEdited);
    for (QSpinBox* s : {delayPercent, shadowX, shadowY, transparency})
        connect(s, &QSpinBox::valueChanged, &page, &CTitlerSetup::styleEdited);
}

void CTitlerTab2::refill(const TitleStyle& s)
{
    in->setChecked(s.displayFlags & kScrollIn);
    out->setChecked(s.displayFlags & kScrollOut);
    reverse->setChecked(s.displayFlags & kReverseScroll);
    (s.displayFlags & kHorizontalScroll ? horizontal : vertical)->setChecked(true);
    delay->setChecked(s.delayEnabled != 0);
    delayPercent->setValue(s.scrollDelay);
    shadow->setChecked(s.displayFlags & kDropShadow);
    shadowX->setValue(s.shadowX);
    shadowY->setValue(s.shadowY);
    transparency->setValue(255 - std::clamp<int>(s.shadowOpacity, 0, 255));
    updateEnabling();
}

void CTitlerTab2::store(TitleStyle& s) const
{
    setFlag(s.displayFlags, kReverseScroll, reverse->isChecked());
    setFlag(s.displayFlags, kScrollIn, in->isChecked());
    setFlag(s.displayFlags, kScrollOut, out->isChecked());
    setFlag(s.displayFlags, kHorizontalScroll, horizontal->isChecked());
    setFlag(s.displayFlags, kDropShadow, shadow->isChecked());
    s.delayEnabled = delay->isChecked() ? 1 : 0;
    s.scrollDelay = int16_t(delayPercent->value());
    s.shadowX = int16_t(shadowX->value());
    s.shadowY = int16_t(shadowY->value());
    s.shadowOpacity = int16_t(255 - transparency->value());
}

void CTitlerTab2::updateEnabling()
{
    for (QWidget* w : m_shadowParts)
        w->setEnabled(shadow->isChecked());
    // A delay only means something for a title that scrolls.
    delayPercent->setEnabled(delay->isChecked() && (in->isChecked() || out->isChecked()));
}

// ---- Justification

CTitlerTab3::CTitlerTab3(CTitlerSetup& page) : QWidget(&page)
{
    setObjectName(QStringLiteral("Justification"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 10, 6, 6);
    layout->setAlignment(Qt::AlignTop);
    const char* names[4] = {"Default", "Left", "Center", "Right"};
    for (int i = 0; i < 4; ++i) {
        buttons[i] = new CXRadioButton(QString::fromUtf8(names[i]), this);
        buttons[i]->setObjectName(QString::fromUtf8(names[i]));
        buttons[i]->setFixedHeight(18);
        layout->addWidget(buttons[i]);
        connect(buttons[i], &CXRadioButton::clicked, &page, &CTitlerSetup::styleEdited);
    }
    layout->addStretch(1);
}

void CTitlerTab3::refill(const TitleStyle& s)
{
    int row = 0;
    for (int i = 0; i < 4; ++i)
        if (kJustifications[i] == s.justification) row = i;
    buttons[row]->setChecked(true);
}

int16_t CTitlerTab3::justification() const
{
    for (int i = 0; i < 4; ++i)
        if (buttons[i]->isChecked()) return kJustifications[i];
    return 0;
}

// ---- the page

CTitlerSetup::CTitlerSetup(DeckContext& context, ZEFTitlerEffect& title, QWidget* parent)
    : CSettingsPage(context, parent), m_title(&title)
{
    setObjectName(QStringLiteral("TitlerSetup"));
    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("TitleText"));
    setFieldLook(m_text, QColor(255, 255, 255));
    connect(m_text, &QPlainTextEdit::textChanged, this, &CTitlerSetup::textEdited);

    m_usePrevious = check(this, "Use previous settings");
    connect(m_usePrevious, &CXCheckBox::clicked, this,
            [this] { usePreviousToggled(m_usePrevious->isChecked()); });

    m_placement = new XGroup(QStringLiteral("Project placement"), this);
    auto* pl = new QHBoxLayout(m_placement);
    pl->setContentsMargins(10, QFontMetrics(font()).height() + 8, 10, 6);
    m_start = timeField([this](CXTimeCode& f) {
        editing([&] { edits::setEffectStart(m_context.project, *m_title, f.value()); });
        refill();
    });
    m_start->setObjectName(QStringLiteral("Start"));
    m_duration = timeField([this](CXTimeCode& f) {
        editing([&] { edits::setEffectDuration(m_context.project, *m_title, f.value()); });
        refill();
    });
    m_duration->setObjectName(QStringLiteral("Duration"));
    for (CXTimeCode* f : {m_start, m_duration}) {
        f->setParent(m_placement);
        f->setFixedSize(CXTimeCode::widthFor(22), 22);
    }
    pl->addWidget(label(m_placement, "Start:"));
    pl->addWidget(m_start);
    pl->addSpacing(24);
    pl->addWidget(label(m_placement, "Duration:"));
    pl->addWidget(m_duration);
    pl->addStretch(1);

    m_tabs = new QTabBar(this);
    m_tabs->setObjectName(QStringLiteral("TitlerTabs"));
    m_tabs->setDrawBase(false);
    for (const char* t : {"Font", "Effects", "Justification"})
        m_tabs->addTab(QString::fromUtf8(t));
    m_tabFrame = new XGroup(QString(), this);
    m_tab1 = new CTitlerTab1(*this);
    m_tab2 = new CTitlerTab2(*this);
    m_tab3 = new CTitlerTab3(*this);
    connect(m_tabs, &QTabBar::currentChanged, this, &CTitlerSetup::selectTab);

    m_textTimer.setSingleShot(true);
    m_textTimer.setInterval(kTextDelay);
    connect(&m_textTimer, &QTimer::timeout, this, &CTitlerSetup::rebuildText);

    selectTab(0);
    refill();
}

void CTitlerSetup::flushPendingText()
{
    if (!m_textTimer.isActive()) return;
    m_textTimer.stop();
    editing([&] { edits::titleChanged(m_context.project, *m_title, false); });
}

movies::FontLibrary* CTitlerSetup::fontLibrary() const { return m_context.fonts(); }

ZEFItem* CTitlerSetup::item() const { return m_title; }

QString CTitlerSetup::caption() const
{
    return QStringLiteral("Parameters: %1").arg(QString::fromStdString(m_title->name()));
}

bool CTitlerSetup::isFirstTitle() const { return m_title->previous() == nullptr; }

void CTitlerSetup::itemChanged(ZEFItem* item)
{
    auto* title = dynamic_cast<ZEFTitlerEffect*>(item);
    // The title being left gets the text typed into it.
    if (title && title != m_title) flushPendingText();
    if (title) m_title = title;
    if (!isEditing()) refill();
}

void CTitlerSetup::refill()
{
    m_filling = true;
    const TitleStyle style = m_title->style();
    const bool first = isFirstTitle();
    m_usePrevious->setEnabled(!first);
    m_usePrevious->setChecked(!first && style.usePrevious != 0);
    m_tabs->setEnabled(!m_usePrevious->isChecked());
    m_tab1->refill(style);
    m_tab2->refill(style);
    m_tab3->refill(style);
    const QString text = shownText(m_title->text());
    if (m_text->toPlainText() != text) m_text->setPlainText(text);
    m_text->document()->setDefaultTextOption(QTextOption(alignmentOf(style.justification)));
    m_start->setValue(m_title->getStart());
    m_duration->setValue(m_title->duration());
    m_filling = false;
    layOut();
}

void CTitlerSetup::textEdited()
{
    if (m_filling) return;
    m_title->setText(storedText(m_text->toPlainText()));
    m_textTimer.start();
}

void CTitlerSetup::rebuildText()
{
    editing([&] { edits::titleChanged(m_context.project, *m_title, false); });
    EditTime middle = m_title->duration();
    middle.scale(0.5);
    m_context.project.previewSeek(m_title->getStart() + middle);
}

void CTitlerSetup::usePreviousToggled(bool on)
{
    if (m_filling) return;
    TitleStyle style = m_title->style();
    style.usePrevious = on ? 1 : 0;
    m_title->setStyle(style);
    m_tabs->setEnabled(!on);
    editing([&] { edits::titleChanged(m_context.project, *m_title, true); });
    layOut();
}

void CTitlerSetup::styleEdited()
{
    m_tab2->updateEnabling();
    if (m_filling) return;
    TitleStyle style = m_title->style();
    m_tab1->store(style);
    m_tab2->store(style);
    style.justification = m_tab3->justification();
    m_title->setStyle(style);
    m_text->document()->setDefaultTextOption(QTextOption(alignmentOf(style.justification)));
    editing([&] { edits::titleChanged(m_context.project, *m_title, true); });
}

void CTitlerSetup::chooseColour(const QColor& c)
{
    TitleStyle style = m_title->style();
    style.textColor = TitleColor{uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue())};
    m_title->setStyle(style);
    editing([&] { edits::titleChanged(m_context.project, *m_title, true); });
}

void CTitlerSetup::selectTab(int index)
{
    QWidget* pages[3] = {m_tab1, m_tab2, m_tab3};
    for (QWidget* p : pages) {
        p->hide();
        p->setEnabled(false);
    }
    index = std::clamp(index, 0, 2);
    pages[index]->setEnabled(true);
    pages[index]->show();
    if (m_tabs->currentIndex() != index) m_tabs->setCurrentIndex(index);
}

void CTitlerSetup::layOut()
{
    const int w = width() - 2 * kMargin;
    int y = kMargin;
    m_text->setGeometry(kMargin, y, w, kTextHeight);
    y += kTextHeight + 6;
    m_usePrevious->setGeometry(kMargin, y, w, 18);
    y += 24;
    const int placementHeight = QFontMetrics(font()).height() + 8 + 22 + 10;
    m_placement->setGeometry(kMargin, y, w, placementHeight);
    y += placementHeight + 6;
    const int tabRow = m_tabs->sizeHint().height();
    m_tabs->setGeometry(kMargin + 4, y, std::min(w - 8, m_tabs->sizeHint().width()), tabRow);
    const int frameTop = y + tabRow - 2;
    const int frameHeight = kTabPageHeight + 12;
    m_tabFrame->setGeometry(kMargin, frameTop, w, frameHeight);
    m_tabFrame->lower();
    // The pages are centred in the tab control, just below its tab row.
    for (QWidget* p : {static_cast<QWidget*>(m_tab1), static_cast<QWidget*>(m_tab2),
                       static_cast<QWidget*>(m_tab3)}) {
        const int pw = std::min(w - 12, 500);
        p->setGeometry(kMargin + (w - pw) / 2, frameTop + 6, pw, kTabPageHeight);
    }
    // With "Use previous settings" on the tabs have nothing to say: the page ends below the
    // placement group.
    const int bottom = m_usePrevious->isChecked() ? m_placement->geometry().bottom() + 1 + 4
                                                  : frameTop + frameHeight + 4;
    if (height() != bottom) {
        setFixedHeight(bottom);
        emit heightChanged();
    }
}

void CTitlerSetup::resizeEvent(QResizeEvent*) { layOut(); }

} // namespace zef::ui
