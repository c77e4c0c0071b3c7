// Four 8-bit channels with linear interpolation and a hexadecimal text form.
#pragma once

#include <cstdint>
#include <string>

namespace brenlo::gfx {

class RGBAColor {
public:
    typedef uint8_t Channel;

    static const RGBAColor& RED;
    static const RGBAColor& GREEN;
    static const RGBAColor& BLUE;
    static const RGBAColor& CYAN;
    static const RGBAColor& MAGENTA;
    static const RGBAColor& YELLOW;
    static const RGBAColor& WHITE;

    RGBAColor();
    RGBAColor(Channel red, Channel green, Channel blue, Channel alpha);

    /// From `x` at t = 0 to `y` at t = 1, each channel truncated toward zero.
    /// A channel that is not a finite number in range becomes 0.
    static RGBAColor lerp(double t, RGBAColor x, RGBAColor y);
    RGBAColor lerp(double t, RGBAColor other) const { return lerp(t, *this, other); }
    /// "#RRGGBB" in upper case; alpha is not written.
    std::string toHex6() const;

    Channel r() const { return data.names.r; }
    Channel g() const { return data.names.g; }
    Channel b() const { return data.names.b; }
    Channel a() const { return data.names.a; }
    bool operator==(const RGBAColor& o) const { return data.packed == o.data.packed; }
    bool operator!=(const RGBAColor& o) const { return !(*this == o); }

    union {
        struct {
            Channel r, g, b, a;
        } names;
        Channel array[4];
        uint32_t packed;
    } data;
};

} // namespace brenlo::gfx
