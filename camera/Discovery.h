// Camera discovery as the command-line modes print it: one listening run of
// the SDK and the line that says what it found. Thread-bound, like its callers.
#pragma once

#include "vcsdk/VcSDK.h"

// The cameras that answered within the discovery time, after printing their
// number; null (after printing that none was found, with the SDK's code)
// when the SDK found nothing. The caller releases the list.
VCSDK::IVcEnumCameraObjectInfo* discoverCameras();
