// The editor's side of the exports RenderFrame and RenderAudio, which the codec components
// call for the samples of the private clip formats (engine/clip_samples.h): the clip named by
// the sample's item reference gives the picture or the sound at the sample's timeline time.
//
// The program makes one FrameDelivery over its project and registers it (the one host
// registration of the exports); the exported functions reach it through
// registeredFrameDelivery(). Item references are checked against the clips of the project:
// a reference to anything else is refused, never followed.
//
// Thread safety: calls come from the thread that evaluates or mixes a movie; the clip's
// readers serialise fetches of one clip. The project must not change during a call.
#pragma once

#include <cstdint>

namespace zef {

class FProject;
class ZEFSourceItem;

class FrameDelivery {
public:
    explicit FrameDelivery(FProject& project) : m_project(project) {}

    // The picture of the clip at timeline time `time` (ticks) into a 32-bit destination of
    // width × height pixels, rows rowBytes apart (0: width × 4), top-down with flip, else
    // bottom-up. False when no picture was written.
    bool renderFrame(const void* item, int64_t time, uint8_t* buffer, int32_t width, int32_t height,
                     int32_t rowBytes, bool flip);
    // frames frames of 16-bit stereo sound at 44.1 kHz of the clip from timeline time `time`
    // (ticks). False for a clip the movie toolbox opened (its sound is in the movie already)
    // and when no sound was written.
    bool renderAudio(const void* item, int64_t time, uint8_t* buffer, int32_t frames);

    // The clip of the project with that address, or null.
    ZEFSourceItem* findClip(const void* item) const;

    // The source time (units of 100 ns) that timeline time `ticks` shows: minus the clip's
    // start, divided by its factor, plus its in-point, clamped to 0 … the media duration.
    static int64_t sourceTime(const ZEFSourceItem& clip, int64_t ticks);
    // Source frames for `frames` output frames at 44.1 kHz: frames × source rate / (factor ×
    // 44100), rounded to nearest.
    static int32_t sourceFrames(const ZEFSourceItem& clip, int32_t frames, int32_t sourceRate);

private:
    FProject& m_project;
};

// The registration the exports use; null clears it.
void registerFrameDelivery(FrameDelivery* delivery);
FrameDelivery* registeredFrameDelivery();

} // namespace zef
