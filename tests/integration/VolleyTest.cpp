// The volley against real virtual cameras, in-process over the stand-in SDK:
// the spread recorded at the server and at the cameras, a hung camera left
// behind without holding up the others, cameras that cannot be armed, and
// every picture on disk once, numbered per camera. Addresses 127.61.x.y.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "camera/Defaults.h"
#include "server/events/EventLog.h"
#include "server/rig/Rig.h"
#include "server/rig/Volley.h"
#include "tests/support/Subprocess.h"
#include "tests/support/Until.h"
#include "tests/support/Vcam.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Small stills: the renders are not what is measured here.
constexpr const char* kStill = "320x200";

class VolleyTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(VCSDK::Init(0));
    previous_ = fs::current_path();
    dir_ = makeTempDir("volley");
    fs::current_path(dir_);
  }
  void TearDown() override {
    volley_.reset();
    cameras_.clear();
    rig_.reset();  // the cameras are let go before the SDK
    VCSDK::Release();
    fs::current_path(previous_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Cameras "c1".."cN" at 127.61.block.1..N in a rig, connected, each
  // saving into captures/<id>/.
  void startRig(int block, int count) {
    rig_ = std::make_unique<Rig>(events_, SlotOptions());
    for (int k = 1; k <= count; ++k) {
      VcamOptions o;
      o.ip = "127.61." + std::to_string(block) + "." + std::to_string(k);
      o.stillSize = kStill;
      auto vcam = VirtualCamera::start(o);
      ASSERT_TRUE(vcam) << VirtualCamera::lastError();
      const std::string id = "c" + std::to_string(k);
      CameraRequest request;
      request.ip = o.ip;
      request.mac = o.mac;
      std::shared_ptr<CameraSlot> slot = rig_->add(id, request);
      ASSERT_TRUE(slot) << id;
      vcams_.push_back(std::move(vcam));
      cameras_.push_back({id, slot});
    }
    for (const VolleyCamera& c : cameras_) {
      ASSERT_TRUE(
          until([&] { return c.slot->health().view().state == CameraState::Connected; }, 10s,
                [&] { return std::string(cameraStateName(c.slot->health().view().state)); }))
          << c.id;
    }
  }

  Volley& volley(VolleyTimings timings = VolleyTimings()) {
    if (!volley_) volley_ = std::make_unique<Volley>(events_, timings);
    return *volley_;
  }

  static std::set<std::string> filesIn(const std::string& id) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(fs::path(defaults::kSaveFolder) / id)) {
      names.insert(id + "/" + e.path().filename().string());
    }
    return names;
  }

  std::int64_t pressSpreadUs(const std::vector<std::size_t>& which) {
    std::vector<std::int64_t> at;
    for (std::size_t k : which) at.push_back(vcams_[k]->state()["last_press_us"]);
    return *std::max_element(at.begin(), at.end()) - *std::min_element(at.begin(), at.end());
  }

  EventLog events_;
  std::unique_ptr<Rig> rig_;
  std::vector<std::unique_ptr<VirtualCamera>> vcams_;
  std::vector<VolleyCamera> cameras_;
  std::unique_ptr<Volley> volley_;
  fs::path previous_;
  std::string dir_;
};

const VolleyCameraResult& resultFor(const VolleyResult& r, const std::string& id) {
  return *std::find_if(r.cameras.begin(), r.cameras.end(),
                       [&](const VolleyCameraResult& c) { return c.id == id; });
}

TEST_F(VolleyTest, EveryCameraFiresTogetherAndEachPictureLandsOnceInItsFolder) {
  ASSERT_NO_FATAL_FAILURE(startRig(1, 4));
  std::set<std::string> reported;
  const std::int64_t before = std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
  // Three volleys of one shot, then one of two: five pictures per camera.
  for (int shots : {1, 1, 1, 2}) {
    // A camera listed twice is fired once.
    std::vector<VolleyCamera> asked = cameras_;
    asked.push_back(cameras_.front());
    const VolleyResult r = volley().fire(asked, shots, VolleyRelease());
    ASSERT_EQ(r.cameras.size(), 4u);
    std::int64_t low = INT64_MAX, high = 0;
    for (const VolleyCameraResult& c : r.cameras) {
      ASSERT_TRUE(c.ok) << c.id << ": " << c.error;
      ASSERT_EQ(c.files.size(), static_cast<std::size_t>(shots)) << c.id;
      for (const std::string& f : c.files) EXPECT_TRUE(reported.insert(f).second) << f;
      low = std::min(low, c.offsetUs);
      high = std::max(high, c.offsetUs);
    }
    if (shots == 1) {
      EXPECT_EQ(r.spreadUs, high - low);
    }
    // The presses reached the cameras together, as the server says.
    EXPECT_LT(pressSpreadUs({0, 1, 2, 3}), 200000);
    // The volley's event carries its result; a download's own "capture" event
    // may come just after it.
    const std::vector<ServerEvent> published = events_.since(0);
    const auto last = std::find_if(published.rbegin(), published.rend(),
                                   [](const ServerEvent& e) { return e.type == "volley"; });
    ASSERT_NE(last, published.rend());
    EXPECT_EQ(last->data, volleyJson(r));
  }
  EXPECT_GT(vcams_[0]->state()["last_press_us"].get<std::int64_t>(), before);
  for (std::size_t k = 0; k < 4; ++k) {
    const std::string id = cameras_[k].id;
    std::set<std::string> expected;
    for (int n = 1; n <= 5; ++n) {
      char name[32];
      std::snprintf(name, sizeof name, "%s_%05d.JPG", defaults::kFilePrefix, n);
      expected.insert(id + "/" + name);
    }
    EXPECT_EQ(filesIn(id), expected);
    EXPECT_EQ(vcams_[k]->state()["downloads"], 5);
  }
  EXPECT_EQ(reported.size(), 20u);
}

