// Text samples of the movie toolbox's text media: one piece of text with its single style, as
// a title track shows it, and the stored form that a text media keeps as sample data.
//
// Stored layout (every integer big-endian):
//   uint16   text length n in bytes
//   n bytes  the text, UTF-8; lines are separated by '\r' or '\n' ("\r\n" is one break)
//   then zero or more extension atoms, each: uint32 size (8 + payload size), FourCC type,
//   payload:
//     'styl'  uint16 run count (at least 1), then per run 20 bytes: uint32 first character,
//             int16 line height and int16 ascent (written 0, ignored when read), uint16 font
//             number, uint8 face bits, uint8 0, uint16 size, uint16 red, green, blue.
//             A sample has one style: only the first run is used.
//     'bclr'  uint16 red, green, blue: background colour
//     'just'  int16 justification
//     'tbox'  int16 top, left, bottom, right: the text box
//     'dflg'  uint32 display flags
//     'dlay'  uint32 scroll delay in media time units
//     'drpo'  int16 x, int16 y: drop-shadow offset in pixels
//     'drpt'  uint16 drop-shadow transparency, 0 to 255
// encodeTextSample writes every atom above in this order. On reading, atoms of other types are
// skipped (so later additions stay readable), a repeated atom replaces the earlier one, and a
// missing atom leaves the field at its default. A sample is malformed, and refused, when it is
// shorter than its text, when an atom's size is below 8 or runs past the end, when a known atom
// has the wrong payload size, or when a value is out of range (font above 511, size above 1000,
// an empty 'styl', a transparency above 255).
#pragma once

#include "platform/movies/fourcc.h"
#include "platform/movies/geometry.h"
#include "platform/movies/handle.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zef::movies {

// Face bits of a text style; the upper four bits are carried along unused.
struct TextFace {
    static constexpr uint8_t bold = 1;
    static constexpr uint8_t italic = 2;
    static constexpr uint8_t underline = 4;
    static constexpr uint8_t outline = 8;
};

// Text justification values.
struct TextJustify {
    static constexpr int16_t flushDefault = 0; // drawn as flushLeft
    static constexpr int16_t center = 1;
    static constexpr int16_t flushRight = -1;
    static constexpr int16_t flushLeft = -2;
};

// Display flags of text media. The renderer honours dontDisplay, clipToTextBox, scrollIn,
// scrollOut, horizScroll, reverseScroll, dropShadow, antiAlias and keyedText; the others are
// carried along and have no effect on the picture.
struct TextDisplayFlags {
    static constexpr uint32_t dontDisplay = 1;
    static constexpr uint32_t dontAutoScale = 2;
    static constexpr uint32_t clipToTextBox = 4;
    static constexpr uint32_t useMovieBGColor = 8;
    static constexpr uint32_t shrinkTextBoxToFit = 16;
    static constexpr uint32_t scrollIn = 32;
    static constexpr uint32_t scrollOut = 64;
    static constexpr uint32_t horizScroll = 128;
    static constexpr uint32_t reverseScroll = 256;
    static constexpr uint32_t continuousScroll = 512;
    static constexpr uint32_t flowHoriz = 1024;
    static constexpr uint32_t continuousKaraoke = 2048;
    static constexpr uint32_t dropShadow = 4096;
    static constexpr uint32_t antiAlias = 8192;
    static constexpr uint32_t keyedText = 16384;
    static constexpr uint32_t inverseHilite = 32768;
};

// A colour with 16-bit components (0 to 65535), as the toolbox holds colours.
struct TextColor {
    uint16_t red = 0;
    uint16_t green = 0;
    uint16_t blue = 0;
    friend bool operator==(const TextColor&, const TextColor&) = default;
};

struct TextSample {
    static constexpr int kMaxFontNumber = 511;
    static constexpr int kMaxSize = 1000;
    static constexpr int kDefaultSize = 12; // used when size is 0

    std::string text;             // UTF-8; at most 65535 bytes when stored
    uint16_t fontNumber = 0;      // 0..511, numbered by FontLibrary
    uint16_t size = kDefaultSize; // points, which are pixels at 72 dpi; 0..1000
    uint8_t face = 0;             // TextFace bits
    TextColor textColor{0, 0, 0};
    TextColor backColor{0xFFFF, 0xFFFF, 0xFFFF};
    int16_t justification = TextJustify::flushDefault;
    Rect textBox;              // empty: the whole picture
    uint32_t displayFlags = 0; // TextDisplayFlags bits
    uint32_t scrollDelay = 0;  // media time units the text holds still while scrolling
    // Text properties of the media handler.
    int16_t dropShadowOffsetX = 2; // pixels
    int16_t dropShadowOffsetY = 2;
    // How much of the shadow shows: 0 leaves no shadow, 255 is solid black.
    uint16_t dropShadowTransparency = 127;

    friend bool operator==(const TextSample&, const TextSample&) = default;
};

constexpr FourCC kTextStyleAtom = fourcc("styl");
constexpr FourCC kTextBackColorAtom = fourcc("bclr");
constexpr FourCC kTextJustificationAtom = fourcc("just");
constexpr FourCC kTextBoxAtom = fourcc("tbox");
constexpr FourCC kTextDisplayFlagsAtom = fourcc("dflg");
constexpr FourCC kTextScrollDelayAtom = fourcc("dlay");
constexpr FourCC kTextDropShadowOffsetAtom = fourcc("drpo");
constexpr FourCC kTextDropShadowTransparencyAtom = fourcc("drpt");

// The stored form. Throws std::invalid_argument when a field cannot be stored: text longer than
// 65535 bytes, font above 511, size above 1000, transparency above 255, a box coordinate
// outside the 16-bit range.
std::vector<uint8_t> encodeTextSample(const TextSample& sample);
Handle textSampleToHandle(const TextSample& sample);

// The sample read back; nullopt when the data is malformed (see the layout above).
std::optional<TextSample> decodeTextSample(std::span<const uint8_t> data);
std::optional<TextSample> textSampleFromHandle(const Handle& h);

// 16-bit colour component to 8 bits, rounded (65535 → 255).
constexpr uint8_t colorComponent8(uint16_t v) { return uint8_t((uint32_t(v) + 128) / 257); }

} // namespace zef::movies
