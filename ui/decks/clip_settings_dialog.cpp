#include "ui/decks/clip_settings_dialog.h"

#include "model/project.h"
#include "model/source_item.h"
#include "ui/controls/xbutton.h"
#include "ui/controls/xcheckbox.h"
#include "ui/controls/xcombobox.h"
#include "ui/controls/xslider.h"
#include "ui/controls/xstatic.h"
#include "ui/controls/xtimecode.h"
#include "ui/decks/graphics_mode_box.h"
#include "ui/decks/settings_edits.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>

namespace zef::ui {

namespace {

constexpr int kRow = 24;

XStatic* label(QWidget* parent, const char* text)
{
    auto* l = new XStatic(QString::fromUtf8(text), parent);
    l->setFixedHeight(kRow);
    return l;
}

CXButton* textButton(QWidget* parent, const char* text)
{
    auto* b = new CXButton(parent);
    b->setCaption(QString::fromUtf8(text));
    b->setObjectName(QString::fromUtf8(text));
    b->setFixedHeight(26);
    return b;
}

// "Track 1" ... for each track of the kind, then "<<none>>"; the stored choice, clamped to
// the list.
void fillTracks(CXComboBox& list, int32_t count, int32_t chosen)
{
    list.clear();
    for (int32_t i = 0; i < count; ++i)
        list.addItem(QStringLiteral("Track %1").arg(i + 1));
    list.addItem(QStringLiteral("<<none>>"));
    list.setCurrentIndex(std::clamp(chosen, 0, count));
}

} // namespace

CClipSettingsDialog::CClipSettingsDialog(DeckContext& context, ZEFSourceItem& clip, QWidget* parent)
    : CSettingsPage(context, parent), m_clip(&clip)
{
    setObjectName(QStringLiteral("ClipSettings"));
    FProject& project = m_context.project;
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    m_name = lineField();
    m_name->setObjectName(QStringLiteral("ClipName"));
    grid->addWidget(label(this, "Clip name:"), 0, 0);
    grid->addWidget(m_name, 0, 1, 1, 3);
    connect(m_name, &QLineEdit::textEdited, this, [this](const QString& text) {
        editing([&] { edits::rename(m_context.project, *m_clip, text.toStdString()); });
        emit captionChanged();
    });

    m_start = timeField([this](CXTimeCode& f) {
        editing([&] { edits::setClipStart(m_context.project, *m_clip, f.value()); });
        refill();
    });
    m_start->setObjectName(QStringLiteral("Start"));
    m_duration = new CXTimeCode(this);
    m_duration->setObjectName(QStringLiteral("Duration"));
    m_duration->setDigitColour(QColor(0, 192, 192));
    m_duration->setFocusPolicy(Qt::NoFocus);
    m_duration->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_duration->setRange(EditTime(), EditTime::raw(CXTimeCode::kDefaultMaximum * 9));
    for (CXTimeCode* f : {m_start, m_duration})
        f->setFixedSize(CXTimeCode::widthFor(kRow), kRow);
    grid->addWidget(label(this, "Start:"), 1, 0);
    grid->addWidget(m_start, 1, 1, Qt::AlignLeft);
    grid->addWidget(label(this, "Duration:"), 1, 2);
    grid->addWidget(m_duration, 1, 3, Qt::AlignLeft);

    // Re-timing.
    auto* retiming = new XGroup(QStringLiteral("Re-timing"), this);
    auto* rg = new QGridLayout(retiming);
    rg->setContentsMargins(10, QFontMetrics(font()).height() + 10, 10, 8);
    rg->setHorizontalSpacing(8);
    const char* names[3] = {"None", "By factor", "To duration"};
    auto* radios = new QWidget(retiming);
    auto* rl = new QHBoxLayout(radios);
    rl->setContentsMargins(0, 0, 0, 0);
    for (int type = 0; type < 3; ++type) {
        auto* r = new CXRadioButton(QString::fromUtf8(names[type]), radios);
        r->setObjectName(QString::fromUtf8(names[type]));
        r->setFixedHeight(18);
        rl->addWidget(r);
        m_retiming[type] = r;
        connect(r, &CXRadioButton::clicked, this, [this, type] {
            editing([&] { edits::setScaleType(m_context.project, *m_clip, type); });
            refill();
        });
    }
    rl->addStretch(1);
    rg->addWidget(radios, 0, 0, 1, 4);
    m_factor = new QLineEdit(retiming);
    setFieldLook(m_factor);
    m_factor->setObjectName(QStringLiteral("Factor"));
    m_factor->setFixedWidth(80);
    connect(m_factor, &QLineEdit::editingFinished, this, &CClipSettingsDialog::commitFactor);
    m_scaled = timeField([this](CXTimeCode& f) {
        if (m_clip->scaleType() == 2)
            editing([&] { edits::setScaledDuration(m_context.project, *m_clip, f.value()); });
        refill();
    });
    m_scaled->setParent(retiming);
    m_scaled->setObjectName(QStringLiteral("ScaledDuration"));
    m_scaled->setFixedSize(CXTimeCode::widthFor(kRow), kRow);
    rg->addWidget(label(retiming, "Factor:"), 1, 0);
    rg->addWidget(m_factor, 1, 1, Qt::AlignLeft);
    rg->addWidget(label(retiming, "Scaled duration:"), 1, 2);
    rg->addWidget(m_scaled, 1, 3, Qt::AlignLeft);
    rg->setColumnStretch(1, 1);
    rg->setColumnStretch(3, 1);
    grid->addWidget(retiming, 2, 0, 1, 4);

    // The media's tracks and the volume.
    m_videoTracks = new CXComboBox(this);
    m_videoTracks->setObjectName(QStringLiteral("VideoTrack"));
    m_audioTracks = new CXComboBox(this);
    m_audioTracks->setObjectName(QStringLiteral("AudioTrack"));
    grid->addWidget(label(this, "Video track:"), 3, 0);
    grid->addWidget(m_videoTracks, 3, 1);
    grid->addWidget(label(this, "Audio track:"), 3, 2);
    grid->addWidget(m_audioTracks, 3, 3);
    connect(m_videoTracks, &QComboBox::activated, this, [this](int i) {
        editing([&] { edits::setVideoTrack(m_context.project, *m_clip, i); });
        refill();
    });
    connect(m_audioTracks, &QComboBox::activated, this, [this](int i) {
        editing([&] { edits::setAudioTrack(m_context.project, *m_clip, i); });
        refill();
    });
    m_volume = new CXSliderCtrl(Qt::Horizontal, this);
    m_volume->setObjectName(QStringLiteral("Volume"));
    m_volume->setRange(0, 512);
    m_volume->setPageSize(32);
    m_volume->setHighlightColour(QColor(255, 200, 0));
    m_volume->setFixedHeight(20);
    CGUIDialog::setControlTip(m_volume, QStringLiteral("Audio Volume (256 is the clip's own)"));
    grid->addWidget(label(this, "Audio Volume:"), 4, 0);
    grid->addWidget(m_volume, 4, 1, 1, 3);
    connect(m_volume, &CXSliderCtrl::scrolled, this, [this](int, int position) {
        m_volume->setSelection(0, position);
        editing([&] { edits::setVolume(m_context.project, *m_clip, position); });
    });

    m_mode = new CGraphicsModeBox(project, this);
    grid->addWidget(m_mode, 5, 0, 1, 4);

    auto* buttons = new QHBoxLayout;
    m_positioning = textButton(this, "Preview Positioning Mode");
    m_cropping = textButton(this, "Preview Cropping Mode");
    m_filters = textButton(this, "Filters...");
    m_positioning->setFixedWidth(190);
    m_cropping->setFixedWidth(190);
    m_filters->setFixedWidth(130);
    buttons->addWidget(m_positioning);
    buttons->addWidget(m_cropping);
    buttons->addStretch(1);
    buttons->addWidget(m_filters);
    grid->addLayout(buttons, 6, 0, 1, 4);
    grid->setRowStretch(7, 1);
    connect(m_positioning, &CXButton::clicked, this, [this] { setPlacementMode(0); });
    connect(m_cropping, &CXButton::clicked, this, [this] { setPlacementMode(1); });
    connect(m_filters, &CXButton::clicked, this, [this] {
        if (m_context.openFilters) m_context.openFilters(*m_clip);
    });

    refill();
}

ZEFItem* CClipSettingsDialog::item() const { return m_clip; }

QString CClipSettingsDialog::caption() const
{
    return QStringLiteral("Parameters: %1").arg(QString::fromStdString(m_clip->name()));
}

void CClipSettingsDialog::itemChanged(ZEFItem* item)
{
    if (auto* clip = dynamic_cast<ZEFSourceItem*>(item)) m_clip = clip;
    if (!isEditing()) refill();
}

void CClipSettingsDialog::previewModeChanged() { refill(); }

void CClipSettingsDialog::refill()
{
    ZEFSourceItem& c = *m_clip;
    if (m_name->text() != QString::fromStdString(c.name()))
        m_name->setText(QString::fromStdString(c.name()));

    const int type = std::clamp(c.scaleType(), 0, 2);
    m_retiming[type]->setChecked(true);
    // A still picture has one frame: it can only be given a duration.
    m_retiming[0]->setEnabled(!c.isStill());
    m_retiming[1]->setEnabled(!c.isStill());
    m_factorShown = QString::asprintf("%2.2f", double(c.scaleFactor()));
    m_factor->setText(m_factorShown);
    m_factor->setEnabled(type == 1);
    m_scaled->setValue(edits::scaledDuration(c));
    m_scaled->setEnabled(type == 2);
    m_start->setValue(c.getStart());
    m_duration->setValue(c.duration());

    fillTracks(*m_videoTracks, c.videoTrackCount(), c.videoTrackIndex());
    fillTracks(*m_audioTracks, c.audioTrackCount(), c.audioTrackIndex());
    const bool video = c.videoTrackIndex() < c.videoTrackCount();
    const bool audio = c.audioTrackIndex() < c.audioTrackCount();
    m_volume->setPosition(c.volume());
    m_volume->setSelection(0, c.volume());
    m_volume->setEnabled(audio);
    m_mode->setItem(&c);

    m_positioning->setEnabled(video);
    m_cropping->setEnabled(video);
    m_filters->setEnabled(video);
    m_positioning->setVisible(!m_context.previewShowsComposition);
    m_cropping->setVisible(!m_context.previewShowsComposition);
    m_positioning->setPressed(c.placementMode() == 0);
    m_cropping->setPressed(c.placementMode() != 0);
}

void CClipSettingsDialog::commitFactor()
{
    if (isLeaving()) return;
    const QString text = m_factor->text().trimmed();
    bool ok = false;
    const double f = QString(text).replace(u',', u'.').toDouble(&ok);
    // The factor as shown, typed again, is no change (the field shows two decimals).
    if (ok && text != m_factorShown && f != QString(m_factorShown).toDouble())
        editing([&] { edits::setScaleFactor(m_context.project, *m_clip, f); });
    refill();
}

void CClipSettingsDialog::setPlacementMode(int mode)
{
    m_clip->setPlacementMode(mode);
    // The preview shows the clip afresh in that mode.
    editing([&] { m_clip->activate(); });
    refill();
}

} // namespace zef::ui
