#include "app/shell/timeline_host.h"

#include "app/clipdeck/clip_deck.h"
#include "app/shell/clip_deck_window.h"
#include "app/shell/item_menu.h"
#include "app/shell/main_frame.h"
#include "app/shell/settings_store.h"
#include "model/project.h"
#include "ui/preview/preview_panel.h"
#include "ui/timeline/timeline_view.h"

#include <QMenu>

namespace zef::app {

FMainControl& CTimelineLink::control() const { return m_frame.clipControl(); }

int32_t CTimelineLink::currentTrack() const { return control().currentTrack(); }

void CTimelineLink::setCurrentTrack(int32_t track)
{
    control().selectTrack(track);
    m_frame.clipDeck().buttonsChanged();
}

void CTimelineLink::refreshTrackList(int32_t track) { control().refreshTrackList(track); }

bool CTimelineLink::previewPlaying() const { return m_frame.vcrDeck().isPlaying(); }

bool CTimelineLink::timelineTimeCode() const { return m_frame.settings().timelineTimeCode(); }

void CTimelineLink::showParametersDeck() { m_frame.setDeckVisible(kParametersDeckPanel, true); }

void CTimelineLink::showItemMenu(const QPoint& globalPos)
{
    QMenu menu(&m_frame.timelineDeck());
    menu.setObjectName(QStringLiteral("ItemContextMenu"));
    control().fromListSelection = false;
    fillItemMenu(menu, control(), true);
    menu.exec(globalPos);
}

void CTimelineLink::deleteSelectedItems(ZEFItem* selected)
{
    FMainControl& c = control();
    if (selected && FProject::validTrack(selected->track()) &&
        selected->track() != c.currentTrack()) {
        setCurrentTrack(selected->track());
        m_frame.project().selectItem(selected, false);
    }
    c.removeSelected();
}

void CTimelineLink::dropFiles(int32_t track, const std::vector<std::string>& paths)
{
    control().dropFiles(paths, track);
}

} // namespace zef::app
