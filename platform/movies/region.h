// Regions made of rectangles: the clip regions of movies and tracks.
//
// A region is a set of pixels, held as disjoint rectangles in a canonical banded form: bands of
// equal top and bottom, sorted from top to bottom, each with sorted non-touching spans from
// left to right, and vertically adjacent bands with equal spans merged. Because the form is
// canonical, two regions covering the same pixels compare equal. Values; not thread-safe.
#pragma once

#include "platform/movies/geometry.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zef::movies {

class Region {
public:
    Region() = default;             // empty
    explicit Region(const Rect& r); // the rectangle (empty when r is empty)

    bool isEmpty() const { return m_rects.empty(); }
    bool isRectangular() const { return m_rects.size() == 1; }
    // The smallest rectangle holding the region; an empty rectangle when the region is empty.
    Rect bounds() const;
    bool contains(int32_t x, int32_t y) const;
    bool contains(const Rect& r) const; // every pixel of a non-empty r is in the region
    // The disjoint rectangles of the canonical form, top band first, left to right.
    const std::vector<Rect>& rects() const { return m_rects; }
    // Number of pixels covered (64-bit).
    int64_t area() const;

    Region united(const Region& other) const;
    Region intersected(const Region& other) const;
    Region subtracted(const Region& other) const;
    Region intersected(const Rect& r) const { return intersected(Region(r)); }
    void offset(int32_t dx, int32_t dy);

    friend bool operator==(const Region&, const Region&) = default;

private:
    enum class Op { Union, Intersect, Subtract };
    static Region combine(const Region& a, const Region& b, Op op);

    std::vector<Rect> m_rects;
};

// The packed region record stored in tween samples: 16-bit big-endian size (10), then top,
// left, bottom and right. Only rectangular regions have this 10-byte form.
std::vector<uint8_t> packRectRegion(const Rect& r);
// Reads a packed rectangular region; none for any other size or a short block.
std::optional<Region> unpackRectRegion(std::span<const uint8_t> bytes);

} // namespace zef::movies
