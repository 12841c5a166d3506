// CClipSettingsDialog: the settings page of a clip in the Parameters Deck: its name, start
// and duration, re-timing (none, by a factor, to a duration), the media's video and audio
// track, the volume, the graphics mode, the placement mode of the preview and the filters.
//
// GUI thread only.
#pragma once

#include "ui/decks/settings_page.h"

class QLineEdit;

namespace zef {
class ZEFSourceItem;
}

namespace zef::ui {

class CGraphicsModeBox;
class CXButton;
class CXComboBox;
class CXRadioButton;
class CXSliderCtrl;
class CXTimeCode;

class CClipSettingsDialog : public CSettingsPage {
    Q_OBJECT
public:
    CClipSettingsDialog(DeckContext& context, ZEFSourceItem& clip, QWidget* parent = nullptr);

    ZEFItem* item() const override;
    ZEFSourceItem& clip() const { return *m_clip; }
    void itemChanged(ZEFItem* item) override;
    QString caption() const override;
    void previewModeChanged() override;

    // The controls, by their part in the page.
    QLineEdit* nameField() const { return m_name; }
    CXTimeCode* startField() const { return m_start; }
    CXTimeCode* durationField() const { return m_duration; }
    CXRadioButton* retiming(int type) const { return m_retiming[type]; }
    QLineEdit* factorField() const { return m_factor; }
    CXTimeCode* scaledDurationField() const { return m_scaled; }
    CXComboBox* videoTracks() const { return m_videoTracks; }
    CXComboBox* audioTracks() const { return m_audioTracks; }
    CXSliderCtrl* volume() const { return m_volume; }
    CGraphicsModeBox* graphicsMode() const { return m_mode; }
    CXButton* positioningButton() const { return m_positioning; }
    CXButton* croppingButton() const { return m_cropping; }
    CXButton* filtersButton() const { return m_filters; }

private:
    void refill();
    void commitFactor();
    void setPlacementMode(int mode);

    ZEFSourceItem* m_clip;
    QLineEdit* m_name = nullptr;
    CXTimeCode* m_start = nullptr;
    CXTimeCode* m_duration = nullptr;
    CXRadioButton* m_retiming[3] = {};
    QLineEdit* m_factor = nullptr;
    QString m_factorShown; // the factor as the field last showed it
    CXTimeCode* m_scaled = nullptr;
    CXComboBox* m_videoTracks = nullptr;
    CXComboBox* m_audioTracks = nullptr;
    CXSliderCtrl* m_volume = nullptr;
    CGraphicsModeBox* m_mode = nullptr;
    CXButton* m_positioning = nullptr;
    CXButton* m_cropping = nullptr;
    CXButton* m_filters = nullptr;
};

} // namespace zef::ui
