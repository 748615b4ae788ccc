// GET /liveview.mjpg end to end: kamora --server and kamora-vcam processes,
// Debian's ffmpeg as a client we did not write. The stream keeps the feed's
// rate through a capture and a reconnect, ends cleanly when the camera dies,
// lets Ctrl+C stop the server at once, and clients that vanish leave
// nothing behind.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "tests/support/KamoraServer.h"
#include "tests/support/MjpegReader.h"
#include "tests/support/Sanitized.h"
#include "tests/support/StatusReply.h"
#include "tests/support/Subprocess.h"
#include "tests/support/Vcam.h"

namespace {

using namespace std::chrono_literals;
const char kFfmpeg[] = "/usr/bin/ffmpeg";

class LiveViewStreamTest : public ::testing::Test {
 protected:
  void start(const std::string& camIp, const std::string& serverIp) {
    cam = VirtualCamera::start(camIp, "02:00:00:00:8c:01");
    ASSERT_TRUE(cam) << VirtualCamera::lastError();
    server = KamoraServer::start(serverIp);
    ASSERT_TRUE(server) << KamoraServer::lastError();
    connect();
  }
  void connect() {
    httplib::Client c = server->client();
    auto r = c.Post(("/connect?ip=" + cam->ip() + "&mac=" + cam->mac()).c_str());
    ASSERT_TRUE(r);
    ASSERT_EQ(r->body, statusBody("conectado"));
  }
  std::unique_ptr<MjpegReader> viewer(const MjpegReaderOptions& options = {}) {
    return MjpegReader::open(server->host(), server->port(), options);
  }
  std::unique_ptr<VirtualCamera> cam;
  std::unique_ptr<KamoraServer> server;
};

std::size_t entries(const std::string& dir) {
  std::size_t n = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator(dir, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    ++n;
  }
  return n;
}

long rssKb(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, 6, "VmRSS:") == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// A client that asks for the stream, takes its first bytes and is gone
// without a goodbye (reset, as a killed player or a dropped link).
bool vanishingClient(const std::string& host, int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  ::inet_pton(AF_INET, host.c_str(), &address.sin_addr);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  const std::string request = "GET /liveview.mjpg HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
  ok = ok && ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0;
  char some[4096];
  ok = ok && ::recv(fd, some, sizeof some, 0) > 0;
  const linger reset{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(fd);
  return ok;
}

TEST_F(LiveViewStreamTest, FfmpegFollowsTheFeedThroughACaptureAndAReconnect) {
  if (::access(kFfmpeg, X_OK) != 0) GTEST_SKIP() << "no " << kFfmpeg << " (make deps)";
  ASSERT_NO_FATAL_FAILURE(start("127.0.143.1", "127.0.143.2"));
  auto watcher = viewer();
  ASSERT_TRUE(watcher);
  ASSERT_TRUE(watcher->waitParts(5, 5000));

  // ffmpeg decodes the stream and also keeps each picture as it came, so
  // the camera's stamp in it tells which of the feed's pictures it got.
  const std::string pictures = server->workDir() + "/ffmpeg";
  std::filesystem::create_directories(pictures);
  const double began = wallSeconds();
  auto ffmpeg = Subprocess::start({kFfmpeg,
                                   "-hide_banner",
                                   "-nostdin",
                                   "-loglevel",
                                   "error",
                                   "-i",
                                   "http://" + server->host() + ":8080/liveview.mjpg",
                                   "-t",
                                   "8",
                                   "-map",
                                   "0:v",
                                   "-f",
                                   "null",
                                   "-",
                                   "-map",
                                   "0:v",
                                   "-c:v",
                                   "copy",
                                   "-t",
                                   "8",
                                   "-f",
                                   "image2",
                                   pictures + "/%05d.jpg"});
  ASSERT_TRUE(ffmpeg);
  std::this_thread::sleep_for(1500ms);
  httplib::Client c = server->client();
  auto shot = c.Post("/capture");
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot->body, statusBody("1 foto(s)"));
  std::this_thread::sleep_for(1000ms);
  ASSERT_NO_FATAL_FAILURE(connect());  // the camera let go and taken again, mid-stream

  // ffmpeg takes 8 s of the stream at the 25 pictures a second it assumes,
  // 200 pictures: longer where a sanitizer slows the feed down.
  ASSERT_EQ(ffmpeg->wait(30000 * kSlowdown), 0) << ffmpeg->errorOutput();
  EXPECT_EQ(ffmpeg->errorOutput(), "") << "no decode or transport error";
  const std::vector<MjpegPart> parts = watcher->parts();
  EXPECT_FALSE(watcher->ended()) << "the stream outlived the capture and the reconnect";
  EXPECT_FALSE(watcher->malformed());
  std::map<double, std::uint64_t> frameOf;  // render stamp -> X-Frame
  for (std::size_t i = 0; i < parts.size(); ++i) {
    ASSERT_TRUE(parts[i].wholeJpeg);
    if (i > 0) {
      ASSERT_GT(parts[i].frame, parts[i - 1].frame);
    }
    // Stamped by the camera when it rendered, a moment before it arrived.
    ASSERT_GT(parts[i].renderStamp, parts[i].arrival - 1.0);
    ASSERT_LE(parts[i].renderStamp, parts[i].arrival);
    frameOf[parts[i].renderStamp] = parts[i].frame;
  }
  EXPECT_GT(parts.back().arrival, began + 4.0) << "pictures came after the reconnect";

  std::size_t got = 0;
  std::uint64_t first = UINT64_MAX, last = 0;
  for (const auto& file : std::filesystem::directory_iterator(pictures)) {
    std::ifstream in(file.path(), std::ios::binary);
    const std::string jpeg((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto seen = frameOf.find(vcamRenderStamp(jpeg));
    ASSERT_NE(seen, frameOf.end()) << file.path() << " is a picture of the feed";
    ++got;
    first = std::min(first, seen->second);
    last = std::max(last, seen->second);
  }
  std::printf("[stream] ffmpeg got %zu of the feed's pictures %llu to %llu\n", got,
              static_cast<unsigned long long>(first), static_cast<unsigned long long>(last));
  ASSERT_GT(got, 100u);
  EXPECT_GE(static_cast<double>(got), 0.95 * static_cast<double>(last - first + 1))
      << "ffmpeg got " << got << " of the feed's pictures " << first << " to " << last;
}

TEST_F(LiveViewStreamTest, ACameraThatDiesEndsTheStreamWithTheClosingBoundary) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.143.3", "127.0.143.4"));
  auto watcher = viewer();
  ASSERT_TRUE(watcher);
  ASSERT_TRUE(watcher->waitParts(3, 5000));
  cam->kill();
  ASSERT_TRUE(watcher->waitEnded(5000)) << "the server closes the connection";
  EXPECT_TRUE(watcher->closingBoundary());
  EXPECT_FALSE(watcher->malformed());
  // Without a camera the stream is refused as a single picture is.
  auto again = viewer();
  ASSERT_TRUE(again);
  ASSERT_TRUE(again->waitEnded(3000));
  EXPECT_EQ(again->status(), 503);
  EXPECT_EQ(again->body(), statusBody("live view indisponivel"));
}

TEST_F(LiveViewStreamTest, CtrlCWithTenStreamsOpenStopsWithinASecond) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.143.5", "127.0.143.6"));
  std::vector<std::unique_ptr<MjpegReader>> viewers;
  for (int i = 0; i < 10; ++i) viewers.push_back(viewer());
  for (auto& v : viewers) ASSERT_TRUE(v && v->waitParts(2, 5000));
  ASSERT_TRUE(cam->state().value("linked", false));

  const auto signalled = std::chrono::steady_clock::now();
  server->signal(SIGINT);
  EXPECT_EQ(server->wait(1000), 0) << server->output();
  EXPECT_LT(std::chrono::steady_clock::now() - signalled, 1000ms);
  for (auto& v : viewers) EXPECT_TRUE(v->waitEnded(500));
  EXPECT_TRUE(cam->waitFor([](const nlohmann::json& s) { return !s.value("linked", true); }, 2000))
      << "the camera was let go";
}

TEST_F(LiveViewStreamTest, ClientsThatVanishLeaveDescriptorsThreadsAndMemoryAsTheyWere) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.143.7", "127.0.143.8"));
  const int pid = server->pid();
  const std::string proc = "/proc/" + std::to_string(pid);
  const auto wave = [&](int clients) {
    int ok = 0;
    for (int i = 0; i < clients; i += 10) {
      std::vector<std::thread> batch;
      std::atomic<int> done{0};
      for (int k = 0; k < 10; ++k) {
        batch.emplace_back([&] { done += vanishingClient(server->host(), server->port()); });
      }
      for (auto& t : batch) t.join();
      ok += done.load();
    }
    return ok;
  };
  const auto settled = [&](std::size_t fds, std::size_t threads) {
    const auto end = std::chrono::steady_clock::now() + 15s;
    while (std::chrono::steady_clock::now() < end) {
      // One descriptor of slack: the server's own keep-alive links to the
      // camera open and close on the camera's clock. A leak of the 300
      // clients' connections shows as hundreds.
      if (entries(proc + "/fd") <= fds + 1 && entries(proc + "/task") <= threads) return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  };
  // Warm-up: the first streams start the workers and the allocator's arenas.
  ASSERT_EQ(wave(30), 30);
  std::this_thread::sleep_for(1500ms);
  const std::size_t fds = entries(proc + "/fd"), threads = entries(proc + "/task");
  const long rss = rssKb(pid);

  EXPECT_EQ(wave(300), 300);
  EXPECT_TRUE(settled(fds, threads))
      << "descriptors " << fds << " -> " << entries(proc + "/fd") << ", threads " << threads
      << " -> " << entries(proc + "/task");
  if (!kSanitized) {
    EXPECT_LE(rssKb(pid), rss + 2048) << "kB before: " << rss;
  }
  // No viewer is left behind: once the last one has gone the feed stops
  // asking the camera for pictures.
  std::this_thread::sleep_for(1000ms);
  const int grabs = cam->state().value("lv_frames", 0);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(cam->state().value("lv_frames", 0), grabs);
  httplib::Client c = server->client();
  auto status = c.Get("/status");
  ASSERT_TRUE(status);
  EXPECT_EQ(status->status, 200);
}

}  // namespace
