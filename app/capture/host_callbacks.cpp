#include "app/capture/host_callbacks.h"

#include "model/item.h"
#include "model/project.h"
#include "model/source_item.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace zef::app {

namespace {

std::mutex g_mutex;
HostContext* g_context = nullptr;

ZEFEffectItem* editedEffect()
{
    return g_context && g_context->project ? g_context->project->editedEffect : nullptr;
}

// Copies what the block holds of length bytes into the destination and zeroes the rest.
void copyOut(const movies::Handle& block, void* destination, int32_t length)
{
    const size_t n = std::min(block.size(), size_t(length));
    if (n) std::memcpy(destination, block.data(), n);
    std::memset(static_cast<uint8_t*>(destination) + n, 0, size_t(length) - n);
}

bool validLength(const void* pointer, int32_t length)
{
    return pointer && length >= 0 && length <= kMaxHostBlock;
}

} // namespace

void registerHostContext(HostContext* context)
{
    std::lock_guard lock(g_mutex);
    g_context = context;
}

int32_t hostIsPreviewMode()
{
    std::lock_guard lock(g_mutex);
    return g_context && g_context->project && g_context->project->rendering ? 0 : 1;
}

int32_t hostHandleCapturing()
{
    std::function<bool()> open;
    {
        std::lock_guard lock(g_mutex);
        if (g_context) open = g_context->handleCapturing;
    }
    return open && open() ? 1 : 0;
}

intptr_t hostGetCapturedFramePtr(int32_t a, int32_t b, int32_t c, int32_t d)
{
    std::lock_guard lock(g_mutex);
    if (!g_context || !g_context->plugin) return kCaptureErrFail;
    return g_context->plugin->GetCapturedFramePtr(a, b, c, d);
}

int32_t hostGetFrame(int32_t frame, int32_t second, void* buffer, int32_t width, int32_t height)
{
    std::lock_guard lock(g_mutex);
    ZEFEffectItem* effect = editedEffect();
    if (!effect) return 0;
    ZEFItem* owner = effect->owner();
    FProject& project = *g_context->project;
    ZEFItem* next = owner ? project.nextItem(owner) : nullptr;
    if (!owner || !next) return 0;
    const int64_t rate = (int64_t(project.rateContext().frameRate()) + 4369) >> 16;
    const int64_t ticks =
        int64_t(frame) * 600 / std::max<int64_t>(1, rate) + next->getStart().ticks();
    auto* source = dynamic_cast<ZEFSourceItem*>(second ? next : owner);
    if (source && buffer && width > 0 && height > 0 && width <= kMaxHostFrameSide &&
        height <= kMaxHostFrameSide && g_context->drawClip)
        g_context->drawClip(*source, ticks, static_cast<uint8_t*>(buffer), width, height);
    return 1;
}

int32_t hostSaveData(void* destination, int32_t length)
{
    std::lock_guard lock(g_mutex);
    ZEFEffectItem* effect = editedEffect();
    if (!effect || !effect->effectParameters() || !validLength(destination, length)) return 0;
    copyOut(effect->effectParameters(), destination, length);
    return 1;
}

int32_t hostLoadData(const void* source, int32_t length)
{
    std::lock_guard lock(g_mutex);
    ZEFEffectItem* effect = editedEffect();
    if (!effect || !validLength(source, length)) return 0;
    // A new block takes the length; an existing one keeps its size and takes what fits.
    movies::Handle block =
        effect->effectParameters() ? effect->effectParameters() : movies::Handle(size_t(length));
    const size_t n = std::min(block.size(), size_t(length));
    if (n) std::memcpy(block.data(), source, n);
    effect->setEffectParameters(std::move(block));
    return 1;
}

int32_t hostFillDataFromTime(void* destination, int32_t length, int32_t value, int32_t scale)
{
    std::lock_guard lock(g_mutex);
    if (!g_context || !g_context->project || scale <= 0) return 0;
    FProject& project = *g_context->project;
    int64_t t = int64_t(value) * 600 / scale;
    if (project.rendering) t += project.renderStart.ticks();
    const FDevice& layerA = project.device(0);
    for (size_t i = 0; i + 1 < layerA.size(); ++i) {
        ZEFItem* first = layerA.at(i);
        ZEFItem* second = layerA.at(i + 1);
        if (first->getStart().ticks() > t) return 0;
        if (second->getStart().ticks() < t && t < first->getEnd().ticks()) {
            ZEFEffectItem* transition = first->transition();
            if (!transition || !transition->effectParameters()) return 0;
            if (!validLength(destination, length)) return 0;
            copyOut(transition->effectParameters(), destination, length);
            return 1;
        }
    }
    return 0;
}

} // namespace zef::app
