// GET /liveview.mjpg through the router, over the fake camera: refused like
// /liveview.jpg without a camera, paused (not ended) while a connect holds
// the camera, ended with the closing boundary once the camera has gone by a
// disconnect or a lost link.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "FakeSdk.h"
#include "server/rig/Rig.h"
#include "server/routes/Router.h"
#include "tests/support/RouteRequest.h"
#include "tests/support/StatusReply.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

HttpRequest request(HttpMethod method, const std::string& path, HttpFields params = {}) {
  return routeRequest(method, path, std::move(params));
}

const HttpFields kCamera = {{"ip", "127.0.30.9"}, {"mac", "02:00:00:00:1e:09"}};

// Asks the stream until it gives something other than Idle, or 2 s pass.
ReplyStream::Next nextBusy(ReplyStream& stream, StreamChunk& out) {
  const Clock::time_point end = Clock::now() + 2s;
  ReplyStream::Next n = stream.next(out);
  while (n == ReplyStream::Next::Idle && Clock::now() < end) {
    std::this_thread::sleep_for(5ms);
    n = stream.next(out);
  }
  return n;
}

class LiveViewRouteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::sdk().reset();
    std::vector<fake::LiveViewStep> steps(3000);
    for (std::size_t i = 0; i < steps.size(); ++i) {
      steps[i].picture = fake::jpegBytes(200, static_cast<std::uint8_t>(i));
    }
    fake::sdk().queueLiveView(steps);
  }
  // The slot (a member) lets its camera go after TearDown, so the fake is
  // reset only by the next SetUp.

  HttpReply get(const std::string& path) { return router.handle(request(HttpMethod::Get, path)); }
  HttpReply post(const std::string& path, HttpFields params = {}) {
    return router.handle(request(HttpMethod::Post, path, std::move(params)));
  }

  EventLog events;
  Rig rig{events, SlotOptions()};
  CameraSlot& slot = rig.main();
  Router router{rig, "kamora-test", AccessToken("")};
};

TEST_F(LiveViewRouteTest, WithoutACameraAnswersAsTheSinglePicture) {
  for (const char* path : {"/liveview.mjpg", "/liveview.jpg"}) {
    SCOPED_TRACE(path);
    const HttpReply reply = get(path);
    EXPECT_EQ(reply.status, 503);
    EXPECT_EQ(reply.body, statusBody("live view indisponivel"));
    EXPECT_FALSE(reply.stream);
  }
}

TEST_F(LiveViewRouteTest, PausesThroughAConnectAndEndsWhenTheCameraGoes) {
  ASSERT_EQ(post("/connect", kCamera).status, 200);
  HttpReply reply = get("/liveview.mjpg");
  ASSERT_EQ(reply.status, 200);
  EXPECT_EQ(reply.contentType, "multipart/x-mixed-replace; boundary=kamoraframe");
  ASSERT_TRUE(reply.stream);
  ReplyStream& stream = *reply.stream;
  stream.open([] {});
  StreamChunk part;
  ASSERT_EQ(nextBusy(stream, part), ReplyStream::Next::Data);

  // A connect holding the camera, the old link already let go and the new
  // one not yet made: the stream waits instead of ending.
  std::atomic<bool> connected{false}, done{false};
  std::thread reconnect([&] {
    CameraGate::Teardown alone(slot.gate());  // as the router holds it for /connect
    slot.controller().disconnect();
    std::this_thread::sleep_for(300ms);
    connected = slot.controller().connectIp("127.0.30.9", "02:00:00:00:1e:09",
                                            VCSDK::VcCameraModel_SB_A4, false, "", "") &&
                slot.controller().waitConnected(2000);
    done = true;
  });
  int asked = 0, ended = 0;
  while (!done.load()) {
    if (stream.next(part) == ReplyStream::Next::End) ++ended;
    ++asked;
    std::this_thread::sleep_for(5ms);
  }
  reconnect.join();
  EXPECT_GT(asked, 20);
  EXPECT_EQ(ended, 0);
  ASSERT_TRUE(connected.load());
  const std::string before = part.head;
  ASSERT_EQ(nextBusy(stream, part), ReplyStream::Next::Data) << "pictures again after the connect";
  EXPECT_NE(part.head, before);

  // A capture beside it does not end it either; a disconnect does.
  fake::sdk().onShutterRelease(fake::Event::download());
  ASSERT_EQ(post("/capture").body, statusBody("1 foto(s)"));
  ASSERT_EQ(nextBusy(stream, part), ReplyStream::Next::Data);
  ASSERT_EQ(post("/disconnect").status, 200);
  ASSERT_EQ(nextBusy(stream, part), ReplyStream::Next::End);
  EXPECT_EQ(part.head, "--kamoraframe--\r\n");
  EXPECT_FALSE(part.payload);
  stream.close();
}

TEST_F(LiveViewRouteTest, ALostLinkEndsTheStream) {
  ASSERT_EQ(post("/connect", kCamera).status, 200);
  HttpReply reply = get("/liveview.mjpg");
  ASSERT_TRUE(reply.stream);
  reply.stream->open([] {});
  StreamChunk part;
  ASSERT_EQ(nextBusy(*reply.stream, part), ReplyStream::Next::Data);
  fake::sdk().fire(fake::sdk().lastHandle(), fake::Event::disconnected(0x8107));
  ASSERT_EQ(nextBusy(*reply.stream, part), ReplyStream::Next::End);
  EXPECT_EQ(part.head, "--kamoraframe--\r\n");
  reply.stream->close();
}

}  // namespace
