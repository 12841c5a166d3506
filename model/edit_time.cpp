#include "model/edit_time.h"

#include "platform/storage/stream.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace zef {

namespace {

const EditRateContext g_builtIn;
std::atomic<const EditRateContext*> g_installed{nullptr};
thread_local const EditRateContext* t_scope = nullptr;

int64_t saturate64(__int128 v)
{
    if (v > std::numeric_limits<int64_t>::max()) return std::numeric_limits<int64_t>::max();
    if (v < std::numeric_limits<int64_t>::min()) return std::numeric_limits<int64_t>::min();
    return int64_t(v);
}

int32_t saturate32(__int128 v)
{
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return int32_t(v);
}

} // namespace

// ---- EditRateContext

EditRateContext::~EditRateContext() { uninstall(); }

const EditRateContext& EditRateContext::current()
{
    if (t_scope) return *t_scope;
    if (const EditRateContext* c = g_installed.load(std::memory_order_acquire)) return *c;
    return g_builtIn;
}

bool EditRateContext::install()
{
    const EditRateContext* expected = nullptr;
    return g_installed.compare_exchange_strong(expected, this, std::memory_order_acq_rel) ||
           expected == this;
}

void EditRateContext::uninstall()
{
    const EditRateContext* expected = this;
    g_installed.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
}

bool EditRateContext::isInstalled() const
{
    return g_installed.load(std::memory_order_acquire) == this;
}

EditRateContext::Scope::Scope(const EditRateContext& context) : m_previous(t_scope)
{
    t_scope = &context;
}

EditRateContext::Scope::~Scope() { t_scope = m_previous; }

// ---- EditTime

EditTime::EditTime(int64_t ticks, int32_t rateNum, int32_t rateDen, int32_t extra)
    : m_ticks(ticks < 0 ? -ticks : ticks), m_rateNum(rateNum), m_rateDen(rateDen), m_extra(extra)
{
    // Snap the magnitude, then re-apply the sign, so that rounding is symmetric about zero.
    int64_t num, den;
    if (usableRate(num, den)) fromFrames(toFrames());
    if (ticks < 0) m_ticks = -m_ticks;
}

EditTime EditTime::raw(int64_t ticks, int32_t rateNum, int32_t rateDen, int32_t extra)
{
    EditTime t;
    t.m_ticks = ticks;
    t.m_rateNum = rateNum;
    t.m_rateDen = rateDen;
    t.m_extra = extra;
    return t;
}

int32_t EditTime::effectiveNum() const
{
    return m_rateNum != 0 ? m_rateNum : EditRateContext::current().wholeRate();
}

int32_t EditTime::effectiveDen() const { return m_rateNum != 0 ? m_rateDen : 1; }

bool EditTime::usableRate(int64_t& num, int64_t& den) const
{
    num = effectiveNum();
    den = effectiveDen();
    return num > 0 && den > 0;
}

int32_t EditTime::toFrames() const
{
    int64_t num, den;
    if (!usableRate(num, den)) return 0;
    __int128 half = __int128(den) * 300;
    __int128 product = __int128(num) * m_ticks;
    product += m_ticks >= 0 ? half : -half;
    return saturate32(product / (__int128(den) * 600));
}

void EditTime::fromFrames(int32_t frames)
{
    int64_t num, den;
    if (!usableRate(num, den)) return;
    __int128 product = __int128(frames) * den * 600;
    product += frames >= 0 ? num / 2 : -(num / 2);
    m_ticks = saturate64(product / num);
}

void EditTime::addFrames(int32_t n)
{
    int64_t num, den;
    if (!usableRate(num, den)) return;
    m_ticks = saturate64(__int128(m_ticks) + __int128(n) * den * 600 / num);
}

void EditTime::scale(double factor)
{
    double product = double(m_ticks) * factor;
    if (!std::isfinite(product)) return;
    product = product >= 0 ? product + 0.5 : product - 0.5;
    if (product >= 9.2e18 || product <= -9.2e18) return;
    m_ticks = int64_t(product);
}

int64_t EditTime::toScale(int64_t scale) const
{
    return saturate64((__int128(m_ticks) * scale + 300) / kTicksPerSecond);
}

int32_t EditTime::frameInSecond() const
{
    int64_t num, den;
    if (!usableRate(num, den)) return 0;
    return saturate32(((__int128(m_ticks % kTicksPerSecond) * num / den) + 300) / 600);
}

std::string EditTime::format() const
{
    if (m_ticks < 0) return "88:88:88";
    int64_t secs = m_ticks / kTicksPerSecond;
    int64_t frame = 0;
    int64_t num, den;
    if (usableRate(num, den))
        frame = int64_t((__int128(num) * (m_ticks - secs * 600) + __int128(den) * 300) /
                        (__int128(den) * 600));
    char text[64];
    // Exactly one hour still reads "60:00:00"; anything after it, even a frame, gets hours.
    if (m_ticks <= 3600 * kTicksPerSecond)
        std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", (long long)(secs / 60),
                      (long long)(secs % 60), (long long)frame);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld:%02lld", (long long)(secs / 3600),
                      (long long)(secs % 3600 / 60), (long long)(secs % 60), (long long)frame);
    return text;
}

void EditTime::save(storage::StreamWriter& out) const
{
    out.int64(m_ticks);
    out.int64(kTicksPerSecond);
    out.int32(m_rateNum);
    out.int32(m_rateDen);
    out.int32(m_extra);
}

void EditTime::load(storage::StreamReader& in, int32_t version)
{
    int64_t ticks = in.int64();
    int64_t scale = in.int64();
    m_rateNum = in.int32();
    m_rateDen = in.int32();
    m_extra = version >= kExtraSinceVersion ? in.int32() : 0;
    if (!in.ok()) {
        *this = EditTime();
        return;
    }
    if (scale <= 0) {
        in.fail();
        *this = EditTime();
        return;
    }
    if (scale != kTicksPerSecond)
        ticks = saturate64((__int128(ticks) * kTicksPerSecond + scale / 2) / scale);
    m_ticks = ticks;
}

} // namespace zef
