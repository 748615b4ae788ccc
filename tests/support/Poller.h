// One keep-alive connection of a console tab, polling one path of a server
// at its pace until told to stop, and recording what came back: the
// concurrency tests check that no poll fails or waits long while the
// server is busy elsewhere.
#pragma once

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <string>
#include <thread>

// run() on one thread; answered and pictures may be read from others while
// it runs, the rest once it has returned.
struct Poller {
  Poller(std::string p, int period, bool unavailable = false)
      : path(std::move(p)), periodMs(period), unavailableIsAnswer(unavailable) {}

  std::string path;
  int periodMs;
  bool unavailableIsAnswer;  // a 503 counts as an answer (live view before a picture)
  std::atomic<int> answered{0};
  std::atomic<int> pictures{0};  // answers that were JPEGs
  int failed = 0;
  long long slowestMs = 0;

  void run(const std::string& host, int port, const std::atomic<bool>& done) {
    using Clock = std::chrono::steady_clock;
    httplib::Client c(host, port);
    c.set_keep_alive(true);
    c.set_read_timeout(30, 0);
    while (!done.load()) {
      const auto t0 = Clock::now();
      auto r = c.Get(path.c_str());
      slowestMs = std::max<long long>(
          slowestMs,
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
      if (r && (r->status == 200 || (r->status == 503 && unavailableIsAnswer))) {
        ++answered;
        if (r->get_header_value("Content-Type") == "image/jpeg") ++pictures;
      } else {
        ++failed;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(periodMs));
    }
  }
};

// One console tab's six connections (a browser's limit per origin): live
// view every 150 ms, settings every 1.5 s, status every 3 s, and three more
// kept alive by other fetches. A deque, as running pollers must not move.
inline void addConsoleTab(std::deque<Poller>& pollers, const std::string& liveView,
                          bool noPictureIsAnswer = false) {
  pollers.emplace_back(liveView, 150, noPictureIsAnswer);
  pollers.emplace_back("/properties", 1500);
  pollers.emplace_back("/status", 3000);
  for (int i = 0; i < 3; ++i) pollers.emplace_back("/status", 1000);
}
