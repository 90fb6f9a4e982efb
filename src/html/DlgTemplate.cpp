#include "html/DlgTemplate.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace quorvin {
namespace {

std::int16_t Saturate(long long v) {
    return static_cast<std::int16_t>(
        std::clamp<long long>(v, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
}

}  // namespace

std::int16_t ToDialogUnitsX(int px) { return Saturate(static_cast<long long>(px) * 4 / kBaseUnitX); }

std::int16_t ToDialogUnitsY(int py) { return Saturate(static_cast<long long>(py) * 8 / kBaseUnitY); }

PixelRect TemplateToPixels(const DlgTemplate& t) {
    PixelRect r;
    r.x = t.x * kBaseUnitX / 4;
    r.y = t.y * kBaseUnitY / 8;
    r.width = t.cx * kBaseUnitX / 4;
    r.height = t.cy * kBaseUnitY / 8;
    return r;
}

}  // namespace quorvin
