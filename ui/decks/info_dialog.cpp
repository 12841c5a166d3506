#include "ui/decks/info_dialog.h"

#include "model/item.h"
#include "model/project.h"
#include "model/source_item.h"
#include "ui/decks/info_lines.h"

#include <QPainter>

namespace zef::ui {

namespace {

// The deck's two fonts: bold 14 pixels high and 7 wide on average, normal 12 and 5.
QFont lineFont(bool bold)
{
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(bold ? 14 : 12);
    f.setBold(bold);
    const int wanted = bold ? 7 : 5;
    const int average = QFontMetrics(f).averageCharWidth();
    if (average > 0) f.setStretch(std::clamp(100 * wanted / average, 50, 150));
    return f;
}

} // namespace

CInfoDialog::CInfoDialog(FProject& project, QWidget* parent)
    : CGUIDialogWithCaption(QStringLiteral("Info Deck"), true, parent), m_project(project)
{
    setObjectName(QStringLiteral("InfoDeck"));
    resize(defaultSize());
    m_project.addObserver(this);
    showInfo(nullptr);
}

CInfoDialog::~CInfoDialog() { m_project.removeObserver(this); }

QColor CInfoDialog::lineColour(char letter)
{
    switch (letter) {
    case 'B':
        return QColor(0, 0, 255);
    case 'C':
        return QColor(0, 192, 192);
    case 'F':
        return QColor(144, 144, 144);
    case 'G':
        return QColor(0, 255, 0);
    case 'R':
        return QColor(255, 0, 0);
    case 'Y':
        return QColor(255, 210, 0);
    default:
        return QColor(192, 192, 192);
    }
}

void CInfoDialog::showCaption(const QString& caption)
{
    // The drawn caption tells what is shown; the window keeps the deck's name.
    setCaption(caption);
    QWidget::setWindowTitle(QStringLiteral("Info Deck"));
}

void CInfoDialog::showInfo(ZEFItem* item)
{
    m_item = item;
    m_capture = false;
    rebuild();
}

void CInfoDialog::showCaptureInfo(const CaptureStatistics* stats, int32_t rateNum, int32_t rateDen,
                                  bool capturing)
{
    m_item = nullptr;
    m_capture = true;
    CaptureStatistics none{};
    none.diskSecondsRemaining = -1;
    none.fileSecondsRemaining = -1;
    m_lines = captureInfoLines(stats ? *stats : none, rateNum, rateDen, capturing);
    showCaption(QStringLiteral("Capture Info"));
    update();
}

void CInfoDialog::rebuild()
{
    if (m_capture) return;
    if (auto* clip = dynamic_cast<ZEFSourceItem*>(m_item)) {
        m_lines = clipInfoLines(*clip);
        showCaption(QStringLiteral("Clip Info: ") + QString::fromStdString(clip->name()));
    } else if (auto* effect = dynamic_cast<ZEFEffectItem*>(m_item)) {
        m_lines = effectInfoLines(*effect);
        showCaption(QStringLiteral("Effect Info: ") + QString::fromStdString(effect->name()));
    } else {
        m_item = nullptr;
        m_lines = projectInfoLines(m_project, m_components);
        const std::string& path = m_project.filePath;
        const size_t slash = path.find_last_of('/');
        showCaption(
            QStringLiteral("Project Info: ") +
            QString::fromStdString(slash == std::string::npos ? path : path.substr(slash + 1)));
    }
    update();
}

void CInfoDialog::itemChanged(ZEFItem* item)
{
    if (m_capture) return;
    if (!m_item) {
        rebuild(); // the project's lines follow every change
        return;
    }
    for (const ZEFItem* it = m_item; it; it = it->owner())
        if (it == item) {
            rebuild();
            return;
        }
}

void CInfoDialog::closeDecksShowing(ZEFItem* item)
{
    for (const ZEFItem* it = m_item; it; it = it->owner())
        if (it == item) {
            showInfo(nullptr);
            return;
        }
}

void CInfoDialog::repaintRuler()
{
    if (!m_item && !m_capture) rebuild();
}

void CInfoDialog::paintEvent(QPaintEvent* e)
{
    CGUIDialogWithCaption::paintEvent(e);
    QPainter p(this);
    const QRect area = clientRect();
    p.fillRect(area, Qt::black);
    p.setClipRect(area);
    const QFont bold = lineFont(true), normal = lineFont(false);
    int y = area.top() + 4;
    for (const std::string& line : m_lines) {
        const bool isBold = line.size() > 1 && line[1] == 'B';
        p.setFont(isBold ? bold : normal);
        p.setPen(lineColour(line.empty() ? 0 : line[0]));
        const QFontMetrics fm(p.font());
        const QString text = QString::fromStdString(line.size() > 2 ? line.substr(2) : "");
        int x = 0;
        const QStringList parts = text.split(u'\t');
        for (int i = 0; i < parts.size(); ++i) {
            if (i > 0) {
                // The next tab stop right of the text so far (or a space's width past it).
                int stop = x + fm.horizontalAdvance(u' ');
                for (int s : kTabStops)
                    if (s > x) {
                        stop = s;
                        break;
                    }
                x = stop;
            }
            p.drawText(area.left() + kLeft + x, y + fm.ascent(), parts[i]);
            x += fm.horizontalAdvance(parts[i]);
        }
        y += isBold ? 14 : 13;
    }
}

} // namespace zef::ui
