// External device control: tape decks and similar transports as filters of the class
// registry. A device-control filter offers three interfaces through queryInterface:
//   ExtDevice       the device: its port and capability queries;
//   ExtTransport    the transport: mode, rate, basic parameters;
//   TimecodeReader  the tape's timecode.
// It is listed as a filter that needs no input and has an output of major type timecode.
//
// Codes are the external-device values that callers store and compare (modes 4296..4905,
// capabilities 4103/4131, frame-rate words 4502..4505). Results are HResult codes; a device
// refuses what it cannot do with a failure code (kNotImplemented for a mode or rate it does
// not have).
//
// Thread safety: the interfaces of one instance are called from one thread at a time (the
// GUI thread); the devices themselves may run on their own threads.
#pragma once

#include "platform/graph/filter.h"
#include "platform/graph/guid.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zef::graph {

class FilterClassRegistry;

constexpr Guid kIID_ExtDevice = Guid::parse("{6E1C2A52-3B7D-4F0E-9A42-5D1F2C7B8E13}");
constexpr Guid kIID_ExtTransport = Guid::parse("{6E1C2A53-3B7D-4F0E-9A42-5D1F2C7B8E13}");
constexpr Guid kIID_TimecodeReader = Guid::parse("{6E1C2A54-3B7D-4F0E-9A42-5D1F2C7B8E13}");

// Device capabilities.
constexpr int32_t kCapDeviceType = 4103;
constexpr int32_t kDeviceTypeVcr = 4104; // 4104..4107: the tape transports
constexpr int32_t kDeviceTypeLaserDisc = 4105;
constexpr int32_t kDeviceTypeAudioTape = 4106;
constexpr int32_t kDeviceTypeDiskRecorder = 4107;
constexpr int32_t kDeviceTypeRouter = 4108;
constexpr int32_t kCapTimecodeFormat = 4131;
constexpr int32_t kTimecodeFormat24 = 4132;
constexpr int32_t kTimecodeFormat25 = 4133;
constexpr int32_t kTimecodeFormat2997 = 4134;
constexpr int32_t kTimecodeFormat30 = 4135;

// Transport basic parameters (parameter, value) set when a device is opened.
constexpr int32_t kBasicTimeFormat = 4636;
constexpr int32_t kTimeFormatTimecode = 4638;
constexpr int32_t kBasicTimeReference = 4655;
constexpr int32_t kTimeReferenceTimecode = 4658;

// The port every listed device must accept.
constexpr int32_t kDevicePortProbe = 8;

// Frame-rate words of a timecode sample.
constexpr uint16_t kTimecodeRate30 = 4502;
constexpr uint16_t kTimecodeRate2997 = 4503;
constexpr uint16_t kTimecodeRate25 = 4504;
constexpr uint16_t kTimecodeRate24 = 4505;

// Filters of at least this merit are candidates for device control.
constexpr uint32_t kMeritDeviceControl = 2097152;

class ExtDevice {
public:
    virtual ~ExtDevice() = default;
    virtual HResult capability(int32_t capability, int32_t* value) = 0;
    virtual HResult devicePort(int32_t* port) = 0;
    virtual HResult setDevicePort(int32_t port) = 0;
};

class ExtTransport {
public:
    virtual ~ExtTransport() = default;
    virtual HResult mode(int32_t* mode) = 0;
    virtual HResult setMode(int32_t mode) = 0;
    virtual HResult rate(double* rate) = 0;
    virtual HResult setRate(double rate) = 0;
    virtual HResult basicParameter(int32_t parameter, int32_t* value) = 0;
    virtual HResult setBasicParameter(int32_t parameter, int32_t value) = 0;
};

// A timecode sample: the frame-rate word (0: the device's timecode format decides; another
// value not in the table: that many frames per second), a fraction of a frame in 1/4096, and
// the binary frame count from the tape's beginning.
struct TimecodeSample {
    uint16_t frameRate = 0;
    uint16_t frameFraction = 0;
    uint32_t frames = 0;
};

class TimecodeReader {
public:
    virtual ~TimecodeReader() = default;
    virtual HResult timecode(TimecodeSample* sample) = 0;
};

// One usable device-control filter: 144 bytes, its class identifier (16 bytes, in the
// identifier's memory layout: data1, data2, data3 little-endian, then data4) and its name in
// 8-bit text (128 bytes, zero-terminated).
struct DeviceInfo {
    Guid classId;
    std::array<char, 128> name{};
    std::string nameText() const;
};
constexpr size_t kDeviceInfoBytes = 144;

// The list of device-control filters, filled once at start-up. The records are held in an
// array that grows by an eighth of its size, at least 4 and at most 1024 records at a time.
class DeviceList {
public:
    // Lists the registry's classes of merit kMeritDeviceControl or higher whose pins need no
    // input and offer a timecode output, in the registry's order of merit. Each is made and
    // asked for ExtTransport; its name is cut to 127 bytes; a name equal to "VCR Control
    // Sample" in any letter case is skipped; ExtDevice and TimecodeReader must be there and
    // the device must take port 8. Every instance is released before the next is made; a
    // class that fails anywhere is skipped.
    void enumerate(const FilterClassRegistry& registry);

    void append(const DeviceInfo& info);
    size_t size() const { return m_count; }
    size_t capacity() const { return m_records.size(); }
    const DeviceInfo& operator[](size_t i) const { return m_records[i]; }
    void clear();

    // The count (32-bit little-endian) then the raw records.
    std::vector<uint8_t> serialize() const;
    // Reads what serialize wrote; false (and the list unchanged) when the bytes are short,
    // the count is negative or larger than the bytes hold. Names are forced zero-terminated.
    bool deserialize(const uint8_t* data, size_t size);

private:
    std::vector<DeviceInfo> m_records; // capacity = m_records.size()
    size_t m_count = 0;
};

} // namespace zef::graph
