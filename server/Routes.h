// Registration of the API's routes, by group, in the order of the route
// table: fixed routes, camera routes, pan/tilt routes.
#pragma once

#include <httplib.h>

#include <atomic>

#include "camera/CameraController.h"
#include "server/CameraGate.h"

// "/zef", "/status", "/": they never touch the camera.
void addFixedRoutes(httplib::Server& server);

// "/connect" ... "/liveview.jpg". stopping ends a multi-shot capture early
// when the server is shutting down.
void addCameraRoutes(httplib::Server& server, CameraController& controller, CameraGate& gate,
                     const std::atomic<bool>& stopping);

// "/ptz/move" ... "/ptz/preset/clear".
void addPtzRoutes(httplib::Server& server, CameraController& controller, CameraGate& gate);

// The banner text of "/zef".
extern const char kZefBanner[];
