// CTitlerSetup: the settings page of a title: its text, "Use previous settings", its start and
// duration ("Project placement"), and three tabs: "Font" (CTitlerTab1: face, size, bold,
// italic, underline, outline, colour, clip to box), "Effects" (CTitlerTab2: scrolling, delay,
// shadow) and "Justification" (CTitlerTab3). Every edit is written into the title's style
// record at once and the title is built again, so the preview follows it; the titles after it
// that take their style from it are built again too.
//
// The text is stored at every keystroke, but the title is built only 500 ms after the last
// one (then the preview goes to the middle of the title); switching to another title or
// leaving the page with a keystroke pending builds it at once.
//
// GUI thread only.
#pragma once

#include "model/item.h"
#include "ui/decks/settings_page.h"

#include <QTimer>

class QPlainTextEdit;
class QSpinBox;
class QTabBar;

namespace zef::ui {

class CColorButton;
class CXCheckBox;
class CXComboBox;
class CXRadioButton;
class CXTimeCode;
class XGroup;
class XStatic;

class CTitlerSetup;

// The "Font" tab.
class CTitlerTab1 : public QWidget {
    Q_OBJECT
public:
    explicit CTitlerTab1(CTitlerSetup& page);
    void refill(const TitleStyle& style);
    // The face, size, style bits and "Clip to box" written into the style.
    void store(TitleStyle& style) const;

    CXComboBox* face = nullptr;
    QSpinBox* size = nullptr;
    CXCheckBox* bold = nullptr;
    CXCheckBox* italic = nullptr;
    CXCheckBox* underline = nullptr;
    CXCheckBox* outline = nullptr;
    CColorButton* colour = nullptr;
    CXCheckBox* clipToBox = nullptr;
};

// The "Effects" tab.
class CTitlerTab2 : public QWidget {
    Q_OBJECT
public:
    explicit CTitlerTab2(CTitlerSetup& page);
    void refill(const TitleStyle& style);
    // The scroll and shadow bits, the delay, the shadow offsets and opacity.
    void store(TitleStyle& style) const;
    void updateEnabling();

    CXCheckBox* in = nullptr;
    CXCheckBox* out = nullptr;
    CXRadioButton* horizontal = nullptr;
    CXRadioButton* vertical = nullptr;
    CXCheckBox* reverse = nullptr;
    CXCheckBox* delay = nullptr;
    QSpinBox* delayPercent = nullptr;
    CXCheckBox* shadow = nullptr;
    QSpinBox* shadowX = nullptr;
    QSpinBox* shadowY = nullptr;
    QSpinBox* transparency = nullptr;

private:
    std::vector<QWidget*> m_shadowParts; // enabled only with "Use shadow"
};

// The "Justification" tab.
class CTitlerTab3 : public QWidget {
    Q_OBJECT
public:
    explicit CTitlerTab3(CTitlerSetup& page);
    void refill(const TitleStyle& style);
    // The justification of the checked button.
    int16_t justification() const;

    CXRadioButton* buttons[4] = {}; // "Default", "Left", "Center", "Right"
};

class CTitlerSetup : public CSettingsPage {
    Q_OBJECT
public:
    static constexpr int kTextDelay = 500; // ms from the last keystroke to the rebuild

    CTitlerSetup(DeckContext& context, ZEFTitlerEffect& title, QWidget* parent = nullptr);

    ZEFItem* item() const override;
    ZEFTitlerEffect& title() const { return *m_title; }
    void itemChanged(ZEFItem* item) override;
    QString caption() const override;
    // The page is leaving its title: text typed in the last half second is built now, or,
    // when the title is going away, dropped.
    void flushPendingText();
    void forgetPendingText() { m_textTimer.stop(); }
    bool textPending() const { return m_textTimer.isActive(); }

    QPlainTextEdit* textBox() const { return m_text; }
    CXCheckBox* usePrevious() const { return m_usePrevious; }
    CXTimeCode* startField() const { return m_start; }
    CXTimeCode* durationField() const { return m_duration; }
    QTabBar* tabs() const { return m_tabs; }
    CTitlerTab1& fontTab() const { return *m_tab1; }
    CTitlerTab2& effectsTab() const { return *m_tab2; }
    CTitlerTab3& justificationTab() const { return *m_tab3; }
    void selectTab(int index);
    // The numbered fonts the "Face:" list offers (null when none can be read).
    movies::FontLibrary* fontLibrary() const;

    // A tab's control changed: its part of the style is stored and the titles rebuilt.
    void styleEdited();
    void chooseColour(const QColor& c);

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    void refill();
    void textEdited();
    void rebuildText();
    void usePreviousToggled(bool on);
    void layOut();
    bool isFirstTitle() const;

    ZEFTitlerEffect* m_title;
    QPlainTextEdit* m_text = nullptr;
    CXCheckBox* m_usePrevious = nullptr;
    XGroup* m_placement = nullptr;
    CXTimeCode* m_start = nullptr;
    CXTimeCode* m_duration = nullptr;
    QTabBar* m_tabs = nullptr;
    QWidget* m_tabFrame = nullptr;
    CTitlerTab1* m_tab1 = nullptr;
    CTitlerTab2* m_tab2 = nullptr;
    CTitlerTab3* m_tab3 = nullptr;
    QTimer m_textTimer;
    bool m_filling = false;
};

} // namespace zef::ui
