// The rig file (`kamora --server --rig FILE`): the cameras a server adds at
// start and keeps, as JSON,
//
//   {"cameras":[{"id":"left","ip":"127.0.0.3","mac":"02:00:00:00:00:03",
//                "model":"SB_A5","ssh":false}, ...]}
//
// with "user" and "pass" for an SSH login. Read once before the server
// listens; written again, whole and atomically, after each camera added or
// removed, so a restart brings the same rig back. No line it prints shows a
// value from the file but ids.
#pragma once

#include <string>
#include <vector>

#include "common/ThreadAnnotations.h"
#include "server/rig/Rig.h"

struct RigFileRead {
  std::vector<RigCamera> cameras;
  // Empty when the file is fine; else the one line that says why not,
  // naming the file, the camera and the field:
  //   [error] rig.json: camera "left": campo "ipp" desconhecido
  std::string error;
  bool othersMayRead = false;  // group or others may read it
  bool existed = false;        // a missing file is an empty rig
};

// The cameras in a rig file's text; name is the file as lines name it.
// Every id is valid and unique and not `main`; every address is one a
// camera can be asked at; every model is known; nothing else is allowed.
RigFileRead parseRigFile(const std::string& text, const std::string& name);

// Reads and parses the file at path.
RigFileRead readRigFile(const std::string& path);

// The file's text for these cameras (parseRigFile reads it back the same).
std::string rigFileText(const std::vector<RigCamera>& cameras);

// Writes text at path atomically: a temporary file beside it, flushed to
// disk, renamed over it, the folder flushed. The file keeps its permissions
// (a new one is the owner's alone). False, with the reason, when it could
// not; the file is then as it was.
bool writeFileAtomically(const std::string& path, const std::string& text, std::string& why);

// Keeps a rig's file up to date. Thread-safe: saves come one at a time, each
// writing the rig as it is when its turn comes, so the last one wins.
class RigFile {
 public:
  explicit RigFile(std::string path) : path_(std::move(path)) {}
  const std::string& path() const { return path_; }
  // Writes the rig's cameras; a failure prints one line and changes nothing.
  void save(const Rig& rig) EXCLUDES(mutex_);

 private:
  const std::string path_;
  Mutex mutex_;
};
