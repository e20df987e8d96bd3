// Helpers shared by the settings tests.
#pragma once

#include <gtest/gtest.h>

#include "core/settings/settings_file.h"

namespace pdt::testing {

inline void ExpectSameSettings(const DriverSettings& actual, const DriverSettings& expected) {
    for (const SettingKey& key : kSettingKeys) {
        EXPECT_EQ(actual.*key.field, expected.*key.field) << key.name;
    }
}

// Values far from the defaults, some outside the dialog's ranges.
inline DriverSettings DistinctSettings() {
    return {3, 19200, 4, 7, 2, -5, 2147483647, 0, 12};
}

}  // namespace pdt::testing
