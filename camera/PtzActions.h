// The pan/tilt actions, one row each: the name the command line's --do takes,
// the HTTP route's path, the values it reads and the controller call it makes.
// The command line and the server both work from this table. Immutable: safe
// from any thread (the calls themselves follow CameraController's rules).
#pragma once

#include <array>
#include <cstdint>
#include <string>

class CameraController;

// The values an action may take; each action reads only those of its kind.
// The defaults are those of the command line and the HTTP parameters.
struct PtzValues {
  std::int32_t pan = 0;
  std::int32_t tilt = 0;
  std::int32_t speed = 10;
  std::uint16_t preset = 1;
};

enum class PtzTakes { Nothing, PanTilt, PanTiltSpeed, Preset };

// What an action does to the head, for those that must order or time its
// commands (the server's lease and stop).
enum class PtzEffect {
  Continuous,   // turns until stopped
  ToTarget,     // goes to a position and stops there
  Stop,         // stops the head
  StorePreset,  // remembers the position; the head does not move
  ClearPreset,  // forgets one; the head does not move
};

struct PtzAction {
  const char* name;  // --do
  const char* path;  // HTTP route
  PtzTakes takes;
  PtzEffect effect;
  // The controller's answer: false without a camera or when the head refused.
  bool (*run)(CameraController& controller, const PtzValues& values);
};

// Every action, in the order of the HTTP routes.
const std::array<PtzAction, 7>& ptzActions();

// The action with that --do name; null when there is none.
const PtzAction* findPtzAction(const std::string& name);
