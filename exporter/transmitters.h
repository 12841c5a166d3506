// DV transmitters: where the playout sends the raw DV stream (DIF frames with their sound).
//
// A FireWire transmitter sends it isochronously to a DV camcorder or deck on the IEEE 1394 bus
// (libiec61883), at the tape's own pace. A sink transmitter writes it to a file or a named pipe,
// as fast as the reader takes it. All calls come from one thread; send blocks until the bytes
// are taken.
#pragma once

#include "platform/movies/errors.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zef::peltra {

// Whether the playout was asked to stop (the export's progress procedure).
using AbortCheck = std::function<bool()>;

class DvTransmitter {
public:
    virtual ~DvTransmitter() = default;
    // What the transmitter is, for messages ("FireWire node 1", the sink's path).
    virtual std::string name() const = 0;
    // Gets ready to send a PAL (else NTSC) stream. May wait for the other side (a named pipe's
    // reader), checking aborted: progressProcAborted then.
    virtual movies::OSErr open(bool pal, const AbortCheck& aborted) = 0;
    virtual movies::OSErr send(const uint8_t* data, size_t size) = 0;
    // Returns once everything sent has been played out.
    virtual movies::OSErr finish() = 0;
};

// The sink: a regular file is created or replaced; a named pipe is opened when a reader opens
// it (waiting at most kPipeReaderWait seconds). A reader that goes away mid-stream gives ioErr,
// never a signal.
constexpr int kPipeReaderWait = 60;
std::unique_ptr<DvTransmitter> makeSinkTransmitter(const std::string& path);

// Whether a FireWire bus with another node on it (a camcorder or deck) is there.
bool fireWireDevicePresent();
// The FireWire transmitter for the first such node; null when there is none.
std::unique_ptr<DvTransmitter> makeFireWireTransmitter();

} // namespace zef::peltra
