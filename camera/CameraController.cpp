// Placeholder until the camera layer lands: every operation fails.
#include "camera/CameraController.h"

#include "camera/LiveViewSink.h"

CameraController::CameraController() = default;
CameraController::~CameraController() { disconnect(); }
bool CameraController::connectIp(const std::string&, const std::string&,
                                 VCSDK::VcCameraDeviceModelList, bool, const std::string&,
                                 const std::string&) { return false; }
bool CameraController::connectFromInfo(VCSDK::IVcCameraObjectInfo*) { return false; }
bool CameraController::waitConnected(int) { return false; }
void CameraController::disconnect() {}
bool CameraController::setIso(std::uint32_t) { return false; }
bool CameraController::setFNumber(double) { return false; }
bool CameraController::setShutterSpeed(std::uint16_t, std::uint16_t) { return false; }
bool CameraController::setExposureBias(double) { return false; }
bool CameraController::setupForPcCapture(const std::string&, const std::string&) { return false; }
bool CameraController::capturePhoto(int) { return false; }
void CameraController::runLiveView(const FrameHandler&, std::int32_t) {}
void CameraController::runLiveView(LiveViewSink&, std::int32_t) {}
bool CameraController::grabLiveViewFrame(std::vector<std::uint8_t>&) { return false; }
bool CameraController::ptzMove(std::int32_t, std::int32_t) { return false; }
bool CameraController::ptzAbsolute(std::int32_t, std::int32_t, std::int32_t) { return false; }
bool CameraController::ptzHome() { return false; }
bool CameraController::ptzStop() { return false; }
bool CameraController::ptzPresetSet(std::uint16_t) { return false; }
bool CameraController::ptzPresetRecall(std::uint16_t) { return false; }
bool CameraController::ptzPresetClear(std::uint16_t) { return false; }
