#include "app/shell/tape_deck_view.h"
#include "ui/preview/dpreview.h"

#include <QMetaObject>

namespace zef::app {

CTapeDeckView::CTapeDeckView(ui::DPreview& preview) : m_preview(preview) {}

CTapeDeckView::~CTapeDeckView() { detach(); }

void CTapeDeckView::attach(std::shared_ptr<graph::TapeDeckOutput> output)
{
    if (m_output) {
        m_output->unsubscribe(m_token); // waits for a running callback
        m_output.reset();
        m_token = 0;
        m_preview.setOutsidePicture(QImage());
    }
    if (!output) return;
    m_output = std::move(output);
    m_token = m_output->subscribe([this](const graph::TapeFrame& f) {
        const movies::Pixmap& p = *f.picture;
        QImage image(reinterpret_cast<const uchar*>(p.data()), p.width(), p.height(),
                     int(p.strideBytes()), QImage::Format_ARGB32);
        std::lock_guard lock(m_lock);
        m_newest = image.copy();
        if (m_posted) return;
        m_posted = true;
        QMetaObject::invokeMethod(this, &CTapeDeckView::showNewest, Qt::QueuedConnection);
    });
    m_output->requestStill();
}

void CTapeDeckView::showNewest()
{
    QImage image;
    {
        std::lock_guard lock(m_lock);
        image.swap(m_newest);
        m_posted = false;
    }
    if (m_output && !image.isNull()) m_preview.setOutsidePicture(image);
}

} // namespace zef::app
