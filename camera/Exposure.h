// Exposure: a set of optional exposure values (from the command line or an
// HTTP request), the shutter-speed text grammar both share, and sending
// such a set to a camera.
#pragma once

#include <cstdint>
#include <optional>

struct Exposure {
  bool hasIso = false;
  std::uint32_t iso = 0;
  bool hasFNumber = false;
  double fNumber = 0.0;
  bool hasShutter = false;
  std::uint16_t shutterNum = 0;
  std::uint16_t shutterDen = 1;
  bool hasEv = false;
  double ev = 0.0;

  Exposure() = default;
};

// Reads "1/250" or "2" into a numerator and denominator (each cut to 16
// bits). Never fails: text without digits reads as 0.
void parseShutter(const char* text, std::uint16_t& numerator, std::uint16_t& denominator);

class CameraController;

// Sends the values that are present in a fixed order (ISO cut to its low 24
// bits, f-number, shutter, EV). Each setter prints its own refusal; a refused
// value never stops the later ones. Returns what the camera took: the same
// values, each flag left set only where the camera accepted it.
Exposure applyExposure(CameraController& controller, const Exposure& exposure);

// The raw settings that decide how an exposure is moved, as the camera
// reports them (each absent when it does not): exposure program, shutter
// (numerator << 16 | denominator) and compensation in thousandths of an EV.
struct ExposureNow {
  std::optional<std::uint32_t> mode;
  std::optional<std::uint32_t> shutter;
  std::optional<int> evMilli;
};
