// Faults on the camera's side, against real kamora and kamora-vcam
// processes: the camera killed during a capture wait, during live view and
// during a connection wait; a link that drops and comes back; a picture
// delivered late; a save folder that cannot be written; "/disconnect" while
// "/capture" waits. Each ends with nothing lost and the program answering.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/KamoraServer.h"
#include "tests/support/StatusReply.h"
#include "tests/support/Subprocess.h"
#include "tests/support/Until.h"
#include "tests/support/Vcam.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char* kMac = "02:00:00:00:00:01";

struct Answer {
  int status = 0;  // 0: no answer at all
  std::string body;
  double ms = 0;
};

Answer request(const KamoraServer& k, const std::string& method, const std::string& path) {
  httplib::Client c = k.client();
  const Clock::time_point start = Clock::now();
  httplib::Result r = method == "GET" ? c.Get(path.c_str()) : c.Post(path.c_str());
  Answer a;
  a.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  if (r) {
    a.status = r->status;
    a.body = r->body;
  }
  return a;
}

std::future<Answer> requestLater(const KamoraServer& k, const std::string& method,
                                 const std::string& path) {
  return std::async(std::launch::async, [&k, method, path] { return request(k, method, path); });
}

std::unique_ptr<VirtualCamera> camera(const std::string& ip) {
  VcamOptions o;
  o.ip = ip;
  o.mac = kMac;
  o.stillSize = "1200x800";  // keeps each picture quick to render
  return VirtualCamera::start(o);
}

std::string connectPath(const std::string& ip) {
  return std::string("/connect?ip=") + ip + "&mac=" + kMac;
}

bool isJpeg(const std::string& bytes) {
  return bytes.size() > 4 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
         static_cast<unsigned char>(bytes[1]) == 0xD8 &&
         static_cast<unsigned char>(bytes[bytes.size() - 2]) == 0xFF &&
         static_cast<unsigned char>(bytes[bytes.size() - 1]) == 0xD9;
}

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The pictures in a folder: every one must be a whole JPEG.
std::vector<fs::path> pictures(const std::string& folder) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().filename().string()[0] == '.') continue;  // partial download
    out.push_back(it->path());
    EXPECT_TRUE(isJpeg(readFile(it->path()))) << it->path() << " is not a whole JPEG";
  }
  return out;
}

// The server answers its liveness check and a camera read at once.
void expectAnswering(KamoraServer& k) {
  const Answer status = request(k, "GET", "/status");
  EXPECT_EQ(status.status, 200);
  EXPECT_EQ(status.body, statusBody("online"));
  EXPECT_LT(status.ms, 1000);
  const Answer props = request(k, "GET", "/properties");
  EXPECT_EQ(props.status, 200);
  EXPECT_LT(props.ms, 5000);
  EXPECT_TRUE(k.running()) << k.output();
}

// After a fault: a camera on the same address again, a fresh connection, one
// picture that reaches the disk.
void expectRecovers(KamoraServer& k, std::unique_ptr<VirtualCamera>& cam, const std::string& ip,
                    std::size_t picturesBefore) {
  if (!cam || !cam->running()) {
    cam = camera(ip);
    ASSERT_TRUE(cam) << VirtualCamera::lastError();
  }
  const Answer connected = request(k, "POST", connectPath(ip));
  ASSERT_EQ(connected.body, statusBody("conectado")) << k.output();
  const Answer shot = request(k, "POST", "/capture?shots=1");
  EXPECT_EQ(shot.body, statusBody("1 foto(s)")) << k.output();
  EXPECT_EQ(pictures(k.workDir() + "/captures").size(), picturesBefore + 1);
  const Answer frame = request(k, "GET", "/liveview.jpg");
  EXPECT_EQ(frame.status, 200);
  EXPECT_TRUE(isJpeg(frame.body));
}

// Each test's own camera and server, on addresses of its own.
class FaultCameraTest : public ::testing::Test {
 protected:
  void start(const std::string& camIp, const std::string& serverIp) {
    cam = camera(camIp);
    ASSERT_TRUE(cam) << VirtualCamera::lastError();
    k = KamoraServer::start(serverIp);
    ASSERT_TRUE(k) << KamoraServer::lastError();
  }
  // start(), and the server connected to the camera.
  void startConnected(const std::string& camIp, const std::string& serverIp) {
    ASSERT_NO_FATAL_FAILURE(start(camIp, serverIp));
    ASSERT_EQ(request(*k, "POST", connectPath(camIp)).body, statusBody("conectado"));
  }
  std::unique_ptr<VirtualCamera> cam;
  std::unique_ptr<KamoraServer> k;
};

