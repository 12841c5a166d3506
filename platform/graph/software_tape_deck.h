// The software tape deck: a device-control filter for machines without a tape deck. Its
// "tape" is a movie or DV file, or, without one, a generated tape: moving colour bars with the
// tape's timecode written large and its frame number as a binary code in the top rows, and a
// 1 kHz tone, 20 minutes at 25 fps (720×576).
//
// The transport runs in real time on its own clock: play (1×), freeze and stop, fast forward
// and rewind (10×), shuttle at a signed rate (4305 and 4307; rates up to ±10× are taken, rate
// 0 holds the tape), step forward and back one frame. The tape's beginning and end stop the
// tape. Recording modes are refused (a player deck), and so is 4307 when the options say so.
// Timecode is the tape position in frames at the tape's frame rate. The deck's output
// (tape_deck_output.h) carries the pictures and sound at the tape position.
//
// Every instance the registry makes drives the same machine (one tape, one transport), which
// is made at the first instance and lives while any instance or output does; the tape is
// loaded at the first call that needs it.
#pragma once

#include "platform/graph/class_registry.h"
#include "platform/graph/device_control.h"
#include "platform/graph/tape_deck_output.h"

#include <chrono>
#include <memory>
#include <string>

namespace zef::graph {

constexpr Guid kSoftwareTapeDeckClassId = Guid::parse("{6E1C2A50-3B7D-4F0E-9A42-5D1F2C7B8E13}");
constexpr const char* kSoftwareTapeDeckName = "Software Tape Deck";
// The environment variable naming a tape file (when the program gives none).
constexpr const char* kSoftwareDeckTapeVariable = "ZEF_SOFTWARE_DECK_TAPE";

// The deck's clock: seconds since an arbitrary start, never going back. Tests wind time on
// by hand; waitFor lets the output thread sleep on the same clock.
class DeckClock {
public:
    virtual ~DeckClock() = default;
    virtual double now() const = 0;
};
// The steady clock of the machine.
std::shared_ptr<DeckClock> steadyDeckClock();

struct SoftwareTapeDeckOptions {
    // The tape: a movie or DV file; empty: $ZEF_SOFTWARE_DECK_TAPE, and without that the
    // generated tape. A file that cannot be opened also gives the generated tape.
    std::string tapePath;
    // Refuse shuttle mode 4307 (4305 is still taken), as some decks do.
    bool refuseShuttle = false;
    // Rate of fast forward and rewind.
    double windRate = 10.0;
    // Largest shuttle rate taken (either sign); larger ones are refused.
    double maxShuttleRate = 10.0;
    // Length of the generated tape in seconds.
    double generatedSeconds = 1200.0;
    std::shared_ptr<DeckClock> clock; // null: steadyDeckClock()
};

// Registers (or replaces) the software deck's class: merit kMeritDoNotUse (listed for device
// control, never picked by a graph on its own), a timecode output pin. A replaced class makes
// a new machine with the new options at its next instance; a machine already made lives on
// with its old options for the instances that hold it.
void registerSoftwareTapeDeck(FilterClassRegistry& registry,
                              SoftwareTapeDeckOptions options = {});

// Draws the generated tape's picture of a frame number (for tests and the deck).
void drawGeneratedTapeFrame(int64_t frameNumber, int32_t rateNumerator, int32_t rateDenominator,
                            movies::Pixmap& picture);
// Reads the frame number from the binary code of a generated tape picture (also after it was
// scaled down to no less than 180 pixels wide, or compressed); -1 when no code is found.
int64_t readGeneratedTapeFrameNumber(const movies::Pixmap& picture);

} // namespace zef::graph
