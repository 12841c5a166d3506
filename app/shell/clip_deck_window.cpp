#include "app/shell/clip_deck_window.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>

#include <cstring>

namespace zef::app {

namespace {

int32_t get32(const uint8_t* p)
{
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                   uint32_t(p[3]) << 24);
}

} // namespace

bool QtClipboard::putBitmap(std::vector<uint8_t> block)
{
    // The block: a 40-byte bitmap header, then 32-bit rows bottom-up.
    if (block.size() < 40 || get32(block.data()) != 40) return false;
    const int32_t width = get32(block.data() + 4), height = get32(block.data() + 8);
    if (width <= 0 || height <= 0 || block.size() < 40 + size_t(width) * size_t(height) * 4)
        return false;
    QImage image(width, height, QImage::Format_RGB32);
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), block.data() + 40 + size_t(height - 1 - y) * width * 4,
                    size_t(width) * 4);
    QGuiApplication::clipboard()->setImage(image);
    return true;
}

CClipDeckWindow::CClipDeckWindow(FProject& project, QWidget* parent)
    : ui::CGUIDialogWithCaption(QStringLiteral("Clip Deck"), true, parent),
      m_control(std::make_unique<FMainControl>(project, nullptr, &m_clipboard, nullptr))
{
    setObjectName(QStringLiteral("ClipDeck"));
    resize(defaultSize());
}

CClipDeckWindow::~CClipDeckWindow() = default;

} // namespace zef::app
