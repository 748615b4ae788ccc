// The EXIF block a still carries: what the body was set to when the shutter
// was pressed, written into the JPEG as an APP1 segment with a thumbnail.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "vcam/Settings.h"

namespace vcam {

// What one still's EXIF says. Plain value type: take it under the camera's
// lock when the shutter is pressed, write it after rendering, lock-free.
struct StillExif {
  std::string model;                // written with Make "KAMORA"
  std::time_t taken = 0;            // DateTimeOriginal, in local time
  std::uint32_t iso = 100;          // the ISO the picture was taken at; 0: left out
  std::uint32_t fnumber = 560;      // x 100; 0: left out
  std::uint32_t shutter = 0x1007D;  // numerator << 16 | denominator; BULB (0): left out
  int ev = 0;                       // exposure bias, EV x 1000
  bool autoWhiteBalance = true;
};

// The fields for a still taken at `taken` with these settings. Under auto
// ISO it holds the ISO the body metered (snapped to the nearest ISO the body
// offers), as a camera reports it, never the auto marker.
StillExif stillExifFor(const Settings& settings, const std::string& model, std::time_t taken);

// Writes fields into the still: an APP1 EXIF segment right after the start
// of the picture (replacing any APP0/APP1 segment there), with the pixel
// size read from the picture itself and a thumbnail 160 px wide in the
// still's aspect. Returns false and leaves jpeg untouched when it is no JPEG
// or the block cannot be made. Thread-safe (no shared state).
bool addStillExif(std::vector<std::uint8_t>& jpeg, const StillExif& fields);

}  // namespace vcam
