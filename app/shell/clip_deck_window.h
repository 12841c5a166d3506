// The Clip Deck's window: the resizable deck that lists the items of one track and carries the
// editing commands (FMainControl) of the deck, the item menu and dropped files.
//
// GUI thread only; the project must outlive the deck.
#pragma once

#include "app/clipdeck/clip_deck.h"
#include "ui/controls/gui_dialog.h"

#include <memory>

namespace zef::app {

// The desktop's clipboard: a picture block becomes an image others can paste.
class QtClipboard : public Clipboard {
public:
    bool open() override { return true; }
    bool putBitmap(std::vector<uint8_t> block) override;
    void close() override {}
};

class CClipDeckWindow : public ui::CGUIDialogWithCaption {
    Q_OBJECT
public:
    CClipDeckWindow(FProject& project, QWidget* parent = nullptr);
    ~CClipDeckWindow() override;
    static QSize defaultSize() { return {640, 180}; }

    FMainControl& control() { return *m_control; }

private:
    QtClipboard m_clipboard;
    std::unique_ptr<FMainControl> m_control;
};

} // namespace zef::app
