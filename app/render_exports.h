/* The editor's exports for the codec components: RenderFrame and RenderAudio. The program
 * exports them by name (it is linked with its symbols exported); the codec plug-in imports
 * them from the process it is loaded into, so it works only inside the editor.
 *
 * RenderFrame writes the picture of the clip `item` at timeline time `time` (ticks, 600 per
 * second) into a 32-bit destination of width × height pixels whose rows are rowBytes apart
 * (0: width × 4), top-down when flip is true, else bottom-up; pixels blue, green, red, alpha
 * in memory. RenderAudio writes `frames` 16-bit stereo frames at 44,100 Hz of the clip from
 * timeline time `time`. Both return true when they wrote something; item is the reference
 * the clip's samples carry, checked by the editor before use. */
#ifndef ZEF_APP_RENDER_EXPORTS_H
#define ZEF_APP_RENDER_EXPORTS_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

bool RenderFrame(void* item, int64_t time, uint8_t* buffer, int32_t width, int32_t height,
                 int32_t rowBytes, bool flip);
bool RenderAudio(void* item, int64_t time, uint8_t* buffer, int32_t frames);

#ifdef __cplusplus
}
#endif

#endif