TEST_F(FaultCameraTest, CameraKilledDuringCaptureWait) {
  ASSERT_NO_FATAL_FAILURE(startConnected("127.0.71.1", "127.0.71.2"));
  ASSERT_EQ(request(*k, "POST", "/capture?shots=1").body, statusBody("1 foto(s)"));

  // The next picture would come 10 s after the press; the camera dies first.
  ASSERT_TRUE(cam->fault("capture-delay", {{"ms", "10000"}, {"count", "1"}}));
  auto shot = requestLater(*k, "POST", "/capture?shots=3");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  cam->kill();
  const Answer answer = shot.get();
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.body, statusBody("0 foto(s)"));
  // A lost camera ends the wait; it does not sit out 15 s per shot.
  EXPECT_LT(answer.ms, 5000) << k->output();

  expectAnswering(*k);
  EXPECT_EQ(request(*k, "GET", "/liveview.jpg").status, 503);
  expectRecovers(*k, cam, "127.0.71.1", 1);
}

TEST_F(FaultCameraTest, CameraKilledDuringLiveView) {
  ASSERT_NO_FATAL_FAILURE(startConnected("127.0.72.1", "127.0.72.2"));

  // A console's live view at full pace, while the camera dies under it.
  std::atomic<bool> stop{false};
  std::vector<Answer> seen;
  std::thread viewer([&] {
    const Clock::time_point end = Clock::now() + std::chrono::seconds(6);
    while (!stop && Clock::now() < end) seen.push_back(request(*k, "GET", "/liveview.jpg"));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  cam->kill();
  std::this_thread::sleep_for(std::chrono::milliseconds(900));
  stop = true;
  viewer.join();

  int pictures200 = 0, unavailable = 0;
  for (const Answer& a : seen) {
    if (a.status == 200) {
      EXPECT_TRUE(isJpeg(a.body));
      ++pictures200;
    } else {
      EXPECT_EQ(a.status, 503) << a.body;
      EXPECT_EQ(a.body, statusBody("live view indisponivel"));
      ++unavailable;
    }
    EXPECT_LT(a.ms, 4000);
  }
  EXPECT_GT(pictures200, 0);
  EXPECT_GT(unavailable, 0);
  expectAnswering(*k);
  expectRecovers(*k, cam, "127.0.72.1", 0);
}

TEST_F(FaultCameraTest, CameraKilledDuringCommandLineLiveView) {
  cam = camera("127.0.74.1");
  ASSERT_TRUE(cam) << VirtualCamera::lastError();
  const std::string dir = makeTempDir("fault-lv");
  auto run = Subprocess::start(
      {binaryPath("kamora"), "--liveview", cam->ip(), kMac, "--frames", "2000"}, dir);
  ASSERT_TRUE(run);
  ASSERT_TRUE(run->waitForOutput("frame_00005.jpg", 15000)) << run->output();
  cam->kill();
  // The run ends by itself soon after, without a crash.
  const int code = run->wait(10000);
  EXPECT_EQ(code, 0) << run->output();

  // Every frame it reported is on disk, whole, numbered without a gap.
  const std::string out = run->output();
  std::size_t reported = 0;
  for (auto at = out.find("[liveview] "); at != std::string::npos;
       at = out.find("[liveview] ", at + 1)) {
    ++reported;
  }
  const std::vector<fs::path> files = pictures(dir + "/captures");
  EXPECT_GE(files.size(), 6u);
  EXPECT_EQ(files.size(), reported);
  std::set<std::string> names;
  for (const fs::path& f : files) names.insert(f.filename().string());
  for (std::size_t i = 0; i < files.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%05zu.jpg", i);
    EXPECT_EQ(names.count(name), 1u) << name;
  }
}

TEST_F(FaultCameraTest, CameraKilledDuringConnectionWait) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.73.1", "127.0.73.2"));
  // The camera accepts the link but never says it is ready.
  ASSERT_TRUE(cam->fault("never-ready", {{"count", "1"}}));
  auto connecting = requestLater(*k, "POST", connectPath(cam->ip()));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  expectAnswering(*k);  // polls are not held up by the connection wait
  cam->kill();
  const Answer answer = connecting.get();
  EXPECT_EQ(answer.status, 502);
  EXPECT_EQ(answer.body, statusBody("falha ao conectar"));
  EXPECT_LT(answer.ms, 5000) << "a dead camera should end the wait, not the 15 s time-out";

  expectAnswering(*k);
  expectRecovers(*k, cam, "127.0.73.1", 0);
}

TEST_F(FaultCameraTest, LinkDropsAndComesBack) {
  ASSERT_NO_FATAL_FAILURE(startConnected("127.0.75.1", "127.0.75.2"));
  ASSERT_EQ(request(*k, "POST", "/capture?shots=1").body, statusBody("1 foto(s)"));

  ASSERT_TRUE(cam->fault("drop"));
  // The program notices: the live view stops and a capture fails at once.
  int status = 0;
  EXPECT_TRUE(until([&] { return (status = request(*k, "GET", "/liveview.jpg").status) == 503; },
                    std::chrono::seconds(5),
                    [&] { return "/liveview.jpg " + std::to_string(status); }));
  const Answer lost = request(*k, "POST", "/capture?shots=2");
  EXPECT_EQ(lost.body, statusBody("0 foto(s)"));
  EXPECT_LT(lost.ms, 5000);

  expectAnswering(*k);
  expectRecovers(*k, cam, "127.0.75.1", 1);
}

TEST_F(FaultCameraTest, LatePictureLandsInTheNextWaitAndCountsOnce) {
  ASSERT_NO_FATAL_FAILURE(startConnected("127.0.76.1", "127.0.76.2"));

  // The first picture comes 1.5 s after the capture's 15 s wait gave up.
  ASSERT_TRUE(cam->fault("capture-delay", {{"ms", "16500"}, {"count", "1"}}));
  const Answer first = request(*k, "POST", "/capture?shots=1");
  EXPECT_EQ(first.body, statusBody("0 foto(s)"));
  // The next capture's wait sees the late picture land (before its own).
  const Answer second = request(*k, "POST", "/capture?shots=1");
  EXPECT_EQ(second.body, statusBody("1 foto(s)"));

  // Both pictures reach the disk, each once, under names of their own.
  ASSERT_TRUE(
      cam->waitFor([](const nlohmann::json& s) { return s.value("downloads", 0) == 2; }, 10000))
      << cam->state().dump();
  EXPECT_TRUE(until([&] { return pictures(k->workDir() + "/captures").size() >= 2; },
                    std::chrono::seconds(5)));
  EXPECT_EQ(pictures(k->workDir() + "/captures").size(), 2u);
  // A third capture counts its own picture only.
  const Answer third = request(*k, "POST", "/capture?shots=1");
  EXPECT_EQ(third.body, statusBody("1 foto(s)"));
  EXPECT_EQ(pictures(k->workDir() + "/captures").size(), 3u);
  const std::string out = k->output();
  std::size_t downloads = 0;
  for (auto at = out.find("OnCompleteDownload"); at != std::string::npos;
       at = out.find("OnCompleteDownload", at + 1)) {
    ++downloads;
  }
  EXPECT_EQ(downloads, 3u) << out;
  expectAnswering(*k);
}

TEST_F(FaultCameraTest, UnwritableSaveFolderIsReportedNotCounted) {
  ASSERT_NO_FATAL_FAILURE(startConnected("127.0.78.1", "127.0.78.2"));
  ASSERT_EQ(request(*k, "POST", "/capture?shots=1").body, statusBody("1 foto(s)"));

  // The folder turns into a file (a full or vanished disk behaves alike).
  // No permission trick: tests may run as root, who may write anywhere.
  const std::string folder = k->workDir() + "/captures";
  const fs::path kept = k->workDir() + "/kept";
  fs::rename(folder, kept);
  std::ofstream(folder) << "not a folder";
  const Answer shot = request(*k, "POST", "/capture?shots=2");
  EXPECT_EQ(shot.status, 200);
  EXPECT_EQ(shot.body, statusBody("0 foto(s)")) << k->output();
  EXPECT_LT(shot.ms, 5000);
  EXPECT_NE(k->output().find("[callback] OnError"), std::string::npos) << k->output();
  expectAnswering(*k);

  // Once the folder is back, pictures land again beside the earlier one.
  fs::remove(folder);
  fs::rename(kept, folder);
  EXPECT_EQ(request(*k, "POST", "/capture?shots=1").body, statusBody("1 foto(s)"));
  EXPECT_EQ(pictures(folder).size(), 2u);
}

TEST_F(FaultCameraTest, DisconnectWhileCaptureWaits) {
  ASSERT_NO_FATAL_FAILURE(startConnected("127.0.77.1", "127.0.77.2"));

  // Each picture takes 1.5 s to come; three are asked for.
  ASSERT_TRUE(cam->fault("capture-delay", {{"ms", "1500"}}));
  auto shots = requestLater(*k, "POST", "/capture?shots=3");
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  const Answer bye = request(*k, "POST", "/disconnect");
  EXPECT_EQ(bye.body, statusBody("desconectado"));
  const Answer counted = shots.get();
  EXPECT_EQ(counted.status, 200);
  // The shot under way is finished and counted; the rest are not taken.
  EXPECT_EQ(counted.body, statusBody("1 foto(s)")) << k->output();
  EXPECT_LT(bye.ms, 5000);
  EXPECT_EQ(pictures(k->workDir() + "/captures").size(), 1u);
  EXPECT_EQ(cam->state().value("shots", -1), 1);
  EXPECT_EQ(request(*k, "GET", "/properties").body, "{}");

  ASSERT_TRUE(cam->fault("clear"));
  expectAnswering(*k);
  expectRecovers(*k, cam, "127.0.77.1", 1);
}

}  // namespace
