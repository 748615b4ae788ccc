// Fuzzes the HTTP parameters of every route in the route table: a real
// HttpServer over the fake SDK, in this process, on a loopback address, fed
// requests whose parameter names, values, placement (query string or form
// body), camera (a camera route at its path or under /cameras/main) and
// Host/Origin headers come from the fuzzer. Each answer must be one the
// route may give, well-formed, and the server must keep answering.
#include <httplib.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "FakeSdk.h"
#include "FuzzInput.h"
#include "server/HttpServer.h"
#include "server/routes/RouteTable.h"

namespace {

const char* kHost = "127.0.70.1";
const int kPort = 18080;

const char* kNames[] = {"ip",      "mac",   "ssh",    "model",   "iso",      "fnumber",
                        "shutter", "ev",    "shots",  "pan",     "tilt",     "speed",
                        "num",     "hold",  "limit",  "before",  "size",     "id",
                        "user",    "pass",  "camera", "cameras", "interval", "count",
                        "bracket", "start", "full",   "fps",     "stream"};
// Cameras the fuzzer may add before the oldest ones are removed: each holds
// threads and a fake connection.
const std::size_t kMostCameras = 6;
const std::size_t kNameCount = sizeof kNames / sizeof kNames[0];

// Streams never end on their own: the fuzzer reads their head and hangs up.
bool isStream(const Route& route) {
  return route.path == "/liveview.mjpg" || route.path == "/events" || route.path == "/tiles.mjpg";
}

httplib::Client* client = nullptr;
HttpServer* server = nullptr;

// Removes every camera but main (before the fake forgets their objects).
void removeRigCameras(std::size_t keep) {
  std::vector<std::shared_ptr<CameraSlot>> cameras = server->rig().all();
  for (std::size_t i = 1; i + keep < cameras.size(); ++i) server->rig().remove(cameras[i]->id());
}

// Ends the run with what went wrong, so a crash file comes with a reason.
[[noreturn]] void fail(const char* what, const std::string& path, const httplib::Result* res) {
  std::fprintf(stderr, "fuzz_routes: %s on %s", what, path.c_str());
  if (res != nullptr && *res) {
    std::fprintf(stderr, " -> %d %s", (*res)->status, (*res)->body.substr(0, 200).c_str());
  }
  std::fprintf(stderr, "\n");
  std::abort();
}

std::string encode(const std::string& text, bool keepPercentAndPlus) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    const bool plain = std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' ||
                       (keepPercentAndPlus && (c == '%' || c == '+'));
    if (plain) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

// Header values may not carry line breaks or NUL (the client would send
// them raw and split the request).
std::string headerSafe(std::string text) {
  std::string out;
  for (char c : text) {
    if (c != '\r' && c != '\n' && c != '\0') out.push_back(c);
  }
  return out;
}

void startServer() {
  server = new HttpServer(kHost, kPort);  // lives for the whole run
  std::thread([] { server->run(); }).detach();
  client = new httplib::Client(kHost, kPort);
  client->set_read_timeout(20, 0);
  client->set_keep_alive(true);
  for (int i = 0; i < 250; ++i) {
    if (auto res = client->Get("/status")) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::fprintf(stderr, "server did not come up on %s:%d\n", kHost, kPort);
  std::abort();
}

bool isStatusReply(const std::string& body, std::string& text) {
  const nlohmann::json j = nlohmann::json::parse(body, nullptr, false);
  if (!j.is_object() || j.size() != 1 || !j.contains("status") || !j["status"].is_string()) {
    return false;
  }
  text = j["status"].get<std::string>();
  return true;
}

bool isCount(const std::string& text, long maxShots) {
  const std::string tail = " foto(s)";
  if (text.size() <= tail.size() || text.compare(text.size() - tail.size(), tail.size(), tail)) {
    return false;
  }
  const std::string number = text.substr(0, text.size() - tail.size());
  for (char c : number) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return std::strtol(number.c_str(), nullptr, 10) <= std::max(0L, maxShots);
}

bool hasControlCharacter(const httplib::Headers& headers) {
  for (const auto& header : headers) {
    for (unsigned char c : header.second) {
      if ((c < 0x20 && c != '\t') || c == 0x7F) return true;
    }
  }
  return false;
}

// A stream's answer is judged by its head: a stream of the right kind, or a
// refusal with its text. The client hangs up as soon as a stream starts, so
// the server's teardown of a viewer that leaves at once runs on every input.
void checkStream(const std::string& path, const httplib::Headers& headers) {
  int status = 0;
  std::string type, body;
  const auto head = [&](const httplib::Response& r) {
    status = r.status;
    type = r.get_header_value("Content-Type");
    return status != 200;
  };
  const auto read = [&](const char* data, std::size_t length) {
    body.append(data, length);
    return body.size() < 4096;
  };
  httplib::Result res = client->Get(path, headers, head, read);
  if (!res && status == 0) res = client->Get(path, headers, head, read);  // an idle link closed
  if (status == 0) fail("no answer", path, nullptr);
  const bool events = path.rfind("/events", 0) == 0;
  const std::string streamType =
      events ? "text/event-stream" : "multipart/x-mixed-replace; boundary=";
  std::string text;
  const bool fine =
      (status == 200 && type.compare(0, streamType.size(), streamType) == 0) ||
      (status == 403 && headers.size() > 0) ||
      (status == 400 && body.empty() && hasControlCharacter(headers)) ||
      (isStatusReply(body, text) && ((status == 400 && text == "fps invalido") ||
                                     (status == 404 && text == "camera desconhecida") ||
                                     (status == 503 && text == "live view indisponivel")));
  if (!fine) {
    std::fprintf(stderr, "fuzz_routes: unexpected answer on %s -> %d %s %s\n", path.c_str(), status,
                 type.c_str(), body.substr(0, 200).c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The client writes to connections the server may have closed; as kamora
  // itself does, take EPIPE as an answer instead of being ended by SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  // The server's connect route names a save folder relative to the
  // working directory; keep it out of the source tree.
  char dir[] = "/tmp/kamora-fuzz-XXXXXX";
  if (mkdtemp(dir) == nullptr || chdir(dir) != 0) std::abort();
  startServer();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static unsigned runs = 0;
  if (++runs % 1024 == 0) {
    // The fake keeps every object it handed out until reset; the server's
    // camera must let go of them first.
    client->Post("/sequence/stop");
    client->Post("/volley/sequence/stop");
    client->Post("/disconnect");
    removeRigCameras(0);
    fake::sdk().reset();
  }
  fake::sdk().clearCalls();

  const std::vector<Route>& routes = apiRoutes();
  const Route& route = routes[data[0] % routes.size()];
  const bool isGet = route.method == HttpMethod::Get;
  const bool isDelete = route.method == HttpMethod::Delete;
  const std::uint8_t flags = data[1];
  const bool inBody = flags & 1;
  const bool rawPercent = flags & 2;
  const bool withOrigin = flags & 4;
  const bool withHost = flags & 8;
  const bool viaRig = (flags & 16) && route.scope == RouteScope::Camera;
  if (route.path == "/cameras" && !isGet) removeRigCameras(kMostCameras - 1);
  std::vector<std::string> fields = fuzzin::split(data + 2, size - 2, '\n', 32);

  httplib::Headers headers;
  std::size_t next = 0;
  if (withHost && next < fields.size()) headers.emplace("Host", headerSafe(fields[next++]));
  if (withOrigin && next < fields.size()) headers.emplace("Origin", headerSafe(fields[next++]));

  // Name/value pairs; a one-byte name picks one of the routes' names.
  std::string query, body;
  long shots = 1;
  bool shotsSeen = false;
  for (; next + 1 < fields.size(); next += 2) {
    const std::string& rawName = fields[next];
    const std::string name =
        rawName.size() == 1 ? kNames[static_cast<unsigned char>(rawName[0]) % kNameCount] : rawName;
    const std::string& value = fields[next + 1];
    const bool isShots = name == "shots";
    if (isShots) {
      // Each shot waits for its download; many shots only measure time.
      const long n = std::strtol(value.c_str(), nullptr, 10);
      if (n > 1 || n < -1000) return 0;
      if (!shotsSeen) shots = n;
      shotsSeen = true;
    }
    std::string& target = inBody && !isGet ? body : query;
    if (!target.empty()) target += '&';
    target += encode(name, false) + '=' + encode(value, rawPercent && !isShots);
  }
  if (inBody && !shotsSeen && route.path == "/capture") shots = 1;

  std::string path = (viaRig ? "/cameras/main" : "") + route.path;
  // A prefix route ("/captures/") names its object in the rest of the path,
  // and "/cameras/{id}" its camera: an odd field left over is that name,
  // encoded as the flags say.
  const bool named =
      path.size() > 1 && path.back() == '/' && next < fields.size() && !fields[next].empty();
  if (named) path += encode(fields[next], rawPercent);
  const std::size_t param = path.find("{id}");
  const bool idNamed = next < fields.size() && !fields[next].empty();
  if (param != std::string::npos) {
    path.replace(param, 4, idNamed ? encode(fields[next], rawPercent) : "");
  }
  if (!query.empty()) path += "?" + query;
  if (isStream(route)) {
    checkStream(path, headers);
    return 0;
  }
  const auto send = [&] {
    if (isGet) return client->Get(path.c_str(), headers);
    if (isDelete) return client->Delete(path.c_str(), headers);
    return client->Post(path.c_str(), headers, body, "application/x-www-form-urlencoded");
  };
  httplib::Result res = send();
  if (!res) {
    // One retry on a fresh connection: the server may have closed an idle
    // keep-alive link; a second failure means it stopped answering.
    res = send();
    if (!res) fail("no answer", path, nullptr);
  }
  if (res->get_header_value("X-Powered-By") != "Zef \xE2\x9A\xA1 pirwol") {
    fail("no X-Powered-By", path, &res);
  }

  const int status = res->status;
  const std::string p = route.path;
  const bool guarded = withOrigin || withHost;
  // A header value with control characters is not HTTP: the frame's plain
  // 400 is the right answer to it.
  if (status == 400 && hasControlCharacter(headers) && res->body.empty()) return 0;
  if (status == 403) {
    if (!guarded) fail("unexpected answer", path, &res);
    return 0;
  }
  std::string text;
  const bool json = res->get_header_value("Content-Type") == "application/json";
  if (p == "/zef" || p == "/") {
    if (status != 200 || res->body.empty()) fail("unexpected answer", path, &res);
  } else if (p == "/properties") {
    const nlohmann::json j = nlohmann::json::parse(res->body, nullptr, false);
    if (status != 200 || !json || !j.is_object()) fail("unexpected answer", path, &res);
  } else if (p == "/cameras" && isGet) {
    const nlohmann::json j = nlohmann::json::parse(res->body, nullptr, false);
    if (status != 200 || !json || !j.is_object() || !j["cameras"].is_array())
      fail("unexpected answer", path, &res);
  } else if (p == "/cameras") {
    const nlohmann::json j = nlohmann::json::parse(res->body, nullptr, false);
    const bool fine =
        (status == 201 && json && j.is_object() && j["id"].is_string()) ||
        (isStatusReply(res->body, text) &&
         ((status == 400 && (text == "id invalido" || text == "ip e mac obrigatorios" ||
                             text == "ip ou mac invalido")) ||
          (status == 409 && text == "id em uso")));
    if (!fine) fail("unexpected answer", path, &res);
  } else if (p == "/volley") {
    const nlohmann::json j = nlohmann::json::parse(res->body, nullptr, false);
    const bool fine =
        (status == 200 && json && j.is_object() && j["volley"].is_number() &&
         j["spread_ms"].is_number() && j["cameras"].is_array()) ||
        (isStatusReply(res->body, text) && ((status == 400 && text == "shots invalido") ||
                                            (status == 404 && text == "camera desconhecida")));
    if (!fine) fail("unexpected answer", path, &res);
  } else if (isDelete) {
    // Without an id the path is the list's, which takes no DELETE; an id with a
    // slash in it (plain or %2F) makes a longer path, which no route serves.
    std::string id = idNamed ? fields[next] : "";
    for (char& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool splits =
        id.find('/') != std::string::npos || (rawPercent && id.find("%2f") != std::string::npos);
    const bool fine = ((!idNamed || splits) && status == 404 && res->body.empty()) ||
                      (isStatusReply(res->body, text) &&
                       ((status == 200 && text == "removida") ||
                        (status == 404 && text == "camera desconhecida") ||
                        (status == 409 && text == "main nao pode ser removida")));
    if (!fine) fail("unexpected answer", path, &res);
  } else if (p == "/camera" || p == "/captures" || p == "/ptz/presets") {
    const nlohmann::json j = nlohmann::json::parse(res->body, nullptr, false);
    const bool shape = p == "/ptz/presets" ? j.is_array() : j.is_object();
    if (status != 200 || !json || !shape) fail("unexpected answer", path, &res);
  } else if (p == "/captures/") {
    // Without a name the path is the folder's, which no route serves.
    const bool fine = (!named && status == 404 && res->body.empty()) ||
                      (json && isStatusReply(res->body, text) &&
                       ((status == 404 && text == "foto nao encontrada") ||
                        (status == 400 && text == "tamanho invalido")));
    if (!fine) fail("unexpected answer", path, &res);
  } else if (p.compare(0, 9, "/sequence") == 0 || p.compare(0, 16, "/volley/sequence") == 0) {
    // The sequence object (a camera's or the rig's), or one of the refusals.
    const nlohmann::json j = nlohmann::json::parse(res->body, nullptr, false);
    const bool ofRig = p[1] == 'v';
    const bool starts = (p == "/sequence" || p == "/volley/sequence") && !isGet;
    const bool object = json && j.is_object() && j.contains("state") && j.contains("frame");
    const bool refusal =
        json && isStatusReply(res->body, text) &&
        ((status == 400 && starts && text.compare(0, 20, "parametro invalido: ") == 0) ||
         (status == 404 && !starts && text == "nenhuma sequencia") ||
         (status == 409 && starts && text == "sequencia em andamento") ||
         (status == 404 && starts && ofRig && text == "camera desconhecida"));
    if (!(object && status == (starts ? 201 : 200)) && !refusal) {
      fail("unexpected answer", path, &res);
    }
  } else if (p == "/tiles/full") {
    // Stream ids are the server's own, so most moves name none.
    const bool fine =
        json && isStatusReply(res->body, text) &&
        ((status == 200 && text == "ok") || (status == 400 && text == "fps invalido") ||
         (status == 404 && (text == "stream desconhecido" || text == "camera desconhecida")));
    if (!fine) fail("unexpected answer", path, &res);
  } else if (p == "/liveview.jpg") {
    if (status == 200) {
      if (res->get_header_value("Content-Type") != "image/jpeg" || res->body.empty())
        fail("unexpected answer", path, &res);
    } else if (status != 503 || !json || !isStatusReply(res->body, text) ||
               text != "live view indisponivel") {
      fail("unexpected answer", path, &res);
    }
  } else {
    if (!json || !isStatusReply(res->body, text)) fail("unexpected answer", path, &res);
    if (p == "/status") {
      if (status != 200 || text != "online") fail("unexpected answer", path, &res);
    } else if (p == "/connect") {
      const bool fine = (status == 200 && text == "conectado") ||
                        (status == 400 && text == "ip e mac obrigatorios") ||
                        (status == 502 && text == "falha ao conectar");
      if (!fine) fail("unexpected answer", path, &res);
    } else if (p == "/disconnect") {
      if (status != 200 || text != "desconectado") fail("unexpected answer", path, &res);
    } else if (p == "/capture") {
      if (status != 200 || !isCount(text, shots)) fail("unexpected answer", path, &res);
    } else {
      if (status != 200 || text != "ok") fail("unexpected answer", path, &res);
    }
  }
  return 0;
}
