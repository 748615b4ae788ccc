// The API's route table: each route is declared once with its method, path,
// the camera access it needs and its handler. A camera's row is served for
// `main` at its path and for every camera at /cameras/<id><path>; the router
// finds the camera (or answers 404 "camera desconhecida") and hands it to
// the handler. The router applies the request guard, the camera gate and the
// no-throw rule to every row, so no route can be added without them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/http/HttpTypes.h"

class CameraSlot;
class Rig;

// How a route uses the camera; the gate grants it before the handler runs.
enum class CameraAccess {
  None,      // never touches the camera
  Reader,    // reads beside commands; gives up while a connect/disconnect is due
  Command,   // one at a time among commands, beside readers
  Teardown,  // connect and disconnect: the camera alone
  Urgent,    // the pan/tilt stop: beside commands and readers (never waits
             // for a capture); waits only for a connect/disconnect under way
};

struct RouteCall {
  const HttpRequest& request;
  // The camera the request addresses (`main` for a server row).
  CameraSlot& camera;
  // Reader access only: false while a connect or disconnect holds the
  // camera; the route then answers as it does without a camera.
  bool cameraHeld;
  // The request's place in the order requests reached the camera (1, 2, ...),
  // taken before it waited for its access.
  std::uint64_t arrival;
  // Every camera, for the rows about the rig itself.
  Rig& rig;
  // The camera again, for a reply that outlives the handler (a stream): a
  // camera removed meanwhile stays whole until the stream ends.
  const std::shared_ptr<CameraSlot>& slot;
  // The request's path as the row sees it: without "/cameras/<id>".
  const std::string& path;
};

// Who a row serves.
enum class RouteScope {
  Camera,  // one camera: at its path for `main`, at /cameras/<id><path> for each
  Server,  // the server itself, at its path only
};

struct Route {
  HttpMethod method;
  std::string path;  // matched exactly against the decoded path, or as a
                     // prefix when it ends in '/' (e.g. "/captures/" serves
                     // "/captures/<name>"; the handler reads the rest). A
                     // segment "{id}" names a camera: the router finds it.
  CameraAccess access;
  std::function<HttpReply(const RouteCall&)> handle;
  // Runs before the camera is taken, so a malformed request is refused at
  // once instead of waiting for a capture; a reply ends the request there.
  std::function<std::optional<HttpReply>(const HttpRequest&)> precheck = {};
  // Answers on the transport's event loop when it can without waiting for
  // anything (no camera call, no disk): a fixed page, a picture the feed
  // already holds. nullopt leaves the request to handle on a worker.
  std::function<std::optional<HttpReply>(const RouteCall&)> fast = {};
  RouteScope scope = RouteScope::Camera;
};

// The path prefix of a camera's rows, and its parameter.
constexpr const char* kCameraPrefix = "/cameras/{id}";

// Every route, in the order of the API's documentation.
const std::vector<Route>& apiRoutes();

// The groups apiRoutes() is made of, one file each.
std::vector<Route> fixedRoutes();     // "/zef", "/status", "/"
std::vector<Route> cameraRoutes();    // "/connect" ... "/properties"
std::vector<Route> liveViewRoutes();  // "/liveview.jpg", "/liveview.mjpg"
std::vector<Route> healthRoutes();    // "/camera", "/events"
std::vector<Route> ptzRoutes();       // "/ptz/..."
std::vector<Route> captureRoutes();   // "/captures", "/captures/<name>"
std::vector<Route> sequenceRoutes();  // "/sequence", "/sequence/stop", ...
std::vector<Route> rigRoutes();       // "/cameras", adding and removing cameras
std::vector<Route> volleyRoutes();    // "/volley"
