// Saving downloaded pictures: <prefix>_<number>.JPG, never overwriting.
#pragma once

#include <string>

namespace standin {

// Writes bytes under a temporary name in folder and moves it into place as
// prefix_NNNNN.JPG, one above the highest number of that prefix there, so
// no existing file is replaced and no partial file carries a final name.
// path receives the final path. False when the folder is not writable.
bool savePicture(const std::string& folder, const std::string& prefix, const std::string& bytes,
                 std::string& path);
// The number the next picture of prefix in folder would get.
unsigned long nextPictureNumber(const std::string& folder, const std::string& prefix);

}  // namespace standin
