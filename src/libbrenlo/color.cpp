#include "brenlo/color.hpp"
#include "brenlo/string.hpp"

#include <cmath>

namespace brenlo::gfx {

namespace {
const RGBAColor s_red(255, 0, 0, 255);
const RGBAColor s_green(0, 255, 0, 255);
const RGBAColor s_blue(0, 0, 255, 255);
const RGBAColor s_cyan(0, 255, 255, 255);
const RGBAColor s_magenta(255, 0, 255, 255);
const RGBAColor s_yellow(255, 255, 0, 255);
const RGBAColor s_white(255, 255, 255, 255);

RGBAColor::Channel mix(double t, RGBAColor::Channel x, RGBAColor::Channel y) {
    double v = x * (1 - t) + y * t;
    // Converting NaN or a value beyond the integer range is undefined; give 0.
    if (!std::isfinite(v) || std::fabs(v) >= 9.2e18)
        return 0;
    return static_cast<RGBAColor::Channel>(static_cast<long long>(v) & 0xFF);
}
} // namespace

const RGBAColor& RGBAColor::RED = s_red;
const RGBAColor& RGBAColor::GREEN = s_green;
const RGBAColor& RGBAColor::BLUE = s_blue;
const RGBAColor& RGBAColor::CYAN = s_cyan;
const RGBAColor& RGBAColor::MAGENTA = s_magenta;
const RGBAColor& RGBAColor::YELLOW = s_yellow;
const RGBAColor& RGBAColor::WHITE = s_white;

RGBAColor::RGBAColor() {
    data.packed = 0;
}

RGBAColor::RGBAColor(Channel red, Channel green, Channel blue, Channel alpha) {
    data.names.r = red;
    data.names.g = green;
    data.names.b = blue;
    data.names.a = alpha;
}

RGBAColor RGBAColor::lerp(double t, RGBAColor x, RGBAColor y) {
    RGBAColor out;
    for (int k = 0; k < 4; ++k)
        out.data.array[k] = mix(t, x.data.array[k], y.data.array[k]);
    return out;
}

std::string RGBAColor::toHex6() const {
    return string::strprintf("#%02X%02X%02X", data.names.r, data.names.g, data.names.b);
}

} // namespace brenlo::gfx
