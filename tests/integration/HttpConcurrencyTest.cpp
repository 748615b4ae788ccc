// Two console tabs polling at their normal pace while a three-shot capture
// waits for its downloads: every poll is answered promptly and the live view
// keeps flowing, against the real program and a virtual camera.
#include <algorithm>
#include <atomic>
#include <deque>

#include "HttpTestProcesses.h"

namespace {

using namespace httptest;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Poller {
  Poller(std::string p, int period) : path(std::move(p)), periodMs(period) {}
  std::string path;
  int periodMs;
  int answered = 0;
  std::atomic<int> pictures{0};  // read while the poll runs
  int failed = 0;
  long long slowestMs = 0;
};

void poll(const std::string& host, Poller& p, const std::atomic<bool>& done) {
  httplib::Client c(host, 8080);
  c.set_keep_alive(true);
  c.set_read_timeout(30, 0);
  while (!done.load()) {
    const auto t0 = Clock::now();
    auto r = c.Get(p.path.c_str());
    p.slowestMs = std::max<long long>(
        p.slowestMs, std::chrono::duration_cast<milliseconds>(Clock::now() - t0).count());
    if (r && r->status == 200) {
      ++p.answered;
      if (r->get_header_value("Content-Type") == "image/jpeg") ++p.pictures;
    } else {
      ++p.failed;
    }
    std::this_thread::sleep_for(milliseconds(p.periodMs));
  }
}

TEST(HttpConcurrencyTest, TwoTabsDuringThreeShotCapture) {
  auto cam = startVcam("127.0.54.1", "02:00:00:00:54:01", "SB_A4");
  ASSERT_TRUE(cam);
  auto server = startKamora("127.0.54.2");
  ASSERT_TRUE(server);
  httplib::Client control = server->client();
  auto conn = control.Post("/connect?ip=127.0.54.1&mac=02:00:00:00:54:01");
  ASSERT_TRUE(conn);
  ASSERT_EQ(conn->status, 200);
  ASSERT_TRUE(cam->fault("name=capture-delay&ms=800&count=3"));

  // Per tab: live view every 150 ms, settings every 1.5 s, status every 3 s,
  // and three more connections that other fetches keep alive.
  std::deque<Poller> pollers;
  for (int tab = 0; tab < 2; ++tab) {
    pollers.emplace_back("/liveview.jpg?t=1", 150);
    pollers.emplace_back("/properties", 1500);
    pollers.emplace_back("/status", 3000);
    for (int i = 0; i < 3; ++i) pollers.emplace_back("/status", 1000);
  }
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  for (Poller& p : pollers) threads.emplace_back(poll, server->host, std::ref(p), std::cref(done));
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
    EXPECT_LT(p.slowestMs, 500);
  }
  // Two tabs at one picture per 150 ms plus its fetch time: expect at least
  // half of what the pace allows.
  EXPECT_GT(picturesDuring, static_cast<int>(captureMs / 200)) << captureMs << " ms";
}

}  // namespace
