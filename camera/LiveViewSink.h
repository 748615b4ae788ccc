// LiveViewSink: writes each live-view picture as its own numbered JPEG file
// (frame_00000.jpg, ...) into a directory. Thread-bound.
#pragma once

#include <cstdint>
#include <string>

class LiveViewSink {
 public:
  // Creates the directory tree if it is missing; a failure shows later as
  // failing pushes.
  explicit LiveViewSink(std::string directory);

  // Writes one picture; false when data is empty or the file could not be
  // written.
  bool push(const std::uint8_t* data, std::uint32_t length);
  std::uint32_t frameCount() const;

 private:
  std::string directory;
  std::uint32_t count = 0;
};
