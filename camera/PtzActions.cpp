// The pan/tilt action table.
#include "camera/PtzActions.h"

#include "camera/CameraController.h"

const std::array<PtzAction, 7>& ptzActions() {
  using C = CameraController;
  using V = PtzValues;
  static const std::array<PtzAction, 7> actions = {{
      {"home", "/ptz/home", PtzTakes::Nothing, PtzEffect::ToTarget,
       [](C& c, const V&) { return c.ptzHome(); }},
      {"stop", "/ptz/stop", PtzTakes::Nothing, PtzEffect::Stop,
       [](C& c, const V&) { return c.ptzStop(); }},
      {"move", "/ptz/move", PtzTakes::PanTilt, PtzEffect::Continuous,
       [](C& c, const V& v) { return c.ptzMove(v.pan, v.tilt); }},
      {"absolute", "/ptz/absolute", PtzTakes::PanTiltSpeed, PtzEffect::ToTarget,
       [](C& c, const V& v) { return c.ptzAbsolute(v.pan, v.tilt, v.speed); }},
      {"preset-set", "/ptz/preset/set", PtzTakes::Preset, PtzEffect::StorePreset,
       [](C& c, const V& v) { return c.ptzPresetSet(v.preset); }},
      {"preset-recall", "/ptz/preset/recall", PtzTakes::Preset, PtzEffect::ToTarget,
       [](C& c, const V& v) { return c.ptzPresetRecall(v.preset); }},
      {"preset-clear", "/ptz/preset/clear", PtzTakes::Preset, PtzEffect::ClearPreset,
       [](C& c, const V& v) { return c.ptzPresetClear(v.preset); }},
  }};
  return actions;
}

const PtzAction* findPtzAction(const std::string& name) {
  for (const PtzAction& action : ptzActions()) {
    if (name == action.name) return &action;
  }
  return nullptr;
}
