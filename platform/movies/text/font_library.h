// The fonts of the movie toolbox's text media.
//
// FontLibrary numbers the scalable font families that fontconfig knows, from 0 to at most 511:
// number 0 is the default family ("DejaVu Sans" when installed, else the family that
// fontconfig gives for "sans-serif", else the first by name); the others follow sorted by name
// (byte order, each family once regardless of case). The numbering is stable for a given set
// of installed fonts. It resolves a family with bold and italic wishes to a font file and face
// index through fontconfig; where the family has no such face, the regular face is used and
// the resolution asks for synthetic emboldening or slanting. It also finds a face that covers
// a character the chosen font lacks.
//
// Loaded faces are cached: each font file and face index is read and opened once and shared.
// All member functions are thread-safe. Faces stay valid while a shared_ptr holds them, even
// after the library is gone.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zef::movies {

class FontFace; // a loaded face (text/font_face.h, used by the text code itself)

struct ResolvedFont {
    std::string family;           // the family of the face that was found
    std::string file;             // font file path
    int faceIndex = 0;            // face within the file
    bool syntheticBold = false;   // bold was asked for but the face is not bold
    bool syntheticItalic = false; // italic was asked for but the face is upright
    friend bool operator==(const ResolvedFont&, const ResolvedFont&) = default;
};

class FontLibrary {
public:
    static constexpr int kMaxFontNumber = 511;

    // Reads the system's font configuration. Throws std::runtime_error when fontconfig or
    // FreeType cannot be started.
    FontLibrary();
    ~FontLibrary();
    FontLibrary(const FontLibrary&) = delete;
    FontLibrary& operator=(const FontLibrary&) = delete;

    // Numbers 0 .. fontCount() − 1 name a family; fontCount() is 0 when no font is installed.
    int fontCount() const;
    // The family of a number; "" for a number without a family.
    std::string fontName(int number) const;
    // The number of a family (compared without regard to ASCII case); −1 when not listed.
    int fontNumber(std::string_view family) const;

    // The face to draw a family with; nullopt when fontconfig finds no scalable face at all.
    // An unknown number resolves as number 0.
    std::optional<ResolvedFont> resolve(int number, bool bold, bool italic) const;
    std::optional<ResolvedFont> resolve(std::string_view family, bool bold, bool italic) const;
    // A face that has a glyph for the character; nullopt when no installed font has one.
    std::optional<ResolvedFont> fallbackFor(char32_t ch, bool bold, bool italic) const;

    // The loaded face of a resolution (cached); nullptr when the file cannot be read or opened.
    std::shared_ptr<FontFace> load(const ResolvedFont& font);

    // How many faces have been opened (each file and index counts once).
    size_t loadedFaceCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

} // namespace zef::movies
