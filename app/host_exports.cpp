// The host callbacks the program exports by name for plug-ins loaded into it; they reach the
// running editor through the registered host context (app/capture/host_callbacks.h).
#include "app/capture/host_callbacks.h"

#include <cstdint>

#define ZEF_EXPORT extern "C" __attribute__((visibility("default")))

using namespace zef::app;

ZEF_EXPORT int32_t CALLBACK_IsPreviewMode() { return hostIsPreviewMode(); }

ZEF_EXPORT int32_t CALLBACK_HandleCapturing() { return hostHandleCapturing(); }

ZEF_EXPORT intptr_t CALLBACK_GetCapturedFramePtr(int32_t a, int32_t b, int32_t c, int32_t d)
{
    return hostGetCapturedFramePtr(a, b, c, d);
}

ZEF_EXPORT int32_t CALLBACK_GetFrame(int32_t frame, int32_t second, void* buffer, int32_t width,
                                     int32_t height)
{
    return hostGetFrame(frame, second, buffer, width, height);
}

ZEF_EXPORT int32_t CALLBACK_SaveData(void* destination, int32_t length)
{
    return hostSaveData(destination, length);
}

ZEF_EXPORT int32_t CALLBACK_LoadData(const void* source, int32_t length)
{
    return hostLoadData(source, length);
}

ZEF_EXPORT int32_t CALLBACK_FillDataFromTime(void* destination, int32_t length, int32_t value,
                                             int32_t scale)
{
    return hostFillDataFromTime(destination, length, value, scale);
}

// One function under two names; it always answers 0.
ZEF_EXPORT int32_t CALLBACK_GetHost() { return 0; }
ZEF_EXPORT int32_t CALLBACK_GetSourceFromTime() __attribute__((alias("CALLBACK_GetHost")));
