// The in-memory dialog template: frame style and geometry in dialog units,
// computed from pixel values exactly as the agent's window always has.
#pragma once

#include <cstdint>

#include "html/PageHost.h"

namespace quorvin {

// Style bits of the template (the values the options are defined in; not
// the platform macros, so a Windows build can include its headers).
constexpr std::uint32_t kWsPopup = 0x80000000u;
constexpr std::uint32_t kWsVisible = 0x10000000u;
constexpr std::uint32_t kDsSetFont = 0x00000040u;
constexpr std::uint32_t kWsCaption = 0x00C00000u;
constexpr std::uint32_t kWsBorder = 0x00800000u;
constexpr std::uint32_t kWsDlgFrame = 0x00400000u;
constexpr std::uint32_t kWsSysMenu = 0x00080000u;
constexpr std::uint32_t kWsMinimizeBox = 0x00020000u;
constexpr std::uint32_t kWsMaximizeBox = 0x00010000u;

// Dialog base units: horizontal 8, vertical 16 (the vertical divisor is one
// larger, 17, as the template has always been computed).
constexpr int kBaseUnitX = 8;
constexpr int kBaseUnitY = 16 + 1;

struct DlgTemplate {
    std::uint32_t style = kWsPopup | kWsVisible | kDsSetFont;
    std::uint32_t dwExtendedStyle = 0;
    std::uint16_t cdit = 0;
    std::int16_t x = 0;
    std::int16_t y = 0;
    std::int16_t cx = 0;
    std::int16_t cy = 0;
};

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Pixels to dialog units (truncating toward zero); the result saturates at
// the 16-bit range instead of wrapping into a negative size.
std::int16_t ToDialogUnitsX(int px);
std::int16_t ToDialogUnitsY(int py);

// The template's rectangle back in pixels, with the same base units.
PixelRect TemplateToPixels(const DlgTemplate& t);

}  // namespace quorvin
