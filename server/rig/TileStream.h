// TileStream: the body of GET /tiles.mjpg, every camera of the rig in one
// multipart stream, so that a console showing a tile per camera holds one
// connection however many cameras there are (a browser keeps six per
// server for all its tabs). Each picture part names its camera (X-Camera)
// and kind (X-View): "tile", the camera's small copy (TileFeed), or "full",
// the live-view picture of the one camera asked for in full, at most a
// given rate, which goes first when both are new. Cameras added while it
// runs join it and removed ones leave it; a reader that falls behind gets each
// camera's newest picture next, never a backlog. The full picture may move to
// another camera while the stream runs (moveFull). Thread-safe, as
// ReplyStream asks; moveFull from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/ThreadAnnotations.h"
#include "server/http/HttpTypes.h"
#include "server/rig/Rig.h"

struct TileStreamOptions {
  std::shared_ptr<CameraSlot> full;  // whose full pictures go along; null: none
  int fullFps = 0;                   // at most this many a second; 0: every one
};

class TileStream : public ReplyStream {
 public:
  TileStream(Rig& rig, TileStreamOptions options);
  ~TileStream() override;

  void open(std::function<void()> wake) override;
  Next next(StreamChunk& out) override;
  void close() override;

  // From the next part on, the full pictures are those `options` asks
  // for (none when its camera is null), sent from that camera's newest.
  void moveFull(TileStreamOptions options) EXCLUDES(mutex_);

 private:
  struct Watched {
    std::shared_ptr<CameraSlot> slot;          // keeps the feed the viewer is with
    std::unique_ptr<TileFeed::Viewer> viewer;  // destroyed first (declared after)
    std::uint64_t sent = 0;                    // sequence of the last copy sent
  };
  // Brings the cameras watched in line with the rig's.
  void follow();
  // Takes up the full pictures moveFull asked for, if it did.
  void takeMove() EXCLUDES(mutex_);
  void watchFull();
  bool nextTile(StreamChunk& out);
  bool nextFull(StreamChunk& out);

  Rig& rig_;
  TileStreamOptions options_;
  std::function<void()> wake_;
  std::vector<Watched> cameras_;  // in the rig's order
  std::size_t turn_ = 0;          // the camera looked at first next time
  bool fullLast_ = false;         // the last part was the full picture
  std::unique_ptr<LiveFeed::Viewer> fullViewer_;
  std::uint64_t fullSent_ = 0;
  std::chrono::microseconds fullInterval_;         // 0: every picture
  std::chrono::steady_clock::time_point fullDue_;  // when the next may go

  Mutex mutex_;
  std::function<void()> wakeOnMove_ GUARDED_BY(mutex_);
  bool moved_ GUARDED_BY(mutex_) = false;
  TileStreamOptions move_ GUARDED_BY(mutex_);
};

// The reply of GET /tiles.mjpg: the stream with its headers, among them
// X-Stream, its id in the rig's tileStreams() for POST /tiles/full.
HttpReply tileStreamReply(Rig& rig, TileStreamOptions options);
