// Fuzzes the rig file's parser with arbitrary text: no crash; a refusal is
// one line that starts with the file's name and never repeats a password
// from the text; an accepted file has valid, unique ids (never `main`) and
// reads back the same from the text written for it.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "server/rig/RigFile.h"

namespace {

bool sameCameras(const std::vector<RigCamera>& a, const std::vector<RigCamera>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const CameraRequest& x = a[i].request;
    const CameraRequest& y = b[i].request;
    if (a[i].id != b[i].id || x.ip != y.ip || x.mac != y.mac || x.model != y.model ||
        x.ssh != y.ssh || x.user != y.user || x.pass != y.pass) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const RigFileRead read = parseRigFile(text, "rig.json");
  if (!read.error.empty()) {
    if (read.error.rfind("[error] rig.json: ", 0) != 0) std::abort();
    if (read.error.find('\n') != std::string::npos) std::abort();
    if (!read.cameras.empty()) std::abort();
    // A password the text holds is never in the line: the line stays the
    // same when the password is another of the same length (a line may
    // hold the same letters for other reasons: a field name, its own words).
    const std::size_t at = text.find("\"pass\":\"");
    const std::size_t end = at == std::string::npos ? at : text.find('"', at + 8);
    if (end != std::string::npos && end > at + 8) {
      std::string other = text;
      other.replace(at + 8, end - at - 8, std::string(end - at - 8, 'Q'));
      if (parseRigFile(other, "rig.json").error != read.error &&
          read.error.find(text.substr(at + 8, end - at - 8)) != std::string::npos) {
        std::abort();
      }
    }
    return 0;
  }
  for (std::size_t i = 0; i < read.cameras.size(); ++i) {
    const std::string& id = read.cameras[i].id;
    if (!Rig::validId(id) || id == CameraSlot::kMainId) std::abort();
    for (std::size_t j = 0; j < i; ++j) {
      if (read.cameras[j].id == id) std::abort();
    }
  }
  const RigFileRead again = parseRigFile(rigFileText(read.cameras), "rig.json");
  if (!again.error.empty() || !sameCameras(read.cameras, again.cameras)) std::abort();
  return 0;
}
