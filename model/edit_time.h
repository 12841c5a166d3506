// Time values of the editor: ticks at 600 per second, snapped to frames of a rate.
#pragma once

#include "platform/movies/fourcc.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace zef::storage {
class StreamReader;
class StreamWriter;
} // namespace zef::storage

namespace zef {

constexpr int64_t kTicksPerSecond = 600;

// The project's edit frame rate (16.16 fixed, default 30.0) as seen by every EditTime whose
// own rate is 0 ("follow the project").
//
// Lookup order for EditRateContext::current(): the innermost Scope of the calling thread, else
// the process-wide installed context, else a built-in 30.0 context.
//
// Thread safety: the rate itself is atomic, so reading it while another thread sets it is
// safe. install()/uninstall() publish a pointer atomically, but the installed object must
// outlive every thread that may still read it; the project installs its own context for its
// whole lifetime. A Scope only affects its own thread and must be destroyed on that thread,
// in reverse order of creation (it is an RAII guard).
class EditRateContext {
public:
    static constexpr movies::Fixed kDefaultRate = 30 << 16;

    explicit EditRateContext(movies::Fixed rate = kDefaultRate) : m_rate(rate) {}
    ~EditRateContext();
    EditRateContext(const EditRateContext&) = delete;
    EditRateContext& operator=(const EditRateContext&) = delete;

    movies::Fixed frameRate() const { return m_rate.load(std::memory_order_relaxed); }
    void setFrameRate(movies::Fixed rate) { m_rate.store(rate, std::memory_order_relaxed); }
    // The whole-number rate: (fixed + 0x1111) >> 16, so 29.97 gives 30 and 23.976 gives 24.
    int32_t wholeRate() const { return wholeRate(frameRate()); }
    static int32_t wholeRate(movies::Fixed rate) { return int32_t((int64_t(rate) + 0x1111) >> 16); }

    static const EditRateContext& current();

    // Makes this the process-wide context; returns false (and changes nothing) when another
    // context is installed already.
    bool install();
    // Removes this context when it is the installed one.
    void uninstall();
    bool isInstalled() const;

    // Overrides the context of the calling thread while it lives.
    class Scope {
    public:
        explicit Scope(const EditRateContext& context);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        const EditRateContext* m_previous;
    };

private:
    std::atomic<movies::Fixed> m_rate;
};

// A time: ticks (1/600 s), the frame rate it is snapped to (rateNum 0 = the project's edit
// rate), and a secondary count `extra` that ranks above the ticks in comparisons.
// A plain value: no heap memory, nothing allocated by its operations.
//
// A rate with a non-positive numerator or denominator cannot be used for frame arithmetic;
// such values are never snapped and count as having no frames.
class EditTime {
public:
    EditTime() = default;
    // Stores the fields and snaps the ticks to the nearest frame of the effective rate,
    // symmetrically about zero.
    explicit EditTime(int64_t ticks, int32_t rateNum = 0, int32_t rateDen = 1, int32_t extra = 0);
    // The fields as given, without snapping (stored values, exact media lengths).
    static EditTime raw(int64_t ticks, int32_t rateNum = 0, int32_t rateDen = 1, int32_t extra = 0);
    static EditTime fromSeconds(double s)
    {
        return EditTime(int64_t(s * kTicksPerSecond + (s < 0 ? -0.5 : 0.5)));
    }

    int64_t ticks() const { return m_ticks; }
    int32_t rateNum() const { return m_rateNum; }
    int32_t rateDen() const { return m_rateDen; }
    int32_t extra() const { return m_extra; }
    void setTicks(int64_t ticks) { m_ticks = ticks; }

    // The rate every conversion uses: rateNum/rateDen, or the project's whole edit rate / 1.
    int32_t effectiveNum() const;
    int32_t effectiveDen() const;

    // The frame number, rounded half away from zero.
    int32_t toFrames() const;
    // Sets the ticks to the start of the given frame; unchanged when the rate is unusable.
    void fromFrames(int32_t frames);
    // Adds n frames' worth of ticks (truncated, not snapped).
    void addFrames(int32_t n);
    void addTicks(int32_t n) { m_ticks += n; }
    // Multiplies the ticks, rounding half away from zero.
    void scale(double factor);
    void setRate(int32_t num, int32_t den)
    {
        m_rateNum = num;
        m_rateDen = den;
    }
    // The same value snapped again to its own rate.
    EditTime snapped() const { return EditTime(m_ticks, m_rateNum, m_rateDen, m_extra); }
    // The time in another time scale: (ticks × scale + 300) / 600.
    int64_t toScale(int64_t scale) const;

    int32_t hours() const { return int32_t(m_ticks / kTicksPerSecond / 3600); }
    int32_t minutes() const { return int32_t((m_ticks / kTicksPerSecond / 60) % 60); }
    int32_t seconds() const { return int32_t((m_ticks / kTicksPerSecond) % 60); }
    int32_t frameInSecond() const;

    // Timecode: "88:88:88" for negative values, "MM:SS:FF" up to and including one hour,
    // "H:MM:SS:FF" beyond.
    std::string format() const;

    // 28 bytes: ticks, scale (600), rateNum, rateDen, extra (extra only from version 5 on).
    void save(storage::StreamWriter& out) const;
    // Reads the stored form without snapping; a stored scale other than 600 is converted. A
    // non-positive scale fails the reader and leaves the value at 0.
    void load(storage::StreamReader& in, int32_t version);
    static constexpr int32_t kExtraSinceVersion = 5;

    EditTime& operator+=(const EditTime& o)
    {
        m_ticks += o.m_ticks;
        m_extra += o.m_extra;
        return *this;
    }
    EditTime& operator-=(const EditTime& o)
    {
        m_ticks -= o.m_ticks;
        m_extra -= o.m_extra;
        return *this;
    }
    friend EditTime operator+(EditTime a, const EditTime& b) { return a += b; }
    friend EditTime operator-(EditTime a, const EditTime& b) { return a -= b; }
    // Negated ticks and extra, snapped again to the same rate.
    EditTime operator-() const { return EditTime(-m_ticks, m_rateNum, m_rateDen, -m_extra); }

    // Equality and order look at (extra, ticks) only; the rate never takes part.
    friend bool operator==(const EditTime& a, const EditTime& b)
    {
        return a.m_ticks == b.m_ticks && a.m_extra == b.m_extra;
    }
    friend bool operator<(const EditTime& a, const EditTime& b)
    {
        return a.m_extra < b.m_extra || (a.m_extra == b.m_extra && a.m_ticks < b.m_ticks);
    }
    friend bool operator>(const EditTime& a, const EditTime& b) { return b < a; }
    friend bool operator<=(const EditTime& a, const EditTime& b) { return !(b < a); }
    friend bool operator>=(const EditTime& a, const EditTime& b) { return !(a < b); }

private:
    bool usableRate(int64_t& num, int64_t& den) const;

    int64_t m_ticks = 0;
    int32_t m_rateNum = 0;
    int32_t m_rateDen = 1;
    int32_t m_extra = 0;
};

inline EditTime minTime(const EditTime& a, const EditTime& b) { return b < a ? b : a; }
inline EditTime maxTime(const EditTime& a, const EditTime& b) { return a < b ? b : a; }

} // namespace zef
