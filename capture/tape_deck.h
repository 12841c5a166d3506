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
#include <functional>
#include <memory>
#include <string>

namespace zef::graph {
class DeviceList;
class ExtDevice;
class ExtTransport;
class Filter;
class FilterClassRegistry;
class TimecodeReader;
} // namespace zef::graph

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
    // Whether a seek is still winding (the owner calls seekStep from its timer meanwhile).
    virtual bool seeking() const { return false; }
    virtual void seekStep() {}

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

// The controller of one device-control filter of the program's device list: opened on a
// port, it reads the deck's timecode, sends transport modes and rates, and winds the tape to a
// target timecode in steps (seekStep), speeding up with the distance.
//
// Not thread-safe: every call comes from the GUI thread. The registry and the device list must
// outlive the deck. Failures of the device are absorbed: open answers false, queries answer
// their "none" values (-1, false, zero time, kModeInvalid), refused modes and rates are dropped.
class TapeDeck : public TapeTransport {
public:
    TapeDeck(const graph::FilterClassRegistry& registry, const graph::DeviceList& devices);
    ~TapeDeck() override;
    TapeDeck(const TapeDeck&) = delete;
    TapeDeck& operator=(const TapeDeck&) = delete;

    // Opens the device of that index of the device list on a port (closing first). False for
    // an index outside the list or a device without the three interfaces.
    bool open(int32_t deviceIndex, int32_t port);
    void close();
    bool isOpen() const { return m_transport != nullptr; }
    // The index of the open device in the list, or -1.
    int32_t deviceIndex() const { return m_deviceIndex; }
    // The device's port, -1 without a device.
    int32_t port() const;
    // Whether the device says it is a tape transport.
    bool isTapeTransport() const;

    // Sends the mode (4307 when 4305 is refused) and ends a running seek.
    void setMode(int32_t mode) override;
    int32_t mode() const override;
    // Shuttles at the rate: pause, set the rate, then 4307 (or 4305 when 4307 is refused).
    bool setRate(double speed) override;
    bool normalSpeed() { return setRate(1.0); }
    // The deck's timecode as an EditTime at the tape's frame rate; zero at rate 0/1 without
    // a reader or when it cannot be read.
    EditTime timecode() const override;
    // The device's timecode format code (capability 4131), -1 when unknown.
    int32_t timecodeFormat() const { return m_timecodeFormat; }

    // Starts winding to the target (the owner calls seekStep from its timer).
    void seek(const EditTime& target) override { seek(target, false); }
    // With wait, steps until the deck is there, calling the pump before every step (the
    // GUI's paint events; tests advance their clock there).
    void seek(const EditTime& target, bool wait);
    void seekStep() override;
    bool seeking() const override { return m_direction != 0; }
    int32_t direction() const { return m_direction; }
    const EditTime& target() const { return m_target; }
    void setPump(std::function<void()> pump) { m_pump = std::move(pump); }

    // "Invalid Device" without a transport or when the mode cannot be read.
    std::string modeName() const;

private:
    bool trySetRate(double rate);
    bool trySetMode(int32_t mode);

    const graph::FilterClassRegistry& m_registry;
    const graph::DeviceList& m_devices;
    std::shared_ptr<graph::Filter> m_filter;
    graph::ExtDevice* m_device = nullptr;
    graph::ExtTransport* m_transport = nullptr;
    graph::TimecodeReader* m_reader = nullptr;
    int32_t m_deviceIndex = -1;
    int32_t m_direction = 0; // 0, ±1, ±2, ±4, ±8
    int32_t m_timecodeFormat = -1;
    EditTime m_target;
    std::function<void()> m_pump;
};

} // namespace zef
