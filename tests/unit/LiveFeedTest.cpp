// The live-view feed's contract over the fake camera: one grab loop serves
// every viewer, repeats are skipped, the loop pauses while a connect or
// disconnect holds the camera, and an unwatched camera is not polled.
#include <atomic>
#include <thread>
#include <vector>

#include "CameraTestHarness.h"
#include "server/slot/CameraGate.h"
#include "server/slot/LiveFeed.h"
#include "server/slot/MjpegStream.h"
#include "tests/support/Sanitized.h"
#include "tests/support/Until.h"

namespace {

using namespace std::chrono_literals;

class LiveFeedTest : public CameraTest {
 protected:
  // Every grab yields a picture unlike the one before.
  void changingPictures(int count) {
    std::vector<fake::LiveViewStep> steps(count);
    for (int i = 0; i < count; ++i) steps[i].picture = fake::jpegBytes(256, i & 0xFF);
    fake::sdk().queueLiveView(steps);
  }
};

TEST_F(LiveFeedTest, OneLoopServesEveryViewerAndStopsWhenTheyLeave) {
  CameraController camera;
  connect(camera);
  changingPictures(1000);
  CameraGate gate;
  LiveFeed feed(camera, gate, 30);
  EXPECT_FALSE(feed.running());
  EXPECT_EQ(feed.grabCount(), 0u);  // an unwatched camera is not polled

  std::atomic<int> wakes[4] = {};
  std::vector<std::unique_ptr<LiveFeed::Viewer>> viewers;
  for (auto& w : wakes) viewers.push_back(feed.watch([&w] { ++w; }));
  std::this_thread::sleep_for(600ms);
  const std::uint64_t grabs = feed.grabCount();
  const LiveFrame newest = feed.latest();
  viewers.clear();

  // About 18 grabs in 600 ms at 30 a second, whatever the number of viewers.
  EXPECT_GE(grabs, 12u / kSlowdown);
  EXPECT_LE(grabs, 22u);
  ASSERT_TRUE(newest.jpeg);
  EXPECT_GE(newest.sequence, 12u / kSlowdown);
  // Every picture woke every viewer, but the one published as they left
  // may have found them gone.
  for (auto& w : wakes) EXPECT_GE(w.load(), static_cast<int>(newest.sequence) - 1);

  std::this_thread::sleep_for(LiveFeed::kLinger + 300ms);
  EXPECT_FALSE(feed.running());
  const std::uint64_t settled = feed.grabCount();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(feed.grabCount(), settled);
  EXPECT_FALSE(feed.fresh().jpeg);  // nothing counts as fresh once stopped
}

TEST_F(LiveFeedTest, SkipsRepeatsAndPausesWhileTheCameraIsTornDown) {
  CameraController camera;
  connect(camera);
  fake::LiveViewStep same;
  same.picture = fake::jpegBytes(300, 7);
  fake::sdk().setLiveView(same);
  CameraGate gate;
  LiveFeed feed(camera, gate, 50);
  auto viewer = feed.watch();
  std::this_thread::sleep_for(300ms);
  EXPECT_GE(feed.grabCount(), 5u);
  EXPECT_EQ(feed.latest().sequence, 1u);  // the same picture is published once

  std::uint64_t during = 0;
  {
    CameraGate::Teardown alone(gate);
    std::this_thread::sleep_for(50ms);
    during = feed.grabCount();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(feed.grabCount(), during);
  }
  std::this_thread::sleep_for(300ms);
  EXPECT_GT(feed.grabCount(), during + 5);  // back by itself
}

TEST_F(LiveFeedTest, ARepeatIsAskedAgainSoonSoTheFeedKeepsTheCamerasRate) {
  CameraController camera;
  connect(camera);
  // A camera whose clock runs just behind the feed's: every other grab
  // meets the picture already sent.
  std::vector<fake::LiveViewStep> steps(2000);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    steps[i].picture = fake::jpegBytes(256, static_cast<std::uint8_t>(i / 2));
  }
  fake::sdk().queueLiveView(steps);
  CameraGate gate;
  LiveFeed feed(camera, gate, 30);
  auto viewer = feed.watch();
  std::this_thread::sleep_for(1000ms);
  const std::uint64_t published = feed.latest().sequence;
  const std::uint64_t grabs = feed.grabCount();
  viewer.reset();
  // About 30 a second, not the 15 that one grab per interval would give,
  // and never above the cap.
  EXPECT_GE(published, 24u / kSlowdown);
  EXPECT_LE(published, 32u);
  EXPECT_LE(grabs, 2 * published + 6);
}

