// The capture devices the plug-in offers: what FFmpeg's device library lists as input sources
// (V4L2 video; PulseAudio and ALSA sound) and one synthetic device of each kind, which is
// always present. Listing opens the devices briefly; a backend that is missing, whose listing
// fails or takes longer than two seconds contributes nothing. Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zef::captureplugin {

// Where a device comes from; stored in settings blocks, so the values never change.
enum class Backend : uint8_t { Synthetic = 0, V4L2 = 1, Alsa = 2, Pulse = 3 };
enum class MediaKind { Video, Audio };

struct Device {
    Backend backend = Backend::Synthetic;
    std::string id;         // the backend's name of it: "/dev/video0", "hw:0,0", a source name
    std::string name;       // the unique name shown and selected by
    bool isDefault = false; // the backend's default device
};

inline bool sameDevice(const Device& a, const Device& b)
{
    return a.backend == b.backend && a.id == b.id;
}

constexpr const char* kTestPatternName = "Test Pattern";
constexpr const char* kTestToneName = "Test Tone";
constexpr const char* kTestPatternId = "pattern";
constexpr const char* kTestToneId = "tone";

// The devices of one kind present now: the real ones in the backends' order (video: V4L2;
// audio: PulseAudio, then ALSA), then the synthetic device. Names are unique within the list.
std::vector<Device> listDevices(MediaKind kind);

// The device opened when none is selected: the first one a backend marks as its default,
// else the first V4L2 camera, else the synthetic device (the last). ALSA lists pseudo devices
// such as "null" before the cards, so a sound device without that mark is not guessed.
size_t defaultDeviceIndex(const std::vector<Device>& devices);

// A device's shown name: the backend's description with control characters (ALSA puts line
// breaks in its descriptions) turned into ", ", followed by the device (V4L2, ALSA) or the
// backend's name (PulseAudio) in brackets; only the id when the description is empty.
std::string displayName(Backend backend, const std::string& description, const std::string& id);

} // namespace zef::captureplugin
