// Effects of the movie toolbox: descriptors, parameter sets and the evaluator.
//
// An effect is described by data (EffectDescriptor): its four-character code, name,
// manufacturer, number of sources (0, 1 or 2) and its parameters (ParamDescriptor), from which
// a parameter dialog can be generated. A ParameterSet holds the values of one effect sample;
// a tweening parameter holds a start and an end value interpolated over the sample's duration.
//
// Evaluation (renderEffect) is a pure function of the descriptor, the parameter set, the
// progress within the sample, the frame time and the source pictures: effect objects hold no
// mutable state, so different threads may render different frames at once.
#pragma once

#include "platform/movies/composite/graphics_mode.h"
#include "platform/movies/fourcc.h"
#include "platform/movies/pixmap.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zef::movies {

constexpr FourCC kEffectManufacturerBuiltIn = fourcc("appl");

enum class ParamType : uint8_t {
    Integer, // whole number; stored as a 32-bit integer
    Fixed,   // real number; stored as 16.16
    Boolean, // 0 or 1; stored as a 32-bit integer
    Colour,  // opaque RGB held as 0xFFRRGGBB; stored as three 16-bit channels
    Enum,    // index into the named choices; stored as a 32-bit integer
    Angle,   // degrees; stored as 16.16
    Point,   // (x, y) in fractions of the frame, 0..1 = left..right, top..bottom; two 16.16
};

// A parameter value. Point uses x and y; Colour holds the packed pixel value in x; the other
// types use x.
struct ParamValue {
    double x = 0;
    double y = 0;
    friend bool operator==(const ParamValue&, const ParamValue&) = default;
};

struct ParamDescriptor {
    FourCC code = 0;
    std::string name;
    ParamType type = ParamType::Integer;
    double min = 0; // range of numbers (each coordinate of a point); unused for colours
    double max = 0;
    ParamValue defaultValue;
    bool tweens = false;              // has start and end values over the sample
    std::vector<std::string> choices; // Enum: the names of the values 0, 1, ...
};

struct EffectContext;
using EffectRenderFn = void (*)(const EffectContext&);

struct EffectDescriptor {
    FourCC code = 0;
    std::string name;
    FourCC manufacturer = kEffectManufacturerBuiltIn;
    int32_t sources = 0; // 0, 1 or 2
    std::vector<ParamDescriptor> params;
    EffectRenderFn render = nullptr;

    const ParamDescriptor* findParam(FourCC c) const;
};

class ParameterSet {
public:
    struct Entry {
        FourCC code = 0;
        ParamType type = ParamType::Integer;
        bool tweened = false; // start and end differ in meaning (the parameter tweens)
        ParamValue start;
        ParamValue end;
        friend bool operator==(const Entry&, const Entry&) = default;
    };

    ParameterSet() = default;
    // Every parameter of the effect at its default.
    static ParameterSet defaults(const EffectDescriptor& d);

    // Sets a parameter to one value (start = end); the value is clamped to the range.
    // Returns false for a code the effect does not have.
    bool set(const EffectDescriptor& d, FourCC code, ParamValue v);
    // Sets start and end; false for an unknown code or a parameter that does not tween.
    bool setTween(const EffectDescriptor& d, FourCC code, ParamValue start, ParamValue end);

    const Entry* find(FourCC code) const;
    const std::vector<Entry>& entries() const { return m_entries; }

    // Values at progress p (0..1): numbers and points interpolate linearly, colours per
    // channel; integers and enums round; booleans and enums take the start value.
    ParamValue valueAt(FourCC code, double p) const;
    double number(FourCC code, double p) const { return valueAt(code, p).x; }
    int32_t integer(FourCC code, double p) const;
    bool boolean(FourCC code) const { return valueAt(code, 0).x != 0; }
    uint32_t colour(FourCC code, double p) const;

    friend bool operator==(const ParameterSet&, const ParameterSet&) = default;

private:
    std::vector<Entry> m_entries;
};

// The parameter values as (code, big-endian bytes) pairs, one per parameter, ready to be
// stored as atoms of an effect description. A value whose start and end differ holds its
// start then its end value; other values hold one value. Integer, Boolean, Enum: int32; Fixed,
// Angle: 16.16; Colour: red, green, blue as 16-bit; Point: x then y as 16.16.
using EncodedParameters = std::vector<std::pair<FourCC, std::vector<uint8_t>>>;
EncodedParameters encodeParameters(const ParameterSet& set);

// Reads values back for the effect. Parameters not given keep their defaults; codes the effect
// does not know are ignored (a description also carries other atoms). A value of the wrong
// length, a start/end pair for a parameter that does not tween, or a repeated code make the
// whole set invalid: nullopt. Values are clamped to their ranges.
std::optional<ParameterSet> decodeParameters(const EffectDescriptor& d,
                                             const EncodedParameters& encoded);

// One frame to render.
struct EffectFrame {
    double progress = 0; // 0..1 within the effect sample (clamped; NaN counts as 0)
    int64_t time = 0;    // the frame's time, for effects that animate or draw noise
    int32_t timeScale = 600;
    const Pixmap* srcA = nullptr;
    const Pixmap* srcB = nullptr;
    Pixmap* dst = nullptr; // the output; sources must have its size
};

// Renders the frame. Fails with MissingSource when the effect has more sources than given,
// BadArgument when there is no destination or a source's size differs from it, OutOfMemory
// when scratch memory cannot be had. A source may be the destination itself.
PixelStatus renderEffect(const EffectDescriptor& d, const ParameterSet& params,
                         const EffectFrame& frame);

// What an effect's render function receives; parameters are already evaluated at the
// progress through the helpers. Sources are never the destination.
struct EffectContext {
    const EffectDescriptor& desc;
    const ParameterSet& params;
    double p;
    int64_t time;
    int32_t timeScale;
    const Pixmap* a;
    const Pixmap* b;
    Pixmap& dst;

    double num(FourCC c) const { return params.number(c, p); }
    int32_t integer(FourCC c) const { return params.integer(c, p); }
    bool flag(FourCC c) const { return params.boolean(c); }
    uint32_t colour(FourCC c) const { return params.colour(c, p); }
    ParamValue point(FourCC c) const { return params.valueAt(c, p); }
    // The frame time in 1/600 s, for deterministic noise.
    int64_t ticks600() const;
    double seconds() const { return timeScale > 0 ? double(time) / timeScale : 0.0; }
};

} // namespace zef::movies
