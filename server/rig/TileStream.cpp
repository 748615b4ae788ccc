// Every camera's pictures, small and one in full, as parts of one stream.
#include "server/rig/TileStream.h"

#include <algorithm>
#include <utility>

#include "server/slot/MjpegStream.h"

namespace {

std::string fields(const CameraSlot& camera, const char* view) {
  return "X-Camera: " + camera.id() + "\r\nX-View: " + view + "\r\n";
}

void partOf(const LiveFrame& frame, const CameraSlot& camera, const char* view, StreamChunk& out) {
  out.head = MjpegStream::partHeader(frame, fields(camera, view));
  out.payload = frame.jpeg;
  out.tail = "\r\n";
}

std::chrono::microseconds intervalOf(int fps) {
  return fps > 0 ? std::chrono::microseconds(1000000 / fps) : std::chrono::microseconds(0);
}

}  // namespace

TileStream::TileStream(Rig& rig, TileStreamOptions options)
    : rig_(rig), options_(std::move(options)), fullInterval_(intervalOf(options_.fullFps)) {}

TileStream::~TileStream() { close(); }

void TileStream::open(std::function<void()> wake) {
  wake_ = std::move(wake);
  {
    MutexLock lock(mutex_);
    wakeOnMove_ = wake_;
  }
  watchFull();
  follow();
}

void TileStream::watchFull() {
  fullViewer_.reset();
  if (options_.full) fullViewer_ = options_.full->feed().watch(wake_, options_.fullFps);
}

void TileStream::moveFull(TileStreamOptions options) {
  std::function<void()> wake;
  {
    MutexLock lock(mutex_);
    move_ = std::move(options);
    moved_ = true;
    wake = wakeOnMove_;
  }
  if (wake) wake();
}

void TileStream::takeMove() {
  TileStreamOptions move;
  {
    MutexLock lock(mutex_);
    if (!moved_) return;
    moved_ = false;
    move = std::move(move_);
  }
  options_ = std::move(move);
  fullInterval_ = intervalOf(options_.fullFps);
  fullSent_ = 0;  // another camera's pictures count from their own start
  fullDue_ = {};
  watchFull();
}

void TileStream::follow() {
  const std::vector<std::shared_ptr<CameraSlot>> now = rig_.all();
  // A removed camera leaves at once: the stream must not keep it whole.
  const auto gone = [&now](const Watched& w) {
    return w.slot->retired() || std::find(now.begin(), now.end(), w.slot) == now.end();
  };
  // A camera's viewer goes before its slot, which may be the last hold on
  // the feed the viewer is registered with. Not remove_if: moving an entry
  // over a gone one would drop the gone slot before its viewer.
  for (auto it = cameras_.begin(); it != cameras_.end();) {
    if (!gone(*it)) {
      ++it;
      continue;
    }
    it->viewer.reset();
    it = cameras_.erase(it);
  }
  for (const std::shared_ptr<CameraSlot>& slot : now) {
    const bool watched = std::any_of(cameras_.begin(), cameras_.end(),
                                     [&slot](const Watched& w) { return w.slot == slot; });
    if (!watched && !slot->retired()) cameras_.push_back({slot, slot->tiles().watch(wake_), 0});
  }
  if (options_.full && options_.full->retired()) {
    fullViewer_.reset();
    options_.full.reset();
  }
}

bool TileStream::nextFull(StreamChunk& out) {
  if (!fullViewer_) return false;
  const LiveFrame frame = options_.full->feed().latest();
  if (!frame.jpeg || frame.sequence <= fullSent_) return false;
  // Not due yet: the newest goes at a later wake (tiles come several a
  // second). Due on a schedule, as TileFeed's copies are.
  const auto now = std::chrono::steady_clock::now();
  if (now < fullDue_) return false;
  fullDue_ = std::max(fullDue_ + fullInterval_, now + fullInterval_ / 2);
  fullSent_ = frame.sequence;
  partOf(frame, *options_.full, "full", out);
  return true;
}

bool TileStream::nextTile(StreamChunk& out) {
  // Round the cameras from the one after the last sent, so that a busy
  // camera cannot keep the others waiting.
  for (std::size_t k = 0; k < cameras_.size(); ++k) {
    const std::size_t at = (turn_ + k) % cameras_.size();
    Watched& camera = cameras_[at];
    const LiveFrame frame = camera.slot->tiles().latest();
    if (!frame.jpeg || frame.sequence <= camera.sent) continue;
    camera.sent = frame.sequence;
    turn_ = at + 1;
    partOf(frame, *camera.slot, "tile", out);
    return true;
  }
  return false;
}

ReplyStream::Next TileStream::next(StreamChunk& out) {
  out = StreamChunk();
  takeMove();
  follow();
  // The full picture goes first, but never twice in a row while a tile waits.
  if (!fullLast_ && nextFull(out)) {
    fullLast_ = true;
    return Next::Data;
  }
  if (nextTile(out)) {
    fullLast_ = false;
    return Next::Data;
  }
  if (nextFull(out)) return Next::Data;
  return Next::Idle;
}

void TileStream::close() {
  {
    // A move asked for after this wakes nothing: the connection may be gone.
    MutexLock lock(mutex_);
    wakeOnMove_ = nullptr;
    moved_ = false;
    move_ = TileStreamOptions();
  }
  fullViewer_.reset();
  cameras_.clear();
}

HttpReply tileStreamReply(Rig& rig, TileStreamOptions options) {
  HttpReply reply;
  reply.contentType = std::string("multipart/x-mixed-replace; boundary=") + MjpegStream::kBoundary;
  auto stream = std::make_shared<TileStream>(rig, std::move(options));
  reply.headers = {{"Cache-Control", "no-cache, no-store"},
                   {"Pragma", "no-cache"},
                   {"X-Stream", rig.tileStreams().add(stream)}};
  reply.stream = std::move(stream);
  return reply;
}
