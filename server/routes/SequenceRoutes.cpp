// The sequence routes: a camera's (POST /sequence to start one, GET
// /sequence to read it, then stop, pause or resume it; also under
// /cameras/<id>) and the rig's timelapse (the same under /volley/sequence,
// with the cameras to fire). None holds a camera: a sequence takes its
// cameras frame by frame on its own thread.
#include <optional>

#include "server/rig/Rig.h"
#include "server/routes/RigCameras.h"
#include "server/routes/RouteTable.h"
#include "server/routes/SequenceParams.h"
#include "server/sequence/SequenceJson.h"
#include "server/slot/CameraSlot.h"

namespace {

// Where a row's sequence lives and how its object reads.
struct OfCamera {
  static SequenceHost& host(const RouteCall& call) { return call.camera.sequence(); }
  static std::string json(const SequenceView& view, const RouteCall& call) {
    return sequenceJson(view, call.camera.id());
  }
};
struct OfRig {
  static SequenceHost& host(const RouteCall& call) { return call.rig.sequence(); }
  static std::string json(const SequenceView& view, const RouteCall& call) {
    return rigSequenceJson(view, call.rig.sequence().cameras());
  }
};

template <typename Of>
HttpReply viewReply(int status, const SequenceView& view, const RouteCall& call) {
  HttpReply reply;
  reply.status = status;
  reply.contentType = "application/json";
  reply.headers.emplace_back("Cache-Control", "no-store");
  reply.body = Of::json(view, call);
  return reply;
}

template <typename Of>
HttpReply viewOrNone(const std::optional<SequenceView>& view, const RouteCall& call) {
  return view ? viewReply<Of>(200, *view, call) : statusReply(404, "nenhuma sequencia");
}

HttpReply running() { return statusReply(409, "sequencia em andamento"); }

// The plan a start asks for, or the refusal to answer with.
std::optional<SequenceRequest> asked(const RouteCall& call, SequenceHost& host,
                                     HttpReply& refusal) {
  std::string bad;
  std::optional<SequenceRequest> plan = sequenceRequest(call.request, host.clock().wallNow(), bad);
  if (!plan) refusal = badParameter(bad);
  return plan;
}

HttpReply startCamera(const RouteCall& call) {
  SlotSequencer& sequencer = call.camera.sequence();
  HttpReply refusal;
  const std::optional<SequenceRequest> plan = asked(call, sequencer, refusal);
  if (!plan) return refusal;
  SequenceView started;
  if (!sequencer.start(plan->plan, plan->start, started)) return running();
  return viewReply<OfCamera>(201, started, call);
}

HttpReply startRig(const RouteCall& call) {
  RigSequencer& sequencer = call.rig.sequence();
  HttpReply refusal;
  const std::optional<SequenceRequest> plan = asked(call, sequencer, refusal);
  if (!plan) return refusal;
  std::vector<VolleyCamera> cameras;
  if (!camerasFor(call.request, call.rig, cameras)) {
    return statusReply(404, "camera desconhecida");
  }
  if (cameras.empty()) return badParameter("cameras");
  std::vector<std::string> ids;
  for (const VolleyCamera& camera : cameras) ids.push_back(camera.id);
  SequenceView started;
  if (!sequencer.start(plan->plan, plan->start, std::move(ids), started)) return running();
  return viewReply<OfRig>(201, started, call);
}

template <typename Of>
HttpReply read(const RouteCall& call) {
  return viewOrNone<Of>(Of::host(call).view(), call);
}

template <typename Of, std::optional<SequenceView> (SequenceHost::*act)()>
HttpReply control(const RouteCall& call) {
  return viewOrNone<Of>((Of::host(call).*act)(), call);
}

template <typename Of>
std::vector<Route> rows(const std::string& base, RouteScope scope,
                        HttpReply (*start)(const RouteCall&)) {
  const CameraAccess none = CameraAccess::None;
  return {
      {HttpMethod::Post, base, none, start, {}, {}, scope},
      {HttpMethod::Get, base, none, read<Of>, {}, {}, scope},
      {HttpMethod::Post, base + "/stop", none, control<Of, &SequenceHost::stop>, {}, {}, scope},
      {HttpMethod::Post, base + "/pause", none, control<Of, &SequenceHost::pause>, {}, {}, scope},
      {HttpMethod::Post, base + "/resume", none, control<Of, &SequenceHost::resume>, {}, {}, scope},
  };
}

}  // namespace

std::vector<Route> sequenceRoutes() {
  std::vector<Route> all = rows<OfCamera>("/sequence", RouteScope::Camera, startCamera);
  for (Route& route : rows<OfRig>("/volley/sequence", RouteScope::Server, startRig)) {
    all.push_back(std::move(route));
  }
  return all;
}
