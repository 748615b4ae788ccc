// Route handlers: decode the request, call the body, encode the reply.
#include "vcam/Routes.h"

#include <httplib.h>

#include <cstdlib>
#include <string>

#include "sdk/standin/Wire.h"
#include "vcam/Camera.h"

namespace vcam {

using nlohmann::json;
using namespace VCSDK;

namespace {

void reply(httplib::Response& res, const json& body, int status = 200) {
  res.status = status;
  res.set_content(body.dump(), "application/json");
}

void replyStatus(httplib::Response& res, VcStatus status) { reply(res, json{{"error", status}}); }

// A body that is not JSON reads as an empty object: every field then takes
// its default and the camera refuses what it cannot use.
json bodyJson(const httplib::Request& req) {
  json j = json::parse(req.body, nullptr, false);
  return j.is_object() ? j : json::object();
}

std::uint32_t numberParam(const httplib::Request& req, const char* name) {
  if (!req.has_param(name)) return 0;
  return static_cast<std::uint32_t>(std::strtoul(req.get_param_value(name).c_str(), nullptr, 0));
}

}  // namespace

void installRoutes(httplib::Server& server, Camera& camera) {
  // A request with fields of the wrong type is the client's fault, not a crash.
  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        reply(res, json{{"error", VcError_InvalidParameter}}, 400);
      });
  server.Get(vcwire::kIdentify, [&](const httplib::Request&, httplib::Response& res) {
    reply(res, camera.identify());
  });
  server.Get(vcwire::kFingerprint, [&](const httplib::Request&, httplib::Response& res) {
    std::string fp;
    VcStatus status = camera.fingerprint(fp);
    reply(res, json{{"error", status}, {"fingerprint", fp}});
  });
  server.Post(vcwire::kConnect, [&](const httplib::Request& req, httplib::Response& res) {
    std::string session;
    VcStatus status = camera.connect(bodyJson(req), session);
    reply(res, json{{"error", status}, {"session", session}});
  });
  server.Post(vcwire::kDisconnect, [&](const httplib::Request& req, httplib::Response& res) {
    camera.disconnect(req.get_param_value("session"));
    replyStatus(res, VcError_None);
  });
  server.Get(vcwire::kEvents, [&](const httplib::Request& req, httplib::Response& res) {
    int wait = std::min(2000, static_cast<int>(numberParam(req, "wait")));
    std::vector<Event> events;
    if (!camera.waitEvents(req.get_param_value("session"), wait, events)) {
      reply(res, json{{"error", VcError_ConnectionLost}}, vcwire::kGone);
      return;
    }
    json list = json::array();
    for (const Event& e : events) list.push_back(eventJson(e));
    reply(res, json{{"events", list}});
  });
  server.Post(vcwire::kSetProp, [&](const httplib::Request& req, httplib::Response& res) {
    json j = bodyJson(req);
    replyStatus(res, camera.setProperty(j.value("session", std::string()), j.value("code", 0u),
                                        j.value("value", std::uint64_t(0))));
  });
  server.Post(vcwire::kGetProps, [&](const httplib::Request& req, httplib::Response& res) {
    json j = bodyJson(req);
    std::vector<std::uint32_t> codes;
    for (const json& c : j.value("codes", json::array()))
      if (c.is_number_unsigned()) codes.push_back(c.get<std::uint32_t>());
    std::vector<PropertyValue> props;
    VcStatus status = camera.getProperties(j.value("session", std::string()), codes, props);
    json list = json::array();
    for (const PropertyValue& p : props) list.push_back({p.code, p.type, p.value});
    reply(res, json{{"error", status}, {"props", list}});
  });
  server.Post(vcwire::kSaveInfo, [&](const httplib::Request& req, httplib::Response& res) {
    json j = bodyJson(req);
    replyStatus(res,
                camera.saveInfo(j.value("session", std::string()), j.value("folder", std::string()),
                                j.value("prefix", std::string())));
  });
  server.Post(vcwire::kCommand, [&](const httplib::Request& req, httplib::Response& res) {
    json j = bodyJson(req);
    replyStatus(res, camera.command(j.value("session", std::string()), j.value("id", 0u),
                                    j.value("param", 0u)));
  });
  server.Get(vcwire::kPicture, [&](const httplib::Request& req, httplib::Response& res) {
    std::vector<std::uint8_t> jpeg;
    std::uint64_t id = std::strtoull(req.get_param_value("id").c_str(), nullptr, 10);
    if (!camera.takePicture(req.get_param_value("session"), id, jpeg)) {
      reply(res, json{{"error", VcError_DownloadFailed}}, 404);
      return;
    }
    res.set_content(reinterpret_cast<const char*>(jpeg.data()), jpeg.size(), "image/jpeg");
  });
  server.Get(vcwire::kLiveView, [&](const httplib::Request& req, httplib::Response& res) {
    std::shared_ptr<const Frame> frame;
    std::string stage;
    VcStatus status = camera.liveView(req.get_param_value("session"), frame, stage);
    if (status != VcError_None) {
      reply(res, json{{"error", status}, {"stage", stage}}, vcwire::kRefused);
      return;
    }
    if (!frame) {
      res.status = 204;
      return;
    }
    res.set_header(vcwire::kFrameNoHeader, std::to_string(frame->number));
    res.set_content(reinterpret_cast<const char*>(frame->jpeg.data()), frame->jpeg.size(),
                    "image/jpeg");
  });
  server.Post(vcwire::kPtz, [&](const httplib::Request& req, httplib::Response& res) {
    json j = bodyJson(req);
    replyStatus(res, camera.ptz(j.value("session", std::string()), j));
  });

  // Inspection and faults: for tests and demos only.
  server.Get("/vcam/state",
             [&](const httplib::Request&, httplib::Response& res) { reply(res, camera.state()); });
  server.Post("/vcam/fault", [&](const httplib::Request& req, httplib::Response& res) {
    std::string name = req.get_param_value("name"), error;
    int ms = static_cast<int>(numberParam(req, "ms"));
    int count = static_cast<int>(numberParam(req, "count"));
    FaultKind kind;
    bool ok = faultFromName(name, kind);
    if (!ok)
      error = "falha desconhecida: " + name;
    else
      ok = camera.fault(kind, numberParam(req, "code"), numberParam(req, "prop"), ms, count, error);
    if (!ok) {
      reply(res, json{{"ok", false}, {"error", error}}, 400);
      return;
    }
    reply(res, json{{"ok", true}});
  });
  server.Get("/vcam/liveview.jpg", [&](const httplib::Request&, httplib::Response& res) {
    std::shared_ptr<const Frame> frame = camera.inspectFrame();
    if (!frame || frame->jpeg.empty()) {
      res.status = 500;
      return;
    }
    res.set_header(vcwire::kFrameNoHeader, std::to_string(frame->number));
    res.set_content(reinterpret_cast<const char*>(frame->jpeg.data()), frame->jpeg.size(),
                    "image/jpeg");
  });
}

}  // namespace vcam
