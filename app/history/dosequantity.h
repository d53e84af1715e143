#pragma once

#include <QtGlobal>

#include <optional>

// What a measured value is a value of. Gamma dose rate, beta flux and count rate are different
// quantities with units of their own, so they are never drawn or summed together.
enum class DoseQuantity { DoseRate, BetaFlux, CountRate };
inline constexpr int DoseQuantityCount = 3;

// The quantity an event's value measures, by its event type; nothing for events without a
// value of their own (switching on or off, calibration, a cleared dose, ...).
constexpr std::optional<DoseQuantity> quantityOfType(qint32 type)
{
    switch (type) {
    case 3:
        return DoseQuantity::DoseRate;
    case 5:
        return DoseQuantity::BetaFlux;
    case 4:
    case 6:
    case 7:
    case 8:
        return DoseQuantity::CountRate;
    default:
        return std::nullopt;
    }
}
