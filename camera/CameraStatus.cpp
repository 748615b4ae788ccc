// Placeholder until the status read-out lands.
#include "camera/CameraController.h"

std::string CameraController::getPropertiesJson() { return "{}"; }