TEST_F(LiveFeedTest, TheLoopGrabsAtTheRateItsFastestViewerNeeds) {
  CameraController camera;
  connect(camera);
  changingPictures(2000);
  CameraGate gate;
  LiveFeed feed(camera, gate, 30);
  const auto grabsTake = [&feed](std::uint64_t more) {
    const std::uint64_t from = feed.grabCount();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(until([&] { return feed.grabCount() >= from + more; }, 5s,
                      [&] { return std::to_string(feed.grabCount() - from) + " grabs"; }));
    return std::chrono::steady_clock::now() - start;
  };
  const struct {
    int fps;
    std::chrono::microseconds interval;
  } asks[] = {{0, 33333us}, {8, 125000us}, {1000, 33333us}, {-3, 33333us}};
  for (const auto& ask : asks) {
    auto viewer = feed.watch({}, ask.fps);
    EXPECT_EQ(feed.grabInterval(), ask.interval) << ask.fps;
  }

  auto tiles = feed.watch({}, 8);
  EXPECT_EQ(feed.grabInterval(), 125000us);
  // Four grabs at 8 a second take most of half a second, never less. A slower
  // rate takes effect after the grab already due at the faster one, so the
  // count starts after that grab.
  grabsTake(1);
  EXPECT_GE(grabsTake(5), 4 * 125ms * 9 / 10);
  {
    auto full = feed.watch({}, 0);
    EXPECT_EQ(feed.grabInterval(), 33333us);
    grabsTake(10);  // at the cap now: within the deadline, however loaded
  }
  EXPECT_EQ(feed.grabInterval(), 125000us);
  grabsTake(1);
  EXPECT_GE(grabsTake(5), 4 * 125ms * 9 / 10);
}

TEST_F(LiveFeedTest, MjpegPartsCarryTheFrameAndEndWithTheClosingBoundary) {
  CameraController camera;
  connect(camera);
  changingPictures(1000);
  CameraGate gate;
  LiveFeed feed(camera, gate, 30);
  std::atomic<bool> gone{false};
  HttpReply reply = mjpegReply(feed, [&gone] { return gone.load(); });
  EXPECT_EQ(reply.contentType, "multipart/x-mixed-replace; boundary=kamoraframe");
  ASSERT_TRUE(reply.stream);
  std::atomic<int> wakes{0};
  reply.stream->open([&wakes] { ++wakes; });
  while (wakes.load() < 3) std::this_thread::sleep_for(5ms);

  StreamChunk part;
  ASSERT_EQ(reply.stream->next(part), ReplyStream::Next::Data);
  ASSERT_TRUE(part.payload);
  const std::string size = std::to_string(part.payload->size());
  EXPECT_EQ(part.head.rfind("--kamoraframe\r\nContent-Type: image/jpeg\r\nContent-Length: " + size +
                                "\r\nX-Timestamp: ",
                            0),
            0u);
  EXPECT_NE(part.head.find("\r\nX-Frame: "), std::string::npos);
  EXPECT_EQ(part.tail, "\r\n");
  // The newest picture only: asking again at once has nothing new to send.
  EXPECT_EQ(reply.stream->next(part), ReplyStream::Next::Idle);

  gone = true;
  ASSERT_EQ(reply.stream->next(part), ReplyStream::Next::End);
  EXPECT_EQ(part.head, "--kamoraframe--\r\n");
  reply.stream->close();
}

}  // namespace
