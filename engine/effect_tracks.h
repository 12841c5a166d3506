// The records written for effects, transitions and modifiers: effect samples, input maps,
// tween samples, the layout of a transition between two overlapping clips of one layer, and
// the graphics modes offered for clips on layers B and C.
#pragma once

#include "model/item.h"
#include "platform/movies/components.h"
#include "platform/movies/effects/effect_registry.h"
#include "platform/movies/movie.h"

#include <array>
#include <cstdint>
#include <optional>

namespace zef {

class TrackRecord;

// Layer numbers of the tracks the builder makes (lower numbers are drawn in front).
constexpr int16_t kTitleLayer = -20;
constexpr int16_t kTransitionTailLayer = -2;
constexpr int16_t kBlackLayer = 998;
constexpr int16_t kCheckerboardLayer = 999;
constexpr int16_t kPlaceholderLayer = 1000;
// The layer of the clip tracks of layer A, B or C.
int16_t clipLayer(int32_t track);

// What building into one movie needs to know.
struct BuildContext {
    movies::Movie* movie = nullptr;
    bool preview = false;
    int32_t width = 320, height = 240; // the output frame
    const movies::EffectRegistry* registry = nullptr;
    movies::ComponentManager* components = nullptr; // image decompressors of other effects
    bool transitionsAsCrossFades = false;           // applies to the preview movie only
    std::array<movies::Track*, 3> motion{};         // the layers' motion tween tracks
};

// Whether an effect type can be drawn: a registered effect or an image decompressor.
bool effectImplemented(const BuildContext& ctx, movies::OSType type, movies::OSType manufacturer);

// Appends one effect sample lasting duration to the track's media and inserts it into the
// track at trackStart. With a description that is used unchanged; with a number of sources a
// default description ('srcA', 'srcB') is made. cantOpenHandler when nothing implements the
// effect; otherwise the first toolbox error met.
movies::OSErr appendEffectSample(const BuildContext& ctx, movies::Track& track, movies::OSType type,
                                 movies::OSType manufacturer, const movies::Handle& description,
                                 movies::TimeValue trackStart, movies::TimeValue duration);
movies::OSErr appendEffectSample(const BuildContext& ctx, movies::Track& track, movies::OSType type,
                                 movies::OSType manufacturer, int32_t sources,
                                 movies::TimeValue trackStart, movies::TimeValue duration);

// Feeds source to the effect track as the image source sourceName ('srcA', 'srcB'). Throws
// ZEFException "Cannot create atom container for effect track" when the track's input map
// cannot be read (or it has no media), "Cannot add track reference to input map" when the
// input cannot be added.
void addImageInput(movies::Track& effect, const movies::Track& source, movies::FourCC sourceName);
// Makes modifier a modifier (matrix 1, clip 2, volume 3) of track; fails as addImageInput.
void attachModifier(movies::Track& track, const movies::Track& modifier, uint32_t modifierType);

// A keyframe matrix (translation in thousandths of the frame) with its translation converted
// to pixels of a width × height frame: (value × size + 500) / 1000 in 64-bit arithmetic.
movies::MatrixRecord pixelMatrix(const movies::MatrixRecord& m, int32_t width, int32_t height);

// Appends a motion sample from start to end (start when end is missing); matrices as keyframes
// keep them (translations in thousandths), converted here.
movies::OSErr addMatrixTween(movies::Media& media, const movies::MatrixRecord& start,
                             const std::optional<movies::MatrixRecord>& end,
                             movies::TimeValue duration, int32_t width, int32_t height);
// Appends a crop sample: crop is left, top, right, bottom as 16.16 fractions of the frame.
movies::OSErr addRegionTween(movies::Media& media, const std::array<movies::Fixed, 4>& crop,
                             movies::TimeValue duration, int32_t width, int32_t height);
// The crop rectangle in pixels of a width × height frame.
movies::Rect cropPixels(const std::array<movies::Fixed, 4>& crop, int32_t width, int32_t height);
// Appends the fade samples: 0 → 1 over fadeIn, 1 → 1 over body, 1 → 0 over fadeOut; a part
// of length 0 (or less) is left out.
movies::OSErr addFadeTweens(movies::Media& media, movies::TimeValue fadeIn, movies::TimeValue body,
                            movies::TimeValue fadeOut);

// A new track of the output size with a new media of that type (time scale 600). Throws
// ZEFException "Cannot create video track inside temporary movie file" when the media cannot
// be made (the track is disposed first).
movies::Track* newBuilderTrack(const BuildContext& ctx, movies::OSType mediaType, int16_t layer);

// Appends one 1×1 32-bit uncompressed ('raw ') sample of the colour (alpha 255) and inserts it
// into the track at trackStart for duration.
movies::OSErr appendColourSample(movies::Track& track, uint8_t red, uint8_t green, uint8_t blue,
                                 movies::TimeValue trackStart, movies::TimeValue duration);
// The image description of 32-bit 'raw ' pictures of that size.
movies::ImageDescription rawImageDescription(int16_t width, int16_t height);

// Whether an item's clip is read through the media graph rather than the movie toolbox.
bool readThroughMediaGraph(const ZEFItem& item);

// The effect types a transition always uses as they are, in the preview too.
bool isPreviewableTransition(movies::OSType type);

// Lays out the transition between incoming's previous item (whose last track is outgoingLast)
// and incoming (whose last track is incomingLast). record: incoming's built-track record in
// the preview movie, null for the render movie. Returns whether a transition was built.
bool buildTransition(const BuildContext& ctx, ZEFItem& incoming, movies::Track& outgoingLast,
                     movies::Track& incomingLast, TrackRecord* record);

// The graphics modes offered for clips on layers B and C.
struct GraphicsModeEntry {
    int32_t mode;
    char name[256];
    int32_t usesColour;
};
extern const std::array<GraphicsModeEntry, 12> kGraphicsModeTable;
// The row of a stored mode, or -1.
int32_t graphicsModeRow(int32_t mode);

// An 8-bit colour channel widened to the toolbox's 16-bit channel (0xFF → 0xFFFF).
constexpr uint16_t widenChannel(uint8_t c) { return uint16_t(c * 257); }
// A packed item colour (byte 0 red, byte 1 green, byte 2 blue) as a toolbox colour.
movies::RGBColor itemColour(uint32_t packed);

} // namespace zef
