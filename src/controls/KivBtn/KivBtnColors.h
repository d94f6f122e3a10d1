#pragma once

#include <QColor>

#include <cstdint>

namespace kiv::controls {

// 0x00BBGGRR, or a system colour reference: high bit set, low byte the system colour index.
using ColorValue = std::uint32_t;

constexpr ColorValue kSystemColorFlag = 0x80000000u;
constexpr int kSysColorButtonFace = 15;
constexpr int kSysColorButtonText = 18;

// Resolves a system colour reference to plain RGB against the application palette; plain values pass.
ColorValue TranslateColor(ColorValue value);

QColor ToQColor(ColorValue value);
ColorValue FromQColor(const QColor& color);

// Adds delta to each channel, clamped to 0..255.
ColorValue ShiftColor(ColorValue value, int delta);

}  // namespace kiv::controls
