#include "captureplugin/settings_block.h"

#include "platform/storage/little_endian.h"

extern "C" {
#include <libavutil/crc.h>
}

#include <bit>
#include <cmath>
#include <cstring>

namespace zef::captureplugin {

using storage::getLE16;
using storage::getLE32;
using storage::getLE64;
using storage::putLE16;
using storage::putLE32;
using storage::putLE64;

namespace {

constexpr uint8_t kMagic[4] = {'Z', 'C', 'P', 'S'};
constexpr size_t kHeaderSize = 12;
constexpr size_t kChecksumSize = 4;
constexpr uint8_t kLastBackend = uint8_t(Backend::Pulse);

uint32_t checksum(const uint8_t* data, size_t size)
{
    return av_crc(av_crc_get_table(AV_CRC_32_IEEE_LE), 0xffffffffu, data, size) ^ 0xffffffffu;
}

class Writer {
public:
    void u8(uint8_t v) { m_bytes.push_back(v); }
    void u16(uint16_t v) { putLE16(grow(2), v); }
    void u32(uint32_t v) { putLE32(grow(4), v); }
    void u64(uint64_t v) { putLE64(grow(8), v); }
    void text(const std::string& s)
    {
        u16(uint16_t(s.size()));
        std::memcpy(grow(s.size()), s.data(), s.size());
    }
    std::vector<uint8_t>& bytes() { return m_bytes; }

private:
    uint8_t* grow(size_t n)
    {
        m_bytes.resize(m_bytes.size() + n);
        return m_bytes.data() + m_bytes.size() - n;
    }
    std::vector<uint8_t> m_bytes;
};

// Reads within [p, end); every read after the first failure fails too.
class Reader {
public:
    Reader(const uint8_t* p, const uint8_t* end) : m_p(p), m_end(end) {}
    bool ok() const { return m_ok; }
    bool atEnd() const { return m_p == m_end; }
    uint8_t u8() { return take(1) ? m_p[-1] : 0; }
    uint64_t u64() { return take(8) ? getLE64(m_p - 8) : 0; }
    std::string text()
    {
        if (!take(2)) return {};
        size_t n = getLE16(m_p - 2);
        if (n > kMaxSettingsText || !take(n)) return fail();
        std::string s(reinterpret_cast<const char*>(m_p - n), n);
        if (s.find('\0') != std::string::npos) return fail();
        return s;
    }
    std::string fail()
    {
        m_ok = false;
        return {};
    }

private:
    bool take(size_t n)
    {
        if (!m_ok || size_t(m_end - m_p) < n) {
            m_ok = false;
            return false;
        }
        m_p += n;
        return true;
    }
    const uint8_t* m_p;
    const uint8_t* m_end;
    bool m_ok = true;
};

void writeDevice(Writer& w, const std::optional<Device>& device)
{
    w.u8(device ? 1 : 0);
    if (!device) return;
    w.u8(uint8_t(device->backend));
    w.text(device->id);
    w.text(device->name);
}

bool readDevice(Reader& r, std::optional<Device>& device)
{
    uint8_t present = r.u8();
    if (present == 0) {
        device.reset();
        return r.ok();
    }
    uint8_t backend = r.u8();
    Device d;
    d.backend = Backend(backend);
    d.id = r.text();
    d.name = r.text();
    if (present != 1 || backend > kLastBackend || d.id.empty() || d.name.empty()) return false;
    device = std::move(d);
    return r.ok();
}

} // namespace

std::vector<uint8_t> encodeSettings(const PluginSettings& settings)
{
    Writer w;
    for (uint8_t c : kMagic)
        w.u8(c);
    w.u16(kSettingsVersion);
    w.u16(0);
    w.u32(0); // size, filled in below
    writeDevice(w, settings.video);
    writeDevice(w, settings.audio);
    w.u64(std::bit_cast<uint64_t>(settings.frameRate));
    w.text(settings.captureFile);
    w.u64(settings.captureFileSize);
    std::vector<uint8_t>& bytes = w.bytes();
    putLE32(bytes.data() + 8, uint32_t(bytes.size() + kChecksumSize));
    uint32_t crc = checksum(bytes.data(), bytes.size());
    w.u32(crc);
    return std::move(bytes);
}

bool decodeSettings(const uint8_t* block, size_t size, PluginSettings& out)
{
    if (!block || size < kHeaderSize + kChecksumSize) return false;
    if (std::memcmp(block, kMagic, sizeof kMagic) != 0) return false;
    if (getLE16(block + 4) != kSettingsVersion || getLE16(block + 6) != 0) return false;
    if (getLE32(block + 8) != size) return false;
    if (getLE32(block + size - kChecksumSize) != checksum(block, size - kChecksumSize))
        return false;

    PluginSettings s;
    Reader r(block + kHeaderSize, block + size - kChecksumSize);
    if (!readDevice(r, s.video) || !readDevice(r, s.audio)) return false;
    s.frameRate = std::bit_cast<double>(r.u64());
    s.captureFile = r.text();
    s.captureFileSize = r.u64();
    if (!r.ok() || !r.atEnd()) return false;
    if (!std::isfinite(s.frameRate) || s.frameRate < 0 || s.frameRate > kMaxFrameRate) return false;
    out = std::move(s);
    return true;
}

} // namespace zef::captureplugin
