// The handler threads: as many as are needed up to the bound, none left once
// idle, and every job given runs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "server/http/WorkerPool.h"

using std::chrono::milliseconds;

TEST(HttpWorkerPool, GrowsToTheBoundThenQueuesAndReapsIdleThreads) {
  std::atomic<int> running{0};
  std::atomic<int> most{0};
  std::atomic<int> finished{0};
  {
    WorkerPool pool(3, milliseconds(200));
    for (int i = 0; i < 8; ++i) {
      pool.submit([&] {
        const int now = ++running;
        for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
        }
        std::this_thread::sleep_for(milliseconds(50));
        --running;
        ++finished;
      });
    }
    // Blocking jobs do not wait for each other below the bound.
    std::this_thread::sleep_for(milliseconds(30));
    EXPECT_EQ(running, 3);
    EXPECT_EQ(pool.threadCount(), 3u);
    const auto end = std::chrono::steady_clock::now() + milliseconds(3000);
    while (pool.threadCount() > 0 && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(milliseconds(20));
    }
    EXPECT_EQ(pool.threadCount(), 0u);  // idle ones left by themselves
    EXPECT_EQ(finished, 8);
    EXPECT_EQ(most, 3);
    pool.submit([&] { ++finished; });  // a new thread once all have left
  }
  EXPECT_EQ(finished, 9);
  // The last jobs given run before the pool is gone.
  std::atomic<int> late{0};
  {
    WorkerPool pool(2, milliseconds(10000));
    for (int i = 0; i < 5; ++i)
      pool.submit([&] {
        std::this_thread::sleep_for(milliseconds(20));
        ++late;
      });
  }
  EXPECT_EQ(late, 5);
}
