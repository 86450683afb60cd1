#pragma once

namespace taviro {

// Points, y up: a window's origin is its lower left corner, the screen's
// origin the lower left of the primary screen. Only the renderer turns
// these into a toolkit's y-down pixels.
struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    Point origin;
    Size size;

    double minX() const { return origin.x; }
    double minY() const { return origin.y; }
    double maxX() const { return origin.x + size.width; }
    double maxY() const { return origin.y + size.height; }
    // Half-open on the far edges, as a screen contains a point.
    bool contains(Point p) const { return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY(); }
    bool operator==(const Rect&) const = default;
};

} // namespace taviro
