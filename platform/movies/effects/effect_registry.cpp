#include "platform/movies/effects/effect_registry.h"

#include "platform/movies/effects/effect_impl.h"

#include <algorithm>
#include <cctype>

namespace zef::movies {

namespace {

ParamDescriptor integerParam(FourCC code, const char* name, double min, double max, double def,
                             bool tweens = true)
{
    return ParamDescriptor{code, name, ParamType::Integer, min, max, {def, 0}, tweens, {}};
}
ParamDescriptor fixedParam(FourCC code, const char* name, double min, double max, double def,
                           bool tweens = true)
{
    return ParamDescriptor{code, name, ParamType::Fixed, min, max, {def, 0}, tweens, {}};
}
ParamDescriptor angleParam(FourCC code, const char* name, double min, double max, double def,
                           bool tweens = true)
{
    return ParamDescriptor{code, name, ParamType::Angle, min, max, {def, 0}, tweens, {}};
}
ParamDescriptor boolParam(FourCC code, const char* name, bool def)
{
    return ParamDescriptor{code, name, ParamType::Boolean, 0, 1, {def ? 1.0 : 0.0, 0}, false, {}};
}
ParamDescriptor colourParam(FourCC code, const char* name, uint32_t rgb, bool tweens = true)
{
    return ParamDescriptor{code,   name, ParamType::Colour, 0, 0, {double(0xFF000000u | rgb), 0},
                           tweens, {}};
}
ParamDescriptor enumParam(FourCC code, const char* name, std::vector<std::string> choices,
                          int def = 0)
{
    return ParamDescriptor{code,
                           name,
                           ParamType::Enum,
                           0,
                           double(choices.size() - 1),
                           {double(def), 0},
                           false,
                           std::move(choices)};
}
ParamDescriptor pointParam(FourCC code, const char* name, double x, double y, bool tweens = true)
{
    return ParamDescriptor{code, name, ParamType::Point, 0, 1, {x, y}, tweens, {}};
}

EffectDescriptor effect(const char (&code)[5], const char* name, int32_t sources, EffectRenderFn fn,
                        std::vector<ParamDescriptor> params)
{
    EffectDescriptor d;
    d.code = fourcc(code);
    d.name = name;
    d.sources = sources;
    d.render = fn;
    d.params = std::move(params);
    return d;
}

std::vector<ParamDescriptor> edgeParams()
{
    return {integerParam(fourcc("bwid"), "Border Width", 0, 100, 0),
            colourParam(fourcc("bcol"), "Border Colour", 0x000000),
            integerParam(fourcc("soft"), "Soft Edge", 0, 100, 0)};
}

std::vector<ParamDescriptor> withEdges(std::vector<ParamDescriptor> p)
{
    auto e = edgeParams();
    p.insert(p.end(), e.begin(), e.end());
    return p;
}

std::vector<EffectDescriptor> builtInDescriptors()
{
    using namespace fx;
    const auto seed = integerParam(fourcc("seed"), "Seed", 0, 65535, 1, false);
    const auto centre = pointParam(fourcc("cent"), "Centre", 0.5, 0.5);
    const std::vector<std::string> directions = {"From Left", "From Right", "From Top",
                                                 "From Bottom"};
    std::vector<EffectDescriptor> v;

    // Two sources.
    v.push_back(effect("dslv", "Cross Fade", 2, crossFade, {}));
    v.push_back(effect(
        "smpt", "Wipe", 2, wipe,
        withEdges({enumParam(fourcc("wpty"), "Wipe Type",
                             {"Left to Right", "Right to Left", "Top Down", "Bottom Up",
                              "Top-Left Diagonal", "Top-Right Diagonal", "Bottom-Left Diagonal",
                              "Bottom-Right Diagonal", "Barn Doors Vertical",
                              "Barn Doors Horizontal", "Box Out", "Box In", "Clock"})})));
    v.push_back(
        effect("smp2", "Iris", 2, iris,
               withEdges({enumParam(fourcc("shap"), "Shape", {"Circle", "Rectangle", "Diamond"}),
                          centre, boolParam(fourcc("revs"), "Reverse", false)})));
    v.push_back(
        effect("smp3", "Radial", 2, radial,
               withEdges({enumParam(fourcc("rdty"), "Sweep",
                                    {"Clockwise", "Counter-clockwise", "Fan", "Double Clock"}),
                          angleParam(fourcc("angl"), "Start Angle", -180, 180, 0), centre})));
    v.push_back(
        effect("smp4", "Matrix Wipe", 2, matrixWipe,
               {integerParam(fourcc("cols"), "Columns", 1, 64, 8, false),
                integerParam(fourcc("rows"), "Rows", 1, 64, 6, false),
                enumParam(fourcc("ordr"), "Order",
                          {"Row by Row", "Column by Column", "Serpentine", "Spiral", "Random"}),
                seed}));
    v.push_back(
        effect("push", "Push", 2, push, {enumParam(fourcc("from"), "Direction", directions)}));
    v.push_back(effect("slid", "Slide", 2, slide,
                       {enumParam(fourcc("from"), "Direction", directions),
                        boolParam(fourcc("revl"), "Slide Out", false)}));
    v.push_back(effect("zoom", "Zoom", 2, zoom, {centre}));
    v.push_back(effect("xplo", "Explode", 2, explode,
                       {centre, integerParam(fourcc("cols"), "Pieces Across", 1, 64, 8, false),
                        integerParam(fourcc("rows"), "Pieces Down", 1, 64, 6, false)}));
    v.push_back(effect("mplo", "Implode", 2, implode, {centre}));
    v.push_back(effect("matt", "Gradient Wipe", 2, gradientWipe,
                       {enumParam(fourcc("grad"), "Gradient",
                                  {"Horizontal", "Vertical", "Diagonal", "Radial", "Luminance of A",
                                   "Luminance of B"}),
                        fixedParam(fourcc("soft"), "Softness", 0, 1, 0.1),
                        boolParam(fourcc("invt"), "Invert", false)}));
    v.push_back(effect("ckey", "Chroma Key", 2, chromaKey,
                       {colourParam(fourcc("kcol"), "Key Colour", 0x0000FF),
                        integerParam(fourcc("tolr"), "Tolerance", 0, 442, 40),
                        integerParam(fourcc("soft"), "Softness", 0, 442, 10)}));
    v.push_back(effect(
        "blnd", "Alpha Compositor", 2, alphaCompositor,
        {enumParam(fourcc("mode"), "Alpha Type",
                   {"Straight Alpha", "Pre-multiplied White Alpha", "Pre-multiplied Black Alpha"}),
         fixedParam(fourcc("opac"), "Opacity", 0, 1, 1)}));

    // One source.
    v.push_back(effect("gain", "Alpha Gain", 1, alphaGain,
                       {fixedParam(fourcc("gain"), "Gain", 0, 8, 1),
                        integerParam(fourcc("offs"), "Offset", -255, 255, 0)}));
    v.push_back(effect("blur", "Blur", 1, blur, {fixedParam(fourcc("radi"), "Radius", 0, 100, 2)}));
    v.push_back(
        effect("shrp", "Sharpen", 1, sharpen, {fixedParam(fourcc("amnt"), "Amount", 0, 4, 1)}));
    v.push_back(effect("brco", "Brightness and Contrast", 1, brightnessContrast,
                       {integerParam(fourcc("brit"), "Brightness", -100, 100, 0),
                        integerParam(fourcc("cont"), "Contrast", -100, 100, 0)}));
    v.push_back(effect("tint", "Colour Tint", 1, colourTint,
                       {colourParam(fourcc("tcol"), "Tint Colour", 0x9C7A54),
                        fixedParam(fourcc("amnt"), "Amount", 0, 1, 1)}));
    v.push_back(effect(
        "csty", "Colour Style", 1, colourStyle,
        {enumParam(fourcc("styl"), "Style", {"Solarize", "Posterize", "Solarize and Posterize"}),
         integerParam(fourcc("thrs"), "Solarize Threshold", 0, 255, 128),
         integerParam(fourcc("levl"), "Posterize Levels", 2, 32, 4)}));
    v.push_back(effect("edge", "Edge Detection", 1, edgeDetection,
                       {fixedParam(fourcc("strn"), "Strength", 0, 8, 1),
                        boolParam(fourcc("colr"), "Colour Edges", false),
                        boolParam(fourcc("invt"), "Invert", false)}));
    v.push_back(effect("embs", "Emboss", 1, emboss,
                       {angleParam(fourcc("angl"), "Light Angle", -180, 180, 135),
                        fixedParam(fourcc("strn"), "Strength", 0, 8, 1)}));
    v.push_back(effect("fmns", "Film Noise", 1, filmNoise,
                       {seed, fixedParam(fourcc("dust"), "Dust", 0, 100, 20),
                        fixedParam(fourcc("hair"), "Hairs", 0, 100, 10),
                        fixedParam(fourcc("grai"), "Grain", 0, 100, 20),
                        fixedParam(fourcc("fade"), "Fade", 0, 100, 20)}));
    v.push_back(effect("hslb", "HSL Balance", 1, hslBalance,
                       {angleParam(fourcc("hue "), "Hue", -180, 180, 0),
                        integerParam(fourcc("satu"), "Saturation", -100, 100, 0),
                        integerParam(fourcc("lite"), "Lightness", -100, 100, 0)}));
    v.push_back(effect("rgbb", "RGB Balance", 1, rgbBalance,
                       {fixedParam(fourcc("redg"), "Red", 0, 4, 1),
                        fixedParam(fourcc("grng"), "Green", 0, 4, 1),
                        fixedParam(fourcc("blug"), "Blue", 0, 4, 1)}));
    {
        std::vector<ParamDescriptor> k;
        const char* names[9] = {"Top Left", "Top",         "Top Right", "Left",        "Centre",
                                "Right",    "Bottom Left", "Bottom",    "Bottom Right"};
        for (int i = 0; i < 9; ++i) {
            FourCC code = fourcc("kn11") + FourCC(((i / 3) << 8) | (i % 3));
            k.push_back(integerParam(code, names[i], -256, 256, i == 4 ? 1 : 0, false));
        }
        k.push_back(integerParam(fourcc("divs"), "Divisor", -1024, 1024, 1, false));
        k.push_back(integerParam(fourcc("bias"), "Bias", -255, 255, 0, false));
        v.push_back(effect("conv", "General Convolution", 1, convolution, std::move(k)));
    }
    v.push_back(effect("lens", "Lens Flare", 1, lensFlare,
                       {pointParam(fourcc("posn"), "Position", 0.3, 0.3),
                        fixedParam(fourcc("brit"), "Brightness", 0, 2, 1),
                        colourParam(fourcc("fcol"), "Colour", 0xFFF0DC)}));

    // No source.
    v.push_back(effect("clou", "Cloud", 0, cloud,
                       {seed, integerParam(fourcc("scal"), "Scale", 4, 1024, 128),
                        integerParam(fourcc("detl"), "Detail", 1, 8, 5, false),
                        fixedParam(fourcc("covr"), "Coverage", 0, 1, 0.5),
                        colourParam(fourcc("skyc"), "Sky Colour", 0x3A6EC8),
                        colourParam(fourcc("cldc"), "Cloud Colour", 0xFFFFFF),
                        fixedParam(fourcc("sped"), "Drift Speed", 0, 1000, 20)}));
    v.push_back(effect("fire", "Fire", 0, fire,
                       {seed, fixedParam(fourcc("heig"), "Height", 0, 1, 0.6),
                        fixedParam(fourcc("ints"), "Intensity", 0, 2, 1),
                        fixedParam(fourcc("sped"), "Speed", 0, 10, 1),
                        integerParam(fourcc("scal"), "Scale", 4, 512, 48)}));
    v.push_back(effect("ripl", "Ripple", 0, ripple,
                       {enumParam(fourcc("bkgd"), "Background", {"Solid", "Gradient"}, 1),
                        colourParam(fourcc("col1"), "Colour 1", 0x1E5AA0),
                        colourParam(fourcc("col2"), "Colour 2", 0x9CD2F0), centre,
                        integerParam(fourcc("wave"), "Wavelength", 2, 1000, 24),
                        fixedParam(fourcc("ampl"), "Amplitude", 0, 1, 0.5),
                        fixedParam(fourcc("sped"), "Speed", 0, 10, 1)}));
    v.push_back(effect("solc", "Solid Colour", 0, solidColour,
                       {colourParam(fourcc("colr"), "Colour", 0x000000)}));
    return v;
}

bool validParams(const EffectDescriptor& d)
{
    for (size_t i = 0; i < d.params.size(); ++i) {
        const ParamDescriptor& p = d.params[i];
        for (size_t j = 0; j < i; ++j)
            if (d.params[j].code == p.code) return false;
        if (p.type == ParamType::Enum && p.choices.empty()) return false;
        bool ranged = p.type == ParamType::Integer || p.type == ParamType::Fixed ||
                      p.type == ParamType::Angle || p.type == ParamType::Point;
        if (ranged) {
            if (!(p.min <= p.max)) return false;
            if (p.defaultValue.x < p.min || p.defaultValue.x > p.max) return false;
            if (p.type == ParamType::Point &&
                (p.defaultValue.y < p.min || p.defaultValue.y > p.max))
                return false;
        }
        if (p.type == ParamType::Enum && p.defaultValue.x >= double(p.choices.size())) return false;
    }
    return true;
}

std::string lower(const std::string& s)
{
    std::string r = s;
    for (char& c : r)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

} // namespace

EffectRegistry EffectRegistry::withBuiltIns()
{
    EffectRegistry r;
    for (auto& d : builtInDescriptors())
        r.add(std::move(d));
    return r;
}

bool EffectRegistry::add(EffectDescriptor d)
{
    if (!d.render || d.sources < 0 || d.sources > 2 || !validParams(d)) return false;
    if (find(d.code, d.manufacturer)) return false;
    m_effects.push_back(std::make_shared<const EffectDescriptor>(std::move(d)));
    return true;
}

const EffectDescriptor* EffectRegistry::find(FourCC code, FourCC manufacturer) const
{
    for (const auto& e : m_effects)
        if (e->code == code && (manufacturer == 0 || e->manufacturer == manufacturer))
            return e.get();
    return nullptr;
}

const EffectDescriptor* EffectRegistry::findByName(const std::string& name) const
{
    std::string n = lower(name);
    for (const auto& e : m_effects)
        if (lower(e->name) == n) return e.get();
    return nullptr;
}

std::vector<const EffectDescriptor*> EffectRegistry::list(int32_t sources) const
{
    std::vector<const EffectDescriptor*> out;
    for (const auto& e : m_effects)
        if (e->sources == sources) out.push_back(e.get());
    return out;
}

const EffectRegistry& builtInEffects()
{
    static const EffectRegistry registry = EffectRegistry::withBuiltIns();
    return registry;
}

} // namespace zef::movies
