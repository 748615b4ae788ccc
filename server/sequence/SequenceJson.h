// The sequence's texts for clients: the object GET /sequence answers and the
// data of each "sequence" event, for a camera's sequence and the rig's. One
// formatter per kind, here only.
#pragma once

#include <string>
#include <vector>

#include "camera/SequenceRun.h"

// {"state":"rodando","frame":3,"count":10,"interval_s":2,"next_due":"...",
//  "shots":15,"skipped":[...],"late_ms":{...},"bracket":[-1,0,1],...};
// "camera" after "bracket" unless camera is empty (an event, whose log puts
// the camera's id first).
std::string sequenceJson(const SequenceView& view, const std::string& camera);
// The rig's: {"rig":true, the same members, then "cameras":[ids]}.
std::string rigSequenceJson(const SequenceView& view, const std::vector<std::string>& cameras);
// A frame taken: {"frame":k,"due":..,"late_ms":1.3,"shots":[...]}; skipped:
// {"frame":k,"due":..,"skipped":true,"reason":"perdida"}. The event log puts
// "camera" first.
std::string frameEventJson(const FrameReport& report);
// The rig's frame: {"rig":true, the same members}; each shot with its
// volley's result as "volley".
std::string rigFrameEventJson(const FrameReport& report);
