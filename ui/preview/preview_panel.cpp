#include "ui/preview/preview_panel.h"

#include "model/project.h"

#include <QLabel>
#include <QVBoxLayout>

namespace zef::ui {

namespace {
constexpr int kLastLayer = 2; // edit points come from layers A to C
}

CPreviewPanel::CPreviewPanel(FProject& project, QWidget* parent)
    : CGUIDialogWithCaption(QStringLiteral("VCR Deck"), false, parent), m_project(project)
{
    setObjectName(QStringLiteral("VcrDeck"));
    setFixedSize(defaultSize());
    m_display = new QLabel(this);
    m_display->setObjectName(QStringLiteral("VcrTime"));
    m_display->setAlignment(Qt::AlignCenter);
    m_display->setStyleSheet(QStringLiteral(
        "QLabel { background: black; color: rgb(0, 255, 255); border: 1px solid rgb(96, 96, 96);"
        " font: bold 22px monospace; padding: 2px 10px; }"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(contentsMargins() + QMargins(8, 8, 8, 8));
    layout->addWidget(m_display, 0, Qt::AlignLeft | Qt::AlignVCenter);
    m_timer.setInterval(20);
    connect(&m_timer, &QTimer::timeout, this, &CPreviewPanel::tick);
    m_project.addObserver(this);
    showPosition();
}

CPreviewPanel::~CPreviewPanel() { m_project.removeObserver(this); }

void CPreviewPanel::seek(const EditTime& t)
{
    EditTime to = t;
    if (to.ticks() < 0) to = EditTime();
    if (to == m_position) return;
    m_position = to;
    if (m_playing) {
        m_playStart = m_position;
        m_clock.restart();
    }
    showPosition();
    emit positionChanged(m_position);
}

void CPreviewPanel::togglePlay()
{
    if (m_playing) {
        stop();
        return;
    }
    if (m_position >= m_project.projectEnd()) return;
    m_playing = true;
    m_playStart = m_position;
    m_clock.start();
    m_timer.start();
    emit playingChanged(true);
}

void CPreviewPanel::stop()
{
    if (!m_playing) return;
    m_playing = false;
    m_timer.stop();
    emit playingChanged(false);
}

void CPreviewPanel::tick()
{
    const EditTime end = m_project.projectEnd();
    EditTime t = EditTime(m_playStart.ticks() + m_clock.elapsed() * 600 / 1000);
    if (t >= end) {
        t = end;
        stop();
    }
    seek(t);
}

void CPreviewPanel::goToStart() { seek(EditTime()); }
void CPreviewPanel::goToEnd() { seek(m_project.projectEnd()); }

void CPreviewPanel::stepFrames(int n)
{
    EditTime t(m_position.ticks());
    t.fromFrames(t.toFrames() + n);
    seek(t);
}

void CPreviewPanel::moveTicks(int n) { seek(EditTime::raw(m_position.ticks() + n)); }

void CPreviewPanel::goToEditPoint(bool next)
{
    seek(next ? m_project.nextEditPoint(m_position, kLastLayer)
              : m_project.previousEditPoint(m_position, kLastLayer));
}

void CPreviewPanel::showPosition()
{
    m_display->setText(QString::fromStdString(m_position.format()));
}

} // namespace zef::ui
