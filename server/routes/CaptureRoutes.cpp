// The capture review routes: the pictures of the camera's capture folder,
// newest first with their EXIF summary, and each picture by name, whole or
// as a thumbnail or screen-size copy. None of them touches the camera.
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "camera/CaptureFolder.h"
#include "camera/ScaledJpeg.h"
#include "server/routes/RouteTable.h"
#include "server/slot/CameraSlot.h"

namespace {

const char kPicturePrefix[] = "/captures/";
// A picture's name is never given to another file, so its bytes never
// change under a URL: browsers may keep them for good.
const char kForever[] = "private, max-age=31536000, immutable";

template <typename T>
nlohmann::ordered_json orNull(const std::optional<T>& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json entryJson(const CaptureEntry& e) {
  nlohmann::ordered_json o;
  o["name"] = e.name;
  o["bytes"] = e.bytes;
  o["mtime"] = e.mtimeNs / 1000000;
  o["iso"] = orNull(e.exif.iso);
  o["fnumber"] = orNull(e.exif.fnumber);
  o["shutter"] = orNull(e.exif.shutter);
  o["ev"] = orNull(e.exif.ev);
  o["model"] = orNull(e.exif.model);
  o["taken"] = orNull(e.exif.taken);
  o["width"] = orNull(e.exif.width);
  o["height"] = orNull(e.exif.height);
  return o;
}

HttpReply listing(const RouteCall& call) {
  const HttpRequest& request = call.request;
  const long long limit = std::atoll(request.param("limit", "0").c_str());
  const CapturePage page = call.camera.captures().list(limit, request.param("before", ""));
  nlohmann::ordered_json pictures = nlohmann::ordered_json::array();
  for (const CaptureEntry& e : page.entries) pictures.push_back(entryJson(e));
  nlohmann::ordered_json object;
  object["pictures"] = std::move(pictures);
  object["more"] = page.more;
  object["total"] = page.total;
  HttpReply reply;
  reply.contentType = "application/json";
  reply.headers.emplace_back("Cache-Control", "no-store");
  // The EXIF texts are printable ASCII already; replace rather than throw
  // should a name ever carry anything else.
  reply.body = object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  return reply;
}

// True when an If-None-Match list names etag (weak or strong) or is "*".
bool etagMatches(const std::string* header, const std::string& etag) {
  if (header == nullptr) return false;
  std::size_t at = 0;
  while (at <= header->size()) {
    std::size_t end = header->find(',', at);
    if (end == std::string::npos) end = header->size();
    std::string tag = header->substr(at, end - at);
    const std::size_t first = tag.find_first_not_of(" \t");
    const std::size_t last = tag.find_last_not_of(" \t");
    tag = first == std::string::npos ? "" : tag.substr(first, last - first + 1);
    if (tag.compare(0, 2, "W/") == 0) tag.erase(0, 2);
    if (tag == "*" || tag == etag) return true;
    at = end + 1;
  }
  return false;
}

HttpReply picture(const RouteCall& call) {
  const HttpRequest& request = call.request;
  const std::string size = request.param("size", "");
  std::optional<ScaledKind> kind;
  if (size == "thumb") {
    kind = ScaledKind::Thumb;
  } else if (size == "screen") {
    kind = ScaledKind::Screen;
  } else if (!size.empty()) {
    return statusReply(400, "tamanho invalido");
  }
  // The transport decoded the path: whatever the client encoded in it
  // reaches resolve(), the one place that decides what may be opened.
  std::optional<CaptureFile> file =
      call.camera.captures().resolve(call.path.substr(sizeof kPicturePrefix - 1));
  if (!file) return statusReply(404, "foto nao encontrada");

  const std::string etag = "\"" + std::to_string(file->bytes()) + "-" +
                           std::to_string(file->mtimeNs()) + (size.empty() ? "" : "-" + size) +
                           "\"";
  HttpReply reply;
  reply.headers = {{"ETag", etag}, {"Cache-Control", kForever}};
  if (etagMatches(request.header("If-None-Match"), etag)) {
    reply.status = 304;
    return reply;
  }
  if (kind) {
    std::shared_ptr<const std::string> copy = call.camera.scaledCopies().get(*file, *kind);
    if (!copy) return statusReply(422, "foto ilegivel");
    reply.body = *copy;
  } else if (!file->readAll(reply.body)) {
    return statusReply(404, "foto nao encontrada");
  }
  reply.contentType = "image/jpeg";
  return reply;
}

}  // namespace

std::vector<Route> captureRoutes() {
  return {
      {HttpMethod::Get, "/captures", CameraAccess::None, listing, {}},
      {HttpMethod::Get, kPicturePrefix, CameraAccess::None, picture, {}},
  };
}
