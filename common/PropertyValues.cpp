// The names of the property values, one table per property.
#include "common/PropertyValues.h"

namespace {

namespace program = exposure_program;
namespace focus = focus_mode;
namespace wb = white_balance;

const NamedValue kProgramRows[] = {
    {program::kM, "M"}, {program::kP, "P"},       {program::kA, "A"},
    {program::kS, "S"}, {program::kAuto, "Auto"}, {program::kAutoPlus, "Auto+"},
};

const NamedValue kFocusRows[] = {
    {focus::kMF, "MF"},    {focus::kAFS, "AF-S"}, {focus::kAFC, "AF-C"}, {focus::kAFA, "AF-A"},
    {focus::kAFD, "AF-D"}, {focus::kDMF, "DMF"},  {focus::kPF, "PF"},
};

const NamedValue kWhiteBalanceRows[] = {
    {wb::kAuto, "Auto"},     {wb::kDaylight, "Daylight"}, {wb::kShade, "Shade"},
    {wb::kCloudy, "Cloudy"}, {wb::kTungsten, "Tungsten"}, {wb::kKelvin, "Kelvin"},
};

}  // namespace

const char* ValueNames::nameOf(std::uint64_t value) const {
  for (std::size_t i = 0; i < count_; ++i) {
    if (rows_[i].value == value) return rows_[i].name;
  }
  return nullptr;
}

const ValueNames kExposurePrograms(kProgramRows);
const ValueNames kFocusModes(kFocusRows);
const ValueNames kWhiteBalances(kWhiteBalanceRows);
