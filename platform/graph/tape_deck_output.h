// The output of a tape deck, like a camcorder's DV out: while the tape moves, the pictures at
// the tape position with their timecode, and the sound at play speed.
//
// How to get one: the software tape deck (software_tape_deck.h) is registered in the class
// registry under kSoftwareTapeDeckClassId with the name "Software Tape Deck";
//
//     std::shared_ptr<TapeDeckOutput> out = openTapeDeckOutput(registry, kSoftwareTapeDeckClassId);
//
// gives its output (null when the class is not registered or has no output). Every instance
// made from the class drives the same deck (one machine, one tape), so the output shows what
// the device control (device_control.h) does to the tape: a capture source made from it
// records what the VCR Deck or a device-controlled capture plays.
//
// What arrives: subscribe() a callback; it receives one TapeFrame per picture the deck puts
// out.
//   - While the tape moves (play, shuttle, wind), one picture per frame period of the tape
//     (25 a second for a 25 fps tape), showing the frame under the head at that moment: every
//     frame at play speed, every n-th when winding at n×, the same frame repeated at rates
//     below 1×.
//   - When the tape comes to rest at a new place (pause, stop, a frame step, the end of a
//     wind or seek, the tape's ends), one picture of the frame it rests on (speed 0).
//   - Sound only at play speed (mode play, rate exactly 1×): the PCM of exactly that frame's
//     period, so consecutive frames carry gap-free sound. At other speeds pcmFrames is 0.
//   - Frames of a subscriber that is slow are skipped, never queued: the tape runs on its own
//     clock whatever the subscribers do. A subscriber tells skips from the frame numbers.
//
// Threads: callbacks run on the deck's own output thread, one call at a time, in the order
// the deck puts the pictures out. Everything the frame points to is valid only during the
// call (copy what you keep). subscribe/unsubscribe/format are thread-safe and may be called
// from any thread; unsubscribe waits until a running call of that callback has returned, so
// after it returns the callback is never called again (calling unsubscribe from inside the
// callback is allowed and does not wait).
#pragma once

#include "platform/graph/guid.h"
#include "platform/movies/pixmap.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zef::graph {

class FilterClassRegistry;

// The interface identifier of TapeDeckOutput for Filter::queryInterface.
constexpr Guid kIID_TapeDeckOutput = Guid::parse("{6E1C2A51-3B7D-4F0E-9A42-5D1F2C7B8E13}");

// A tape timecode: hours, minutes, seconds and frames of the tape position, counted at the
// tape's whole frame rate (30 for a 29.97 fps tape, non-drop-frame).
struct TapeTimecode {
    int32_t hours = 0;
    int32_t minutes = 0;
    int32_t seconds = 0;
    int32_t frames = 0;
    // "HH:MM:SS:FF".
    std::string text() const;
    friend bool operator==(const TapeTimecode&, const TapeTimecode&) = default;
};

struct TapeFrame {
    int64_t frameNumber = 0;  // tape position: the frame's index from the tape's beginning
    TapeTimecode timecode;    // the same position as timecode
    int32_t rateNumerator = 25; // the tape's frame rate (30000/1001 for NTSC)
    int32_t rateDenominator = 1;
    double speed = 0; // the tape's signed speed when the picture was taken (1 = play, 0 = rest)

    // The picture at the tape's own size: 32-bit pixels 0xAARRGGBB, rows top-down (see
    // movies::Pixmap; in memory B, G, R, A).
    const movies::Pixmap* picture = nullptr;

    // Sound of this frame's period at play speed: interleaved signed 16-bit PCM.
    const int16_t* pcm = nullptr;
    int32_t pcmFrames = 0; // sample frames (0 when the tape does not play at 1×)
    int32_t sampleRate = 48000;
    int32_t channels = 2;
};

// The deck's constant output format (for a capture source to announce before frames arrive).
struct TapeOutputFormat {
    int32_t width = 0;
    int32_t height = 0;
    int32_t rateNumerator = 25;
    int32_t rateDenominator = 1;
    int32_t sampleRate = 48000;
    int32_t channels = 2;
};

class TapeDeckOutput {
public:
    using Callback = std::function<void(const TapeFrame&)>;

    virtual ~TapeDeckOutput() = default;

    // Adds a subscriber; returns its token (> 0) for unsubscribe. The current picture is not
    // sent at once: the next one comes when the tape moves or comes to rest. Ask for it with
    // requestStill().
    virtual int64_t subscribe(Callback callback) = 0;
    // Removes a subscriber (unknown tokens are ignored); see the thread rules above.
    virtual void unsubscribe(int64_t token) = 0;
    // Asks for one picture of the frame under the head now, whatever the tape does (a
    // preview that just opened wants to show where the tape stands).
    virtual void requestStill() = 0;
    // The format of the loaded tape. Loading the tape may take a moment the first time.
    virtual TapeOutputFormat format() = 0;
};

// The output of a deck class: an instance made from the registry, asked for kIID_TapeDeckOutput.
// The returned pointer keeps that instance alive. Null when the class is unknown or has none.
std::shared_ptr<TapeDeckOutput> openTapeDeckOutput(const FilterClassRegistry& registry,
                                                   const Guid& classId);

} // namespace zef::graph
