// The camera object of GET /camera, GET /cameras and POST /cameras: one
// formatter, so the three answer the same members in the same order; and the
// list of every camera, as GET /cameras and the event stream's greeting give it.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

class CameraSlot;
class Rig;

// state, model, ip, mac, since_ms, reconnections, last_error,
// liveview_age_ms, downloads, attempt (only while reconnecting), suspect;
// withId puts the camera's id first, as the rig lists it.
nlohmann::ordered_json cameraJson(CameraSlot& camera, bool withId = false);

// {"cameras":[...]}: every camera with its id, in the rig's order.
nlohmann::ordered_json camerasJson(const Rig& rig);

// One line of JSON; the user's texts (addresses) may hold any bytes.
std::string jsonText(const nlohmann::ordered_json& value);
