// The shutter speeds a body offers, 1/8000 s to 30 s in third stops: the one
// table the virtual camera checks settings against and the sequencer moves a
// bracket's shutter along. Immutable: safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace shutter_scale {

struct Speed {
  std::uint16_t num, den;
};

// Index 0 is the shortest (1/8000), each next one a third of a stop longer.
std::size_t size();
Speed at(std::size_t index);
// The raw value the SDK carries: numerator << 16 | denominator.
std::uint32_t raw(Speed speed);
// The position of a raw value on the scale; equal fractions name the same
// speed (5/10 is 1/2). None for BULB, zero parts or a speed off the scale.
std::optional<std::size_t> indexOf(std::uint32_t raw);

}  // namespace shutter_scale
