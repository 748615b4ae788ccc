// JSON for sequences: whole offsets print as whole numbers (-2, not -2.0),
// times as UTC ISO texts, milliseconds to the microsecond.
#include "server/sequence/SequenceJson.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "common/IsoTime.h"

namespace {

using nlohmann::ordered_json;

ordered_json number(double value) {
  if (std::floor(value) == value && std::fabs(value) < 1e15) {
    return ordered_json(static_cast<long long>(value));
  }
  return ordered_json(value);
}

ordered_json millis(double ms) { return number(std::round(ms * 1000.0) / 1000.0); }

std::string oneLine(const ordered_json& data) {
  return data.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

ordered_json offsets(const std::vector<double>& bracket) {
  ordered_json list = ordered_json::array();
  for (double ev : bracket) list.push_back(number(ev));
  return list;
}

// The members every sequence object has; camera after "bracket" unless empty.
ordered_json sequenceObject(ordered_json o, const SequenceView& view, const std::string& camera) {
  o["state"] = sequenceStateName(view.state);
  o["frame"] = view.frame;
  o["count"] = view.plan.count;
  o["interval_s"] = number(static_cast<double>(view.plan.interval.count()) / 1e9);
  o["next_due"] = view.nextDue ? ordered_json(isoUtc(*view.nextDue)) : ordered_json();
  o["shots"] = view.shots;
  ordered_json skipped = ordered_json::array();
  for (const SkippedRun& run : view.skipped) {
    skipped.push_back(
        {{"frame", run.frame}, {"frames", run.frames}, {"reason", skipReasonName(run.reason)}});
  }
  o["skipped"] = std::move(skipped);
  const bool any = view.lateCount > 0;
  o["late_ms"] = {{"p50", any ? millis(view.lateP50Ms) : ordered_json()},
                  {"p95", any ? millis(view.lateP95Ms) : ordered_json()},
                  {"max", any ? millis(view.lateMaxMs) : ordered_json()}};
  o["bracket"] = offsets(view.plan.bracket);
  if (!camera.empty()) o["camera"] = camera;
  o["start"] = isoUtc(view.start);
  o["taken"] = view.taken;
  o["skipped_total"] = view.skippedTotal;
  return o;
}

ordered_json frameObject(ordered_json o, const FrameReport& report) {
  o["frame"] = report.frame;
  o["due"] = isoUtc(report.due);
  if (report.skipped) {
    o["skipped"] = true;
    o["reason"] = skipReasonName(*report.skipped);
    return o;
  }
  o["late_ms"] = millis(static_cast<double>(report.late.count()) / 1e6);
  ordered_json shots = ordered_json::array();
  for (const ShotReport& shot : report.shots) {
    ordered_json s;
    s["ev"] = number(shot.ev);
    s["file"] = shot.file.empty() ? ordered_json() : ordered_json(shot.file);
    s["ok"] = shot.ok;
    if (!shot.applied.empty()) s["applied"] = shot.applied;
    if (!shot.error.empty()) s["error"] = shot.error;
    if (!shot.detail.empty()) s["volley"] = ordered_json::parse(shot.detail, nullptr, false);
    shots.push_back(std::move(s));
  }
  o["shots"] = std::move(shots);
  return o;
}

ordered_json rigMark() {
  ordered_json o;
  o["rig"] = true;
  return o;
}

}  // namespace

std::string sequenceJson(const SequenceView& view, const std::string& camera) {
  return oneLine(sequenceObject(ordered_json::object(), view, camera));
}

std::string rigSequenceJson(const SequenceView& view, const std::vector<std::string>& cameras) {
  ordered_json o = sequenceObject(rigMark(), view, "");
  o["cameras"] = cameras;
  return oneLine(o);
}

std::string frameEventJson(const FrameReport& report) {
  return oneLine(frameObject(ordered_json::object(), report));
}

std::string rigFrameEventJson(const FrameReport& report) {
  return oneLine(frameObject(rigMark(), report));
}
