// Shared pieces of the camera-layer unit tests: a fixture that resets the
// fake SDK, a connected controller, and captured standard output.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "FakeSdk.h"
#include "camera/CameraController.h"

// Loopback texts only: the fake never sends anything, but the tests should
// not even name another network.
inline const char* const kIp = "127.0.30.1";
inline const char* const kMac = "02:00:00:00:1e:01";

class CameraTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::sdk().reset(); }
  void TearDown() override {
    if (capturing_) ::testing::internal::GetCapturedStdout();
    fake::sdk().reset();
  }

  // Connects c through the fake (which confirms at once) and forgets the
  // calls that took, so a test sees only its own.
  void connect(CameraController& c) {
    ASSERT_TRUE(c.connectIp(kIp, kMac, VCSDK::VcCameraModel_SB_A4, false, "", ""));
    ASSERT_TRUE(c.waitConnected(2000));
    fake::sdk().clearCalls();
  }

  void startOutput() {
    ::testing::internal::CaptureStdout();
    capturing_ = true;
  }
  // Everything printed since startOutput (the callbacks' lines included,
  // once the fake has delivered them).
  std::string output() {
    fake::sdk().drain();
    capturing_ = false;
    return ::testing::internal::GetCapturedStdout();
  }

  // The call op made on the connected camera; op must succeed with exactly
  // one SDK call, to fn (an empty Call otherwise).
  template <typename Op>
  fake::Call soleCall(const char* fn, Op&& op) {
    fake::sdk().clearCalls();
    EXPECT_TRUE(op());
    EXPECT_EQ(fake::sdk().names(), (fake::Names{fn}));
    const fake::Call call = fake::sdk().last(fn);
    EXPECT_EQ(call.handle, fake::sdk().lastHandle());
    return call;
  }

  // What op printed; op must report failure.
  template <typename Op>
  std::string outputOfFailing(Op&& op) {
    startOutput();
    EXPECT_FALSE(op());
    return output();
  }

 private:
  bool capturing_ = false;
};

// Milliseconds taken by f.
template <typename F>
long long elapsedMs(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}
