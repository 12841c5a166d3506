#include "output/render_progress.h"

#include "model/project.h"

#include <QApplication>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QPainter>
#include <QUrl>
#include <QWidget>
#include <QWindow>

namespace zef::output {

namespace {

void frame3d(QPainter& p, const QRect& r, const QColor& topLeft, const QColor& bottomRight)
{
    p.setPen(topLeft);
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(bottomRight);
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
}

// The bar's picture: a grey band, lighter in its middle.
QImage barPicture(int height)
{
    QImage img(1, std::max(1, height), QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y) {
        const double t = img.height() > 1 ? double(y) / (img.height() - 1) : 0.5;
        const int v = int(120 + 80 * (1.0 - (2 * t - 1) * (2 * t - 1)));
        img.setPixel(0, y, qRgb(v, v, v));
    }
    return img;
}

bool isInput(QEvent::Type t)
{
    switch (t) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Drop:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::TouchBegin:
    case QEvent::ContextMenu:
    case QEvent::Close:
        return true;
    default:
        return false;
    }
}

} // namespace

void drawRenderStatus(QPainter& p, const QRect& area, const CFile2000Status& status)
{
    QRect r = area;
    frame3d(p, r, QColor(0xC0, 0xC0, 0xC0), QColor(0x60, 0x60, 0x60));
    r.adjust(1, 1, -1, -1);
    frame3d(p, r, QColor(0x90, 0x90, 0x90), QColor(0x90, 0x90, 0x90));
    r.adjust(1, 1, -1, -1);
    frame3d(p, r, QColor(0x60, 0x60, 0x60), QColor(0xC0, 0xC0, 0xC0));
    r.adjust(1, 1, -1, -1);
    if (r.isEmpty()) return;

    const QImage bar = barPicture(r.height());
    p.drawImage(r, bar);
    if (status.progressShown) {
        // The part done: the picture painted onto green with OR, so it keeps its shading.
        const int done = int(std::clamp(status.fraction, 0.0, 1.0) * r.width());
        if (done > 0) {
            const QRect lit(r.left(), r.top(), done, r.height());
            QImage part(lit.size(), QImage::Format_RGB32);
            QPainter pp(&part);
            pp.drawImage(part.rect(), bar);
            pp.end();
            for (int y = 0; y < part.height(); ++y) {
                auto* row = reinterpret_cast<QRgb*>(part.scanLine(y));
                for (int x = 0; x < part.width(); ++x)
                    row[x] |= qRgb(0, 0xFF, 0);
            }
            p.drawImage(lit, part);
        }
    }
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(12);
    p.setFont(f);
    p.setPen(Qt::black);
    p.drawText(r, Qt::AlignCenter, QString::fromStdString(statusText(status)));
}

CRenderHost::CRenderHost(FProject& project, ProgressDisplay* display,
                         std::function<bool()> outputSettings)
    : m_project(project), m_display(display), m_outputSettings(std::move(outputSettings))
{
}

CRenderHost::~CRenderHost()
{
    hold(false);
    if (m_display) m_display->showRenderStatus(nullptr);
}

void CRenderHost::hold(bool on)
{
    if (on == m_holding) return;
    m_holding = on;
    if (on)
        qApp->installEventFilter(this);
    else
        qApp->removeEventFilter(this);
}

void CRenderHost::statusChanged(const CFile2000Status& status)
{
    const bool owns = status.progressShown || status.plainMessageShown;
    hold(owns);
    if (m_display) m_display->showRenderStatus(owns ? &status : nullptr);
}

void CRenderHost::processEvents()
{
    QApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    QApplication::processEvents(QEventLoop::AllEvents);
}

void CRenderHost::showPosition(const EditTime& t) { m_project.previewSeek(t); }

bool CRenderHost::runOutputSettings() { return m_outputSettings && m_outputSettings(); }

bool CRenderHost::openWithDesktop(const std::string& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

bool CRenderHost::eventFilter(QObject* watched, QEvent* event)
{
    if (!isInput(event->type())) return false;
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        // A press asks for the stop; it is not waited for until the next report, so a short
        // press between two reports counts as well.
        m_abort = true;
        return true;
    }
    // A dialog that opened during the render (a component's message) takes its input.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* w = qobject_cast<QWidget*>(watched); w && (w == modal || modal->isAncestorOf(w)))
            return false;
        if (watched == modal->windowHandle()) return false;
    }
    if (event->type() == QEvent::Close) event->ignore();
    return true;
}

} // namespace zef::output
