#include "platform/graph/device_control.h"
#include "platform/graph/class_registry.h"
#include "platform/graph/tape_deck_output.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace zef::graph {

namespace {

bool equalsIgnoringCase(const std::string& a, const char* b)
{
    const size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool hasTimecodeOutputOnly(const FilterClass& c)
{
    bool timecodeOut = false;
    for (const PinRegistration& p : c.pins) {
        if (!p.output) return false; // needs an input
        if (p.major == MajorType::timecode) timecodeOut = true;
    }
    return timecodeOut;
}

void putLe(std::vector<uint8_t>& out, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

uint64_t getLe(const uint8_t* p, int bytes)
{
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

} // namespace

std::string DeviceInfo::nameText() const
{
    return std::string(name.data(), strnlen(name.data(), name.size()));
}

std::string TapeTimecode::text() const
{
    char s[32];
    std::snprintf(s, sizeof s, "%02d:%02d:%02d:%02d", hours, minutes, seconds, frames);
    return s;
}

void DeviceList::append(const DeviceInfo& info)
{
    if (m_count == m_records.size()) {
        const size_t step = std::clamp<size_t>(m_records.size() / 8, 4, 1024);
        m_records.resize(m_records.size() + step);
    }
    m_records[m_count++] = info;
}

void DeviceList::clear()
{
    m_records.clear();
    m_count = 0;
}

void DeviceList::enumerate(const FilterClassRegistry& registry)
{
    std::vector<FilterClass> candidates;
    for (FilterCategory cat :
         {FilterCategory::other, FilterCategory::converter, FilterCategory::renderer})
        for (FilterClass& c : registry.classes(cat))
            if (c.merit >= kMeritDeviceControl && hasTimecodeOutputOnly(c))
                candidates.push_back(std::move(c));
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const FilterClass& a, const FilterClass& b) { return a.merit > b.merit; });

    for (const FilterClass& c : candidates) {
        std::shared_ptr<Filter> filter = registry.create(c.classId);
        if (!filter) continue;
        if (!filter->queryInterface(kIID_ExtTransport)) continue;
        DeviceInfo info;
        info.classId = c.classId;
        const size_t n = std::min(c.name.size(), info.name.size() - 1);
        std::memcpy(info.name.data(), c.name.data(), n);
        if (equalsIgnoringCase(info.nameText(), "VCR Control Sample")) continue;
        auto* device = static_cast<ExtDevice*>(filter->queryInterface(kIID_ExtDevice));
        auto* reader = static_cast<TimecodeReader*>(filter->queryInterface(kIID_TimecodeReader));
        if (!device || !reader) continue;
        if (!succeeded(device->setDevicePort(kDevicePortProbe))) continue;
        append(info);
    }
}

std::vector<uint8_t> DeviceList::serialize() const
{
    std::vector<uint8_t> out;
    out.reserve(4 + m_count * kDeviceInfoBytes);
    putLe(out, uint32_t(m_count), 4);
    for (size_t i = 0; i < m_count; ++i) {
        const DeviceInfo& d = m_records[i];
        putLe(out, d.classId.data1, 4);
        putLe(out, d.classId.data2, 2);
        putLe(out, d.classId.data3, 2);
        out.insert(out.end(), d.classId.data4.begin(), d.classId.data4.end());
        out.insert(out.end(), d.name.begin(), d.name.end());
    }
    return out;
}

bool DeviceList::deserialize(const uint8_t* data, size_t size)
{
    if (!data || size < 4) return false;
    const int32_t count = int32_t(getLe(data, 4));
    if (count < 0 || size_t(count) > (size - 4) / kDeviceInfoBytes) return false;
    DeviceList read;
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t* p = data + 4 + size_t(i) * kDeviceInfoBytes;
        DeviceInfo d;
        d.classId.data1 = uint32_t(getLe(p, 4));
        d.classId.data2 = uint16_t(getLe(p + 4, 2));
        d.classId.data3 = uint16_t(getLe(p + 6, 2));
        std::memcpy(d.classId.data4.data(), p + 8, 8);
        std::memcpy(d.name.data(), p + 16, d.name.size());
        d.name.back() = '\0';
        read.append(d);
    }
    *this = std::move(read);
    return true;
}

std::shared_ptr<TapeDeckOutput> openTapeDeckOutput(const FilterClassRegistry& registry,
                                                   const Guid& classId)
{
    std::shared_ptr<Filter> filter = registry.create(classId);
    if (!filter) return nullptr;
    auto* out = static_cast<TapeDeckOutput*>(filter->queryInterface(kIID_TapeDeckOutput));
    if (!out) return nullptr;
    return std::shared_ptr<TapeDeckOutput>(filter, out);
}

} // namespace zef::graph
