#include "capture/tape_deck.h"
#include "platform/graph/class_registry.h"
#include "platform/graph/device_control.h"

#include <cstdlib>
#include <thread>

namespace zef {

using namespace graph;

TapeDeck::TapeDeck(const FilterClassRegistry& registry, const DeviceList& devices)
    : m_registry(registry), m_devices(devices)
{
}

TapeDeck::~TapeDeck() { close(); }

bool TapeDeck::open(int32_t deviceIndex, int32_t port)
{
    close();
    if (deviceIndex < 0 || size_t(deviceIndex) >= m_devices.size()) return false;
    std::shared_ptr<Filter> filter = m_registry.create(m_devices[size_t(deviceIndex)].classId);
    if (!filter) return false;
    auto* transport = static_cast<ExtTransport*>(filter->queryInterface(kIID_ExtTransport));
    auto* device = static_cast<ExtDevice*>(filter->queryInterface(kIID_ExtDevice));
    auto* reader = static_cast<TimecodeReader*>(filter->queryInterface(kIID_TimecodeReader));
    if (!transport || !device || !reader) return false;
    m_filter = std::move(filter);
    m_transport = transport;
    m_device = device;
    m_reader = reader;
    m_deviceIndex = deviceIndex;
    m_device->setDevicePort(port);
    m_transport->setBasicParameter(kBasicTimeFormat, kTimeFormatTimecode);
    m_transport->setBasicParameter(kBasicTimeReference, kTimeReferenceTimecode);
    int32_t format = -1;
    m_timecodeFormat = succeeded(m_device->capability(kCapTimecodeFormat, &format)) ? format : -1;
    return true;
}

void TapeDeck::close()
{
    m_device = nullptr;
    m_transport = nullptr;
    m_reader = nullptr;
    m_filter.reset();
    m_deviceIndex = -1;
    m_direction = 0;
    m_timecodeFormat = -1;
}

int32_t TapeDeck::port() const
{
    int32_t port = -1;
    if (!m_device || !succeeded(m_device->devicePort(&port))) return -1;
    return port;
}

bool TapeDeck::isTapeTransport() const
{
    int32_t type = 0;
    if (!m_device || !succeeded(m_device->capability(kCapDeviceType, &type))) return false;
    return type >= kDeviceTypeVcr && type <= kDeviceTypeDiskRecorder;
}

bool TapeDeck::trySetMode(int32_t mode)
{
    return m_transport && succeeded(m_transport->setMode(mode));
}

void TapeDeck::setMode(int32_t mode)
{
    m_direction = 0;
    if (!m_transport) return;
    if (!trySetMode(mode) && mode == kShuttleForward) trySetMode(kShuttle);
}

int32_t TapeDeck::mode() const
{
    int32_t mode = kModeInvalid;
    if (!m_transport || !succeeded(m_transport->mode(&mode))) return kModeInvalid;
    return mode;
}

bool TapeDeck::trySetRate(double speed)
{
    if (!m_transport) return false;
    const int32_t now = mode();
    double rate = 0;
    if ((now == kShuttleForward || now == kShuttle) && succeeded(m_transport->rate(&rate)) &&
        rate == speed)
        return true;
    trySetMode(kFreeze);
    // A refused rate fails here, so that the caller's fallbacks (play, wind) take over instead
    // of shuttling at whatever rate the deck had before.
    if (!succeeded(m_transport->setRate(speed))) return false;
    return trySetMode(kShuttle) || trySetMode(kShuttleForward);
}

bool TapeDeck::setRate(double speed) { return trySetRate(speed); }

EditTime TapeDeck::timecode() const
{
    TimecodeSample s;
    if (!m_reader || !succeeded(m_reader->timecode(&s))) return EditTime::raw(0, 0, 1);
    int64_t num = 30, den = 1;
    switch (s.frameRate) {
    case kTimecodeRate30:
        break;
    case kTimecodeRate2997:
        num = 1964113, den = 65536;
        break;
    case kTimecodeRate25:
        num = 25;
        break;
    case kTimecodeRate24:
        num = 24;
        break;
    case 0:
        switch (m_timecodeFormat) {
        case kTimecodeFormat24:
            num = 24;
            break;
        case kTimecodeFormat25:
            num = 25;
            break;
        case kTimecodeFormat2997:
            num = 1964113, den = 65536;
            break;
        default:
            break;
        }
        break;
    default:
        num = s.frameRate;
        break;
    }
    const int64_t ticks =
        (int64_t(s.frameFraction) * 600 / 4096 + int64_t(s.frames) * 600) * den / num;
    return EditTime::raw(ticks, int32_t(num), int32_t(den));
}

void TapeDeck::seek(const EditTime& target, bool wait)
{
    const int64_t now = timecode().ticks();
    m_direction = target.ticks() > now ? 1 : target.ticks() < now ? -1 : 0;
    m_target = target;
    if (!wait) return;
    while (m_direction != 0) {
        if (m_pump)
            m_pump();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        seekStep();
    }
}

void TapeDeck::seekStep()
{
    if (m_direction == 0) return;
    int64_t tolerance = 0;
    switch (m_timecodeFormat) {
    case 4132:
        tolerance = 25;
        break;
    case 4133:
        tolerance = 24;
        break;
    case 4134:
    case 4135:
        tolerance = 20;
        break;
    default:
        break;
    }
    const int64_t d = m_target.ticks() - timecode().ticks();
    bool speedUp = true;
    if (d > tolerance && m_direction > 0) {
        m_direction = 1;
    } else if (d < -tolerance && m_direction < 0) {
        m_direction = -1;
    } else if (d > tolerance && m_direction < 0) {
        m_direction = 1;
        speedUp = false;
    } else {
        m_direction = 0;
    }
    if (speedUp) {
        const int64_t distance = std::llabs(d);
        if (distance > 300) m_direction *= 2;
        if (distance > 3000) m_direction *= 2;
        if (distance > 18000) m_direction *= 2;
    }
    switch (m_direction) {
    case 0:
        trySetMode(kFreeze);
        break;
    case 1:
        if (!trySetRate(0.5)) trySetMode(kPlay);
        break;
    case 2:
        if (!trySetRate(1)) trySetMode(kPlay);
        break;
    case 4:
        if (!trySetRate(4)) trySetMode(kFastForward);
        break;
    case 8:
        trySetMode(kFastForward);
        break;
    case -1:
        if (!trySetRate(-0.5) && !trySetRate(-1) && !trySetRate(-4)) trySetMode(kRewind);
        break;
    case -2:
        if (!trySetRate(-1) && !trySetRate(-4)) trySetMode(kRewind);
        break;
    case -4:
        if (!trySetRate(-4)) trySetMode(kRewind);
        break;
    case -8:
        trySetMode(kRewind);
        break;
    default:
        break;
    }
    const int32_t now = mode();
    if (now == kFreeze || now == kStop) m_direction = 0;
}

std::string TapeDeck::modeName() const { return TapeTransport::modeName(mode()); }

} // namespace zef
