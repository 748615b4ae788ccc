// Kamora: the process-wide lifetime of the camera SDK, its version line and
// camera discovery. Thread-bound: used from the start-up thread only.
#pragma once

#include <cstdint>

class Kamora {
 public:
  Kamora();   // initialises the SDK; prints an error line when that fails
  ~Kamora();  // releases the SDK if it was initialised
  Kamora(const Kamora&) = delete;
  Kamora& operator=(const Kamora&) = delete;

  bool ok() const;
  void printVersion() const;
  // Lists the cameras found; returns their number, -1 when the SDK is not
  // initialised.
  std::int32_t enumerate() const;

 private:
  bool initialized = false;
};
