// The exports of the program that the codec plug-in calls; they reach the running editor
// through the frame delivery it registered at start-up.
#include "app/render_exports.h"

#include "engine/frame_delivery.h"

extern "C" {

__attribute__((visibility("default"))) bool RenderFrame(void* item, int64_t time, uint8_t* buffer,
                                                        int32_t width, int32_t height,
                                                        int32_t rowBytes, bool flip)
{
    zef::FrameDelivery* d = zef::registeredFrameDelivery();
    return d && d->renderFrame(item, time, buffer, width, height, rowBytes, flip);
}

__attribute__((visibility("default"))) bool RenderAudio(void* item, int64_t time, uint8_t* buffer,
                                                        int32_t frames)
{
    zef::FrameDelivery* d = zef::registeredFrameDelivery();
    return d && d->renderAudio(item, time, buffer, frames);
}
}
