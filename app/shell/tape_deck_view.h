// Shows a tape deck's output in the Preview Deck: while attached, every picture the deck puts
// out (on its own thread) is copied and handed to the GUI thread, where the Preview Deck shows
// it instead of the player's picture. Pictures that arrive faster than the GUI thread takes
// them replace each other (only the newest is kept).
//
// GUI thread only (the deck's callback is the one part that runs elsewhere). The Preview Deck
// must outlive the view.
#pragma once

#include "platform/graph/tape_deck_output.h"

#include <QImage>
#include <QObject>

#include <memory>
#include <mutex>

namespace zef::ui {
class DPreview;
}

namespace zef::app {

class CTapeDeckView : public QObject {
    Q_OBJECT
public:
    explicit CTapeDeckView(ui::DPreview& preview);
    ~CTapeDeckView() override;

    // Starts showing the output (and asks the deck for the picture it rests on); null stops.
    void attach(std::shared_ptr<graph::TapeDeckOutput> output);
    void detach() { attach(nullptr); }
    bool attached() const { return m_output != nullptr; }

private:
    void showNewest();

    ui::DPreview& m_preview;
    std::shared_ptr<graph::TapeDeckOutput> m_output;
    int64_t m_token = 0;
    std::mutex m_lock; // the newest picture, shared with the deck's thread
    QImage m_newest;
    bool m_posted = false;
};

} // namespace zef::app
