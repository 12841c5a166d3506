// The transport of an external tape deck as the VCR Deck drives it in device mode: transport
// modes, shuttle speed, the deck's timecode and seeking to a timecode. The mode codes are the
// external-transport values that device control uses; modeName gives the text shown for each.
//
// Implemented by the device-control layer (a deck on a port, or the software deck of a machine
// without one). Every call comes from the GUI thread; failures are absorbed (a refused mode is
// dropped, an unreadable timecode reads as zero, an unreadable mode as kModeInvalid).
#pragma once

#include "model/edit_time.h"

#include <cstdint>

namespace zef {

class TapeTransport {
public:
    // Transport modes.
    static constexpr int32_t kPlay = 4296;
    static constexpr int32_t kStop = 4297;
    static constexpr int32_t kFreeze = 4298;
    static constexpr int32_t kThaw = 4299;
    static constexpr int32_t kFastForward = 4300;
    static constexpr int32_t kRewind = 4301;
    static constexpr int32_t kRecord = 4302;
    static constexpr int32_t kRecordStrobe = 4303;
    static constexpr int32_t kStepForward = 4304;
    static constexpr int32_t kShuttleForward = 4305;
    static constexpr int32_t kCue = 4306;
    static constexpr int32_t kShuttle = 4307;
    static constexpr int32_t kRecordFreeze = 4904;
    static constexpr int32_t kStepReverse = 4905;
    // What mode() answers without a transport or when the mode cannot be read.
    static constexpr int32_t kModeInvalid = -1;

    virtual ~TapeTransport() = default;

    virtual void setMode(int32_t mode) = 0;
    virtual int32_t mode() const = 0;
    // Shuttles at a signed multiple of normal speed; false when the deck refuses.
    virtual bool setRate(double speed) = 0;
    virtual EditTime timecode() const = 0;
    // Starts winding to the timecode; the deck stops there by itself.
    virtual void seek(const EditTime& target) = 0;

    bool isPlaying() const { return mode() == kPlay; }
    // The text shown for a mode ("Device mode: %s").
    static const char* modeName(int32_t mode)
    {
        switch (mode) {
        case kPlay:
            return "Playing";
        case kStop:
            return "Stopped";
        case kFreeze:
            return "Paused";
        case kThaw:
            return "Resuming";
        case kFastForward:
            return "Fast forwarding";
        case kRewind:
            return "Rewinding";
        case kRecord:
            return "Recording";
        case kRecordStrobe:
            return "Recording frame";
        case kStepForward:
            return "Stepping fwd";
        case kShuttleForward:
        case kShuttle:
            return "Shuttle";
        case kCue:
            return "Cueing";
        case kRecordFreeze:
            return "Paused rec";
        case kStepReverse:
            return "Stepping back";
        case kModeInvalid:
            return "Invalid Device";
        default:
            return "Unknown mode";
        }
    }
};

} // namespace zef
