// The print-to-tape export component 'spit'/'Pelt': its identity and its settings atoms. This is
// all the program and the component share besides the export call itself, so programs that
// write a template for the component (the demo maker, tests) use these names too.
//
// Settings atom container (big-endian data):
//   'vide'/'tprl'  12 bytes: temporal quality, frame rate (16.16) and key-frame rate; the frame
//                  rate is the rate of the intermediate AVI file (0 = the movie's). Default
//                  when none were set: 512 (normal), 10.0, 24.
//   'vide'/'drty'  16-bit: nonzero makes the intermediate and DV files anew at every export;
//                  absent or 0 plays an existing DV file of the same name again.
//   'xmit'/'kind'  16-bit transmitter: 0 (default) a FireWire DV device, or the sink when no
//                  FireWire device is present; 1 always the sink.
//   'xmit'/'path'  zero-terminated text: the sink, a file or a named pipe that receives the raw
//                  DV stream (a relative path is taken from the current directory).
#pragma once

#include "platform/movies/fourcc.h"

#include <cstdint>

namespace zef::peltra {

constexpr movies::OSType kPeltraSubType = movies::fourcc("Pelt");
constexpr movies::OSType kPeltraManufacturer = movies::fourcc("krvI");
constexpr uint32_t kPeltraVersion = 65537; // version 1, revision 1

constexpr movies::OSType kDirtyAtom = movies::fourcc("drty");
constexpr movies::OSType kTransmitterAtom = movies::fourcc("xmit");
constexpr movies::OSType kTransmitterKindAtom = movies::fourcc("kind");
constexpr movies::OSType kSinkPathAtom = movies::fourcc("path");

enum class TransmitterKind : uint16_t {
    fireWireElseSink = 0,
    sink = 1,
};

// The default temporal settings.
constexpr uint32_t kDefaultTemporalQuality = 512;
constexpr movies::Fixed kDefaultFrameRate = 10 << 16;
constexpr uint32_t kDefaultKeyFrameRate = 24;

} // namespace zef::peltra
