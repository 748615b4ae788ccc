// Reading the rig file strictly, and writing it so that a crash leaves the
// old file or the new one, never half of one.
#include "server/rig/RigFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/CameraModels.h"

namespace {

using Json = nlohmann::json;

const char* const kCameraFields[] = {"id", "ip", "mac", "model", "ssh", "user", "pass"};

std::string inQuotes(const std::string& text) { return "\"" + text + "\""; }

// A field name the user wrote, as a line may repeat it: short printable
// text, quoted; anything else is "?" (a line must stay one line).
std::string shown(const std::string& key) {
  bool plain = !key.empty() && key.size() <= 32;
  for (char c : key) plain = plain && c > ' ' && c < 0x7F && c != '"' && c != '\\';
  return plain ? inQuotes(key) : "?";
}

// Where a byte of the text is, as editors count: "linha 3, coluna 7".
std::string lineAndColumn(const std::string& text, std::size_t byte) {
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i < byte && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "linha " + std::to_string(line) + ", coluna " + std::to_string(column);
}

// Reads one camera's entry; the reason it cannot (without the place), or "".
class EntryReader {
 public:
  EntryReader(const Json& entry, RigCamera& camera) : entry_(entry), camera_(camera) {}

  std::string read() {
    if (!entry_.is_object()) return "nao e um objeto";
    // The id first, so that every later fault can name the camera.
    std::string why;
    if (!text("id", true, camera_.id, why)) return why;
    for (auto it = entry_.begin(); it != entry_.end(); ++it) {
      bool known = false;
      for (const char* field : kCameraFields) known = known || it.key() == field;
      if (!known) return "campo " + shown(it.key()) + " desconhecido";
    }
    if (!Rig::validId(camera_.id)) return "campo \"id\" invalido";
    if (camera_.id == CameraSlot::kMainId) return "campo \"id\" reservado";
    CameraRequest& r = camera_.request;
    if (!text("ip", true, r.ip, why) || !text("mac", true, r.mac, why)) return why;
    if (!CameraController::addressValid(r.ip, "00:00:00:00:00:00")) return "campo \"ip\" invalido";
    if (!CameraController::addressValid("0.0.0.0", r.mac)) return "campo \"mac\" invalido";
    std::string model = "SB_A4";
    if (!text("model", false, model, why)) return why;
    const CameraModel* known = findModelByName(model);
    if (known == nullptr) return "campo \"model\" invalido";
    r.model = known->code;
    if (entry_.contains("ssh")) {
      if (!entry_["ssh"].is_boolean()) return "campo \"ssh\" invalido";
      r.ssh = entry_["ssh"].get<bool>();
    }
    if (!text("user", false, r.user, why) || !text("pass", false, r.pass, why)) return why;
    return "";
  }

 private:
  bool text(const char* field, bool required, std::string& out, std::string& why) const {
    if (!entry_.contains(field)) {
      if (required) why = std::string("campo \"") + field + "\" ausente";
      return !required;
    }
    if (!entry_[field].is_string()) {
      why = std::string("campo \"") + field + "\" invalido";
      return false;
    }
    out = entry_[field].get<std::string>();
    return true;
  }

  const Json& entry_;
  RigCamera& camera_;
};

RigFileRead failed(const std::string& name, const std::string& what) {
  RigFileRead read;
  read.error = "[error] " + name + ": " + what;
  return read;
}

}  // namespace

RigFileRead parseRigFile(const std::string& text, const std::string& name) {
  Json root;
  try {
    root = Json::parse(text);
  } catch (const Json::parse_error& e) {
    return failed(name, "JSON invalido na " + lineAndColumn(text, e.byte == 0 ? 0 : e.byte - 1));
  } catch (const Json::exception&) {
    return failed(name, "JSON invalido");  // a number out of range
  }
  if (!root.is_object()) return failed(name, "nao e um objeto JSON");
  for (auto it = root.begin(); it != root.end(); ++it) {
    if (it.key() != "cameras") {
      return failed(name, "campo " + shown(it.key()) + " desconhecido");
    }
  }
  if (!root.contains("cameras") || !root["cameras"].is_array()) {
    return failed(name, "campo \"cameras\" ausente ou nao e uma lista");
  }
  RigFileRead read;
  for (std::size_t i = 0; i < root["cameras"].size(); ++i) {
    RigCamera camera;
    const std::string why = EntryReader(root["cameras"][i], camera).read();
    // A camera is named by its id once the id is known good, else by place.
    const std::string which = Rig::validId(camera.id) ? "camera " + inQuotes(camera.id)
                                                      : "camera " + std::to_string(i + 1);
    if (!why.empty()) return failed(name, which + ": " + why);
    for (const RigCamera& before : read.cameras) {
      if (before.id == camera.id) return failed(name, which + ": campo \"id\" repetido");
    }
    read.cameras.push_back(std::move(camera));
  }
  return read;
}

RigFileRead readRigFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return RigFileRead();
    return failed(path, "nao foi possivel ler");
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in.good() && !in.eof()) return failed(path, "nao foi possivel ler");
  RigFileRead read = parseRigFile(text.str(), path);
  read.existed = true;
  read.othersMayRead = (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
  return read;
}

std::string rigFileText(const std::vector<RigCamera>& cameras) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const RigCamera& camera : cameras) {
    const CameraRequest& r = camera.request;
    const CameraModel* model = findModelByCode(r.model);
    nlohmann::ordered_json entry;
    entry["id"] = camera.id;
    entry["ip"] = r.ip;
    entry["mac"] = r.mac;
    entry["model"] = model != nullptr ? model->name : "SB_A4";
    entry["ssh"] = r.ssh;
    if (!r.user.empty()) entry["user"] = r.user;
    if (!r.pass.empty()) entry["pass"] = r.pass;
    list.push_back(std::move(entry));
  }
  nlohmann::ordered_json root;
  root["cameras"] = std::move(list);
  return root.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

bool writeFileAtomically(const std::string& path, const std::string& text, std::string& why) {
  namespace fs = std::filesystem;
  const std::string temporary = path + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    why = "nao foi possivel criar " + temporary;
    return false;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool written = done == text.size() && ::fsync(fd) == 0;
  ::close(fd);
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    why = "nao foi possivel gravar";
    return false;
  }
  // The rename itself reaches the disk with the folder.
  std::string folder = fs::path(path).parent_path().string();
  if (folder.empty()) folder = ".";
  const int dir = ::open(folder.c_str(), O_RDONLY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

void RigFile::save(const Rig& rig) {
  MutexLock lock(mutex_);
  std::string why;
  if (!writeFileAtomically(path_, rigFileText(rig.added()), why)) {
    std::printf("[error] %s: %s\n", path_.c_str(), why.c_str());
  }
}
