// The third-stop shutter speeds as bodies write them (1/125 then 1/100, 1/13
// rather than 1/12.7): the marked speeds, not exact powers of two.
#include "common/ShutterScale.h"

#include <iterator>

namespace shutter_scale {

namespace {

constexpr Speed kSpeeds[] = {
    {1, 8000}, {1, 6400}, {1, 5000}, {1, 4000}, {1, 3200}, {1, 2500}, {1, 2000}, {1, 1600},
    {1, 1250}, {1, 1000}, {1, 800},  {1, 640},  {1, 500},  {1, 400},  {1, 320},  {1, 250},
    {1, 200},  {1, 160},  {1, 125},  {1, 100},  {1, 80},   {1, 60},   {1, 50},   {1, 40},
    {1, 30},   {1, 25},   {1, 20},   {1, 15},   {1, 13},   {1, 10},   {1, 8},    {1, 6},
    {1, 5},    {1, 4},    {1, 3},    {4, 10},   {5, 10},   {6, 10},   {8, 10},   {1, 1},
    {13, 10},  {16, 10},  {2, 1},    {25, 10},  {32, 10},  {4, 1},    {5, 1},    {6, 1},
    {8, 1},    {10, 1},   {13, 1},   {15, 1},   {20, 1},   {25, 1},   {30, 1}};

}  // namespace

std::size_t size() { return std::size(kSpeeds); }

Speed at(std::size_t index) { return kSpeeds[index]; }

std::uint32_t raw(Speed speed) { return (std::uint32_t(speed.num) << 16) | speed.den; }

std::optional<std::size_t> indexOf(std::uint32_t raw) {
  const std::uint64_t num = raw >> 16, den = raw & 0xFFFF;
  if (num == 0 || den == 0) return std::nullopt;
  for (std::size_t i = 0; i < std::size(kSpeeds); ++i) {
    if (num * kSpeeds[i].den == std::uint64_t(kSpeeds[i].num) * den) return i;
  }
  return std::nullopt;
}

}  // namespace shutter_scale
