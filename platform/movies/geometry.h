// Rectangles and points in pixel coordinates.
#pragma once

#include <cstdint>

namespace zef::movies {

struct Point {
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

// A rectangle [left, right) × [top, bottom). Empty when right <= left or bottom <= top.
struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
    bool isEmpty() const { return right <= left || bottom <= top; }
    bool contains(int32_t x, int32_t y) const
    {
        return x >= left && x < right && y >= top && y < bottom;
    }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// The common part of a and b; an empty rectangle at 0 when they do not meet.
Rect intersect(const Rect& a, const Rect& b);
// The smallest rectangle holding both; an empty side is ignored.
Rect unite(const Rect& a, const Rect& b);

} // namespace zef::movies