TEST_F(VolleyTest, AHungCameraIsReportedAfterTheHangLimitAndHoldsUpNobody) {
  ASSERT_NO_FATAL_FAILURE(startRig(2, 3));
  VolleyTimings timings;
  timings.hang = 1000ms;
  vcams_[1]->signal(SIGSTOP);
  const Clock::time_point start = Clock::now();
  const VolleyResult r = volley(timings).fire(cameras_, 1, VolleyRelease());
  const auto took = Clock::now() - start;
  vcams_[1]->signal(SIGCONT);

  const VolleyCameraResult& hung = resultFor(r, "c2");
  EXPECT_FALSE(hung.ok);
  EXPECT_EQ(hung.error, "sem resposta");
  // The stand-in gives up on the call itself only after 3 s.
  EXPECT_LT(took, 2500ms);
  for (const char* id : {"c1", "c3"}) {
    const VolleyCameraResult& c = resultFor(r, id);
    ASSERT_TRUE(c.ok) << id << ": " << c.error;
    EXPECT_LT(c.offsetUs, 500000) << id;  // not after the hung press
  }
  EXPECT_EQ(volleyJson(r).find("\"id\":\"c2\",\"ok\":false,\"error\":\"sem resposta\"}") !=
                std::string::npos,
            true)
      << volleyJson(r);

  // Once it answers again it is fired like the others, and its abandoned
  // press never became a picture.
  CameraSlot& c2 = *cameras_[1].slot;
  ASSERT_TRUE(until(
      [&] {
        return c2.health().view().state == CameraState::Connected &&
               !c2.controller().events().disconnected();
      },
      10s, [&] { return std::string(cameraStateName(c2.health().view().state)); }));
  VolleyResult again;
  ASSERT_TRUE(until(
      [&] {
        again = volley().fire(cameras_, 1, VolleyRelease());
        return resultFor(again, "c2").ok;
      },
      15s, [&] { return volleyJson(again); }));
  EXPECT_EQ(filesIn("c2"), std::set<std::string>(resultFor(again, "c2").files.begin(),
                                                 resultFor(again, "c2").files.end()));
}

TEST_F(VolleyTest, CamerasThatCannotBeArmedAreLeftOutAndTheOthersFire) {
  ASSERT_NO_FATAL_FAILURE(startRig(3, 2));
  std::vector<VolleyCamera> asked = cameras_;
  asked.push_back({"main", rig_->find("main")});  // no camera asked for
  VolleyTimings timings;
  timings.arm = 300ms;
  VolleyResult r;
  {
    // A capture under way on c1 for longer than the arming waits.
    CameraGate::Command busy(cameras_[0].slot->gate());
    r = volley(timings).fire(asked, 1, VolleyRelease());
  }
  struct Case {
    const char* id;
    bool ok;
    const char* error;
  };
  for (const Case& k :
       {Case{"c1", false, "ocupada"}, Case{"c2", true, ""}, Case{"main", false, "sem camera"}}) {
    const VolleyCameraResult& c = resultFor(r, k.id);
    EXPECT_EQ(c.ok, k.ok) << k.id;
    EXPECT_EQ(c.error, k.error) << k.id;
    EXPECT_EQ(c.files.size(), k.ok ? 1u : 0u) << k.id;
  }
  EXPECT_EQ(r.spreadUs, 0);  // one camera fired
}

TEST_F(VolleyTest, AWallClockReleaseFiresAtThatTimeAndCountsOffsetsFromIt) {
  ASSERT_NO_FATAL_FAILURE(startRig(4, 2));
  const std::int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
  const VolleyResult r = volley().fire(cameras_, 1, VolleyRelease{nowMs + 400});
  for (std::size_t k = 0; k < 2; ++k) {
    ASSERT_TRUE(r.cameras[k].ok) << r.cameras[k].error;
    EXPECT_LT(r.cameras[k].offsetUs, 200000);
    // Pressed at the time asked for, not when the volley was asked.
    EXPECT_GE(vcams_[k]->state()["last_press_us"].get<std::int64_t>(), (nowMs + 400) * 1000);
  }
}

}  // namespace
