// Placeholder until the multi-camera manager lands.
#include "camera/CameraManager.h"

CameraManager::~CameraManager() { disconnectAll(); }
std::int32_t CameraManager::connectAll(const std::string&, const std::string&) { return 0; }
void CameraManager::captureAll(std::int32_t) {}
void CameraManager::disconnectAll() {}
