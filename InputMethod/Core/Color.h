#pragma once
#include <string>
#include <vector>

namespace taviro {

// A colour as its components: red, green, blue and alpha, or grey and alpha.
// Components run from 0 to 1.
class Color {
public:
    Color() = default;
    explicit Color(std::vector<double> components) : components_(std::move(components)) {}

    static Color rgb(double red, double green, double blue, double alpha = 1.0) {
        return Color({red, green, blue, alpha});
    }
    static Color grey(double white, double alpha = 1.0) { return Color({white, alpha}); }
    static Color black() { return grey(0.0); }
    static Color white() { return grey(1.0); }

    const std::vector<double>& components() const { return components_; }

    // Red, green and blue as six upper-case hexadecimal digits ("FF8000"),
    // each channel the component times 255, truncated and held to 0...255.
    // A colour of fewer than four components uses its first for all three;
    // a colour without components gives "".
    std::string hexString() const;

    bool operator==(const Color&) const = default;

private:
    std::vector<double> components_;
};

} // namespace taviro
