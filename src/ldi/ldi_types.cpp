#include "ldi/ldi_types.h"

namespace strata::ldi {

std::string_view ldiTypeName(std::int32_t value) {
    if (value < 0 || value >= static_cast<std::int32_t>(kLdiTypeNames.size())) {
        return kLdiTypeNames.back();
    }
    return kLdiTypeNames[static_cast<std::size_t>(value)];
}

std::string_view dptTypeName(std::int32_t value) {
    if (value < 0 || value >= static_cast<std::int32_t>(kDptTypeNames.size())) {
        return kDptTypeNames.back();
    }
    return kDptTypeNames[static_cast<std::size_t>(value)];
}

std::int32_t ldiTypeFromName(std::string_view name) {
    for (std::size_t i = 0; i < kLdiTypeNames.size(); ++i) {
        if (kLdiTypeNames[i] == name) {
            return static_cast<std::int32_t>(i);
        }
    }
    return toInt(LdiType::Error);
}

std::int32_t dptTypeFromName(std::string_view name) {
    for (std::size_t i = 0; i < kDptTypeNames.size(); ++i) {
        if (kDptTypeNames[i] == name) {
            return static_cast<std::int32_t>(i);
        }
    }
    return toInt(DptType::Error);
}

}  // namespace strata::ldi
