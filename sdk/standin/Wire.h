// The loopback protocol between the stand-in SDK and kamora-vcam: port,
// routes and the names both sides put in their JSON.
#pragma once

#include <cstdlib>

namespace vcwire {

constexpr int kDefaultPort = 15740;

// The port every camera listens on and the stand-in SDK looks for them on:
// 15740, or KAMORA_VCAM_PORT when it names another (1 to 65535). The tests
// set their own, so cameras a user runs beside them (`make demo`) never
// answer their discovery, and theirs never answer the user's. Read once.
inline int port() {
  static const int chosen = [] {
    const char* text = std::getenv("KAMORA_VCAM_PORT");
    const long value = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
    return value >= 1 && value <= 65535 ? static_cast<int>(value) : kDefaultPort;
  }();
  return chosen;
}

// Camera identity and SSH host key (no session needed).
constexpr const char* kIdentify = "/sdk/identify";        // GET -> {model, mac, ip, ssh}
constexpr const char* kFingerprint = "/sdk/fingerprint";  // GET -> {error, fingerprint}
// POST {mac, ssh, user?, pass?, fingerprint?} -> {error, session}
constexpr const char* kConnect = "/sdk/connect";
constexpr const char* kDisconnect = "/sdk/disconnect";  // POST ?session=
// GET ?session=&wait=ms -> {events:[...]}; 410 when the session is gone.
constexpr const char* kEvents = "/sdk/events";
constexpr const char* kSetProp = "/sdk/setprop";    // POST {session, code, type, value} -> {error}
constexpr const char* kGetProps = "/sdk/getprops";  // POST {session, codes} -> {error, props}
constexpr const char* kSaveInfo = "/sdk/saveinfo";  // POST {session} -> {error}
constexpr const char* kCommand = "/sdk/command";    // POST {session, id, param} -> {error}
constexpr const char* kPicture = "/sdk/picture";    // GET ?session=&id= -> JPEG
// GET ?session= -> 200 JPEG (header X-Frame-No), 204 no picture this time,
// 409 {error, stage: "info"|"image"}.
constexpr const char* kLiveView = "/sdk/liveview";
// POST {session, op: control|preset-set|preset-clear|code, ...} -> {error}
constexpr const char* kPtz = "/sdk/ptz";

constexpr const char* kFrameNoHeader = "X-Frame-No";
constexpr int kGone = 410;     // the session no longer exists (dropped, closed)
constexpr int kRefused = 409;  // the camera answered with an error code

// Event types in /sdk/events.
constexpr const char* kEventReady = "ready";      // the link is up
constexpr const char* kEventError = "error";      // {code}: OnError
constexpr const char* kEventProps = "props";      // {codes}: properties changed
constexpr const char* kEventPicture = "picture";  // {id}: a picture waits for download

}  // namespace vcwire
