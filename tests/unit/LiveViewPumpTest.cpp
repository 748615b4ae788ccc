// The live-view pump and single grab: attempt accounting, what ends a run,
// where the picture is read from, and file numbering through the sink.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CameraTestHarness.h"
#include "camera/LiveViewSink.h"
#include "tests/support/ReadFile.h"

namespace fs = std::filesystem;

namespace {

using fake::LiveViewStep;
using fake::sdk;

class LiveViewPumpTest : public CameraTest {};

LiveViewStep picture(std::uint32_t size, std::uint8_t seed, std::uint32_t offset = 0) {
  LiveViewStep s;
  s.picture = fake::jpegBytes(size, seed);
  s.offset = offset;
  return s;
}
LiveViewStep infoError(std::uint32_t code) {
  LiveViewStep s;
  s.infoCode = code;
  return s;
}
LiveViewStep noBuffer() {
  LiveViewStep s;
  s.bufferSize = 0;
  return s;
}
LiveViewStep imageError(std::uint32_t code) {
  LiveViewStep s;
  s.picture = fake::jpegBytes(32);
  s.imageCode = code;
  return s;
}
LiveViewStep empty() { return LiveViewStep(); }  // image size 0

using Pictures = std::vector<std::vector<std::uint8_t>>;

FrameHandler collect(Pictures& got, bool answer = true) {
  return [&got, answer](const std::uint8_t* data, std::uint32_t length) {
    got.emplace_back(data, data + length);
    return answer;
  };
}

TEST_F(LiveViewPumpTest, EveryAttemptCountsAndOnlyPicturesReachTheHandler) {
  CameraController controller;
  connect(controller);
  sdk().setLiveView(empty());
  sdk().queueLiveView(
      {picture(100, 1, 13), noBuffer(), imageError(0x8403), empty(), picture(60, 2, 0)});
  Pictures got;
  startOutput();
  const long long ms = elapsedMs([&] { controller.runLiveView(collect(got), 6); });
  EXPECT_EQ(output(), "[error] GetLiveViewImage: 0x00008403\n");
  EXPECT_EQ(sdk().count("GetLiveViewImageInfo"), 6);
  // Read from where the SDK put it (13 bytes into the buffer), not from the
  // buffer's start.
  EXPECT_EQ(got, (Pictures{fake::jpegBytes(100, 1), fake::jpegBytes(60, 2)}));
  // The block is given exactly the buffer size the SDK asked for.
  EXPECT_EQ(sdk().calls("GetLiveViewImage")[0].ints, (fake::Ints{13 + 100 + 16}));
  // One 33 ms pause after each of the six attempts.
  EXPECT_GE(ms, 6 * 33);
}

TEST_F(LiveViewPumpTest, WhatEndsTheRunEarly) {
  struct Case {
    const char* name;
    std::vector<LiveViewStep> steps;
    bool handlerAnswer;
    int infoCalls, handlerCalls;
    const char* line;
  } cases[] = {
      {"info failure",
       {picture(20, 1), infoError(0x8401), picture(20, 2)},
       true,
       2,
       1,
       "[error] GetLiveViewImageInfo: 0x00008401\n"},
      {"handler says stop", {picture(20, 1), picture(20, 2)}, false, 1, 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CameraController controller;
    sdk().reset();
    connect(controller);
    sdk().queueLiveView(c.steps);
    Pictures got;
    startOutput();
    const long long ms =
        elapsedMs([&] { controller.runLiveView(collect(got, c.handlerAnswer), 50); });
    EXPECT_EQ(output(), c.line);
    EXPECT_EQ(sdk().count("GetLiveViewImageInfo"), c.infoCalls);
    EXPECT_EQ(static_cast<int>(got.size()), c.handlerCalls);
    EXPECT_LT(ms, 50 * 33);
  }
}

TEST_F(LiveViewPumpTest, NoAttemptsMeansNoSdkCall) {
  CameraController controller;
  connect(controller);
  Pictures got;
  controller.runLiveView(collect(got), 0);
  controller.runLiveView(collect(got), -5);
  EXPECT_TRUE(got.empty());
  EXPECT_TRUE(sdk().names().empty());
}

TEST_F(LiveViewPumpTest, WithoutACameraThePumpAsksAndStopsAtTheRefusal) {
  CameraController controller;
  Pictures got;
  startOutput();
  controller.runLiveView(collect(got), 10);
  EXPECT_EQ(output(), "[error] GetLiveViewImageInfo: 0x00008002\n");
  EXPECT_EQ(sdk().count("GetLiveViewImageInfo"), 1);
  EXPECT_TRUE(got.empty());
}

TEST_F(LiveViewPumpTest, SinkNumbersFilesWithoutGapsForMissedAttempts) {
  const fs::path dir = fs::temp_directory_path() / ("kamora-pump-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  CameraController controller;
  connect(controller);
  sdk().setLiveView(picture(50, 9, 5));
  sdk().queueLiveView({picture(30, 1), empty(), noBuffer(), imageError(0x8403), picture(40, 2)});
  LiveViewSink sink(dir.string());
  startOutput();
  controller.runLiveView(sink, 7);
  const std::string out = output();
  EXPECT_EQ(sink.frameCount(), 4u);
  EXPECT_EQ(readBytes((dir / "frame_00000.jpg").string()), fake::jpegBytes(30, 1));
  EXPECT_EQ(readBytes((dir / "frame_00001.jpg").string()), fake::jpegBytes(40, 2));
  EXPECT_EQ(readBytes((dir / "frame_00002.jpg").string()), fake::jpegBytes(50, 9));
  EXPECT_EQ(readBytes((dir / "frame_00003.jpg").string()), fake::jpegBytes(50, 9));
  EXPECT_FALSE(fs::exists(dir / "frame_00004.jpg"));
  EXPECT_NE(out.find("[liveview] " + (dir / "frame_00000.jpg").string() + " (30 bytes)\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("[liveview] " + (dir / "frame_00003.jpg").string() + " (50 bytes)\n"),
            std::string::npos)
      << out;
  fs::remove_all(dir);
}

TEST_F(LiveViewPumpTest, SinkThatCannotWriteEndsTheRunAtItsFirstPicture) {
  const fs::path blocker =
      fs::temp_directory_path() / ("kamora-block-" + std::to_string(::getpid()));
  { std::ofstream(blocker) << "a file, not a directory"; }
  CameraController controller;
  connect(controller);
  sdk().setLiveView(picture(30, 1));
  LiveViewSink sink((blocker / "captures").string());
  controller.runLiveView(sink, 20);
  EXPECT_EQ(sdk().count("GetLiveViewImageInfo"), 1);
  EXPECT_EQ(sink.frameCount(), 0u);
  fs::remove(blocker);
}

TEST_F(LiveViewPumpTest, GrabFillsTheVectorOnlyWithAWholePicture) {
  CameraController controller;
  std::vector<std::uint8_t> out = {1, 2, 3};
  // Not connected: no SDK call, vector untouched.
  EXPECT_FALSE(controller.grabLiveViewFrame(out));
  EXPECT_TRUE(sdk().names().empty());
  EXPECT_EQ(out, (std::vector<std::uint8_t>{1, 2, 3}));

  connect(controller);
  sdk().queueLiveView(
      {infoError(0x8401), noBuffer(), imageError(0x8403), empty(), picture(77, 4, 21)});
  startOutput();
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(controller.grabLiveViewFrame(out));
    EXPECT_EQ(out, (std::vector<std::uint8_t>{1, 2, 3}));
  }
  EXPECT_TRUE(controller.grabLiveViewFrame(out));
  EXPECT_EQ(output(), "");  // the grab never prints
  EXPECT_EQ(out, fake::jpegBytes(77, 4));
}

}  // namespace
