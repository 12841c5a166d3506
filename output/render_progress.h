// Renders from the editor's windows. The render runs on the GUI thread (the composition is
// evaluated there and the project must not change under it; the export pipeline encodes on its
// own worker thread). CRenderHost keeps the windows alive from the render's progress reports:
// while the progress display owns the main bar's message area, paint and timer events are
// processed, the mouse may move, and every other input is held back, except Esc, which asks the
// render to stop, and what a dialog opened during the render (an export component's message)
// needs. The progress is drawn by drawRenderStatus in the area the ProgressDisplay gives.
//
// GUI thread only.
#pragma once

#include "engine/render.h"

#include <QObject>
#include <QRect>

#include <functional>

class QPainter;

namespace zef {
class FProject;
}

namespace zef::output {

// What shows a render's progress (the main bar's message area).
class ProgressDisplay {
public:
    virtual ~ProgressDisplay() = default;
    // The status to draw, at once; null when the render's display ends and the area is free.
    virtual void showRenderStatus(const CFile2000Status* status) = 0;
};

// The progress area: a three-pixel 3-D border, the bar with the part done lit green, and the
// status text centred in a 12-pixel font.
void drawRenderStatus(QPainter& p, const QRect& area, const CFile2000Status& status);

class CRenderHost : public QObject, public RenderHost {
    Q_OBJECT
public:
    // outputSettings: applies export settings when the template has none (see RenderHost).
    CRenderHost(FProject& project, ProgressDisplay* display,
                std::function<bool()> outputSettings = {});
    ~CRenderHost() override;

    bool abortRequested() override { return m_abort; }
    void statusChanged(const CFile2000Status& status) override;
    void processEvents() override;
    void showPosition(const EditTime& t) override;
    bool runOutputSettings() override;
    bool openWithDesktop(const std::string& path) override;

    // Whether input is held back (the progress display owns the message area).
    bool holdingInput() const { return m_holding; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void hold(bool on);

    FProject& m_project;
    ProgressDisplay* m_display;
    std::function<bool()> m_outputSettings;
    bool m_holding = false;
    bool m_abort = false;
};

} // namespace zef::output
