// Two console tabs polling at their normal pace while a three-shot capture
// waits for its downloads: every poll is answered promptly and the live view
// keeps flowing, against the real program and a virtual camera.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <thread>
#include <vector>

#include "tests/support/KamoraServer.h"
#include "tests/support/Poller.h"
#include "tests/support/Sanitized.h"
#include "tests/support/StatusReply.h"
#include "tests/support/Vcam.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(HttpConcurrencyTest, TwoTabsDuringThreeShotCapture) {
  auto cam = VirtualCamera::start("127.0.54.1", "02:00:00:00:54:01");
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  auto server = KamoraServer::start("127.0.54.2");
  ASSERT_TRUE(server) << KamoraServer::lastError();
  httplib::Client control = server->client();
  auto conn = control.Post("/connect?ip=127.0.54.1&mac=02:00:00:00:54:01");
  ASSERT_TRUE(conn);
  ASSERT_EQ(conn->status, 200);
  ASSERT_TRUE(cam->fault("capture-delay", {{"ms", "800"}, {"count", "3"}}));

  std::deque<Poller> pollers;
  for (int tab = 0; tab < 2; ++tab) addConsoleTab(pollers, "/liveview.jpg?t=1");
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  for (Poller& p : pollers)
    threads.emplace_back([&p, &server, &done] { p.run(server->host(), server->port(), done); });
  std::this_thread::sleep_for(milliseconds(300));

  const int picturesBefore = pollers[0].pictures + pollers[6].pictures;
  const auto t0 = Clock::now();
  auto capture = control.Post("/capture?shots=3");
  const long long captureMs = std::chrono::duration_cast<milliseconds>(Clock::now() - t0).count();
  const int picturesDuring = pollers[0].pictures + pollers[6].pictures - picturesBefore;
  done = true;
  for (std::thread& t : threads) t.join();

  ASSERT_TRUE(capture);
  EXPECT_EQ(capture->body, statusBody("3 foto(s)"));
  EXPECT_GE(captureMs, 2400);
  for (const Poller& p : pollers) {
    SCOPED_TRACE(p.path);
    EXPECT_EQ(p.failed, 0);
    EXPECT_GT(p.answered, 0);
    EXPECT_LT(p.slowestMs, 500 * kSlowdown);
  }
  // Two tabs at one picture per 150 ms plus its fetch time: expect at least
  // half of what the pace allows.
  EXPECT_GT(picturesDuring, static_cast<int>(captureMs / 200 / kSlowdown)) << captureMs << " ms";
}

}  // namespace
