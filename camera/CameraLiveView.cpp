// CameraController: the live-view pump (a fixed number of paced requests
// handed to a frame handler) and the single-picture grab.
#include <chrono>
#include <new>
#include <thread>

#include "camera/CameraController.h"
#include "camera/Defaults.h"
#include "camera/LiveViewSink.h"
#include "camera/SdkStatus.h"

namespace {

enum class Outcome { Picture, InfoFailed, NoBuffer, ImageFailed, Empty };

struct Request {
  Outcome outcome = Outcome::Empty;
  VCSDK::VcStatus status = 0;
};

// One request for a picture. On Outcome::Picture, deliver has been called
// with the picture, which lives only during that call; buffer and SDK objects
// are fresh for every request, so a change of picture size needs nothing.
template <typename Deliver>
Request requestPicture(std::int64_t handle, Deliver&& deliver) {
  Request result;
  VCSDK::VcImageInfo info;
  result.status = VCSDK::GetLiveViewImageInfo(handle, &info);
  if (!sdkOk(result.status)) {
    result.outcome = Outcome::InfoFailed;
    return result;
  }
  const std::uint32_t size = info.GetBufferSize();
  if (size == 0) {
    result.outcome = Outcome::NoBuffer;
    return result;
  }
  std::vector<std::uint8_t> buffer;
  try {
    buffer.assign(size, 0);
  } catch (const std::bad_alloc&) {
    // A size we cannot hold is treated like no picture this time.
    result.outcome = Outcome::NoBuffer;
    return result;
  }
  VCSDK::VcImageDataBlock block;
  block.SetSize(size);
  block.SetData(buffer.data());
  result.status = VCSDK::GetLiveViewImage(handle, &block);
  if (!sdkOk(result.status)) {
    result.outcome = Outcome::ImageFailed;
    return result;
  }
  const std::uint8_t* data = block.GetImageData();
  const std::uint32_t length = block.GetImageSize();
  // The picture must lie inside the buffer we handed over; anything else
  // would read memory that is not ours.
  const std::uint8_t* begin = buffer.data();
  const std::uint8_t* end = begin + size;
  if (length == 0 || data == nullptr || data < begin || data > end ||
      length > static_cast<std::size_t>(end - data)) {
    result.outcome = Outcome::Empty;
    return result;
  }
  result.outcome = Outcome::Picture;
  deliver(data, length);
  return result;
}

void pause() { std::this_thread::sleep_for(std::chrono::milliseconds(defaults::kLiveViewPaceMs)); }

}  // namespace

void CameraController::runLiveView(const FrameHandler& handler, std::int32_t attempts) {
  for (std::int32_t i = 0; i < attempts; ++i) {
    bool goOn = true;
    const Request r =
        requestPicture(deviceHandle, [&](const std::uint8_t* data, std::uint32_t length) {
          goOn = handler ? handler(data, length) : false;
        });
    switch (r.outcome) {
      case Outcome::InfoFailed:
        okOrError(r.status, "GetLiveViewImageInfo");
        return;
      case Outcome::ImageFailed:
        okOrError(r.status, "GetLiveViewImage");
        break;
      case Outcome::Picture:
        if (!goOn) return;
        break;
      case Outcome::NoBuffer:
      case Outcome::Empty:
        break;
    }
    pause();
  }
}

void CameraController::runLiveView(LiveViewSink& sink, std::int32_t attempts) {
  runLiveView(
      [&sink](const std::uint8_t* data, std::uint32_t length) { return sink.push(data, length); },
      attempts);
}

bool CameraController::grabLiveViewFrame(std::vector<std::uint8_t>& out) {
  if (!hasDevice()) return false;
  const Request r = requestPicture(
      deviceHandle,
      [&out](const std::uint8_t* data, std::uint32_t length) { out.assign(data, data + length); });
  return r.outcome == Outcome::Picture;
}
