// GET /tiles.mjpg against a real server and virtual cameras: every camera's
// small picture on one connection, named by its id, one camera in full
// beside them at the rate asked and moved to another while it runs,
// cameras joining and leaving the running stream.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "server/slot/TileFeed.h"
#include "tests/support/KamoraServer.h"
#include "tests/support/MjpegReader.h"
#include "tests/support/Until.h"
#include "tests/support/Vcam.h"

namespace {

using namespace std::chrono_literals;

const char kTileHost[] = "127.19.1.1";

struct Seen {
  std::map<std::string, int> tiles, fulls;  // parts per camera
  int badTiles = 0;                         // not a whole JPEG of the tile's width
  int badFulls = 0;
};

Seen tally(const std::vector<MjpegPart>& parts, std::size_t from = 0) {
  Seen seen;
  for (std::size_t i = from; i < parts.size(); ++i) {
    const MjpegPart& p = parts[i];
    if (p.view == "tile") {
      ++seen.tiles[p.camera];
      if (!p.wholeJpeg || p.width != TileFeed::kWidth) ++seen.badTiles;
    } else {
      ++seen.fulls[p.camera];
      if (p.view != "full" || !p.wholeJpeg || p.width != 1024) ++seen.badFulls;
    }
  }
  return seen;
}

std::string describe(const Seen& s) {
  std::string out;
  for (const auto& [id, n] : s.tiles) out += id + ":" + std::to_string(n) + " tiles ";
  for (const auto& [id, n] : s.fulls) out += id + ":" + std::to_string(n) + " full ";
  return out;
}

TEST(HttpTileStreamTest, EveryCameraOnOneConnectionOneInFullAndTheRigFollowed) {
  auto mainCam = VirtualCamera::start("127.19.1.2", "02:00:00:13:01:02", "SB_A4");
  auto left = VirtualCamera::start("127.19.1.3", "02:00:00:13:01:03", "SB_A4");
  auto right = VirtualCamera::start("127.19.1.4", "02:00:00:13:01:04", "CB_P7");
  auto top = VirtualCamera::start("127.19.1.5", "02:00:00:13:01:05", "SB_A4");
  ASSERT_TRUE(mainCam && left && right && top) << VirtualCamera::lastError();
  auto server = KamoraServer::start(kTileHost);
  ASSERT_TRUE(server) << KamoraServer::lastError();
  httplib::Client c = server->client();
  const auto add = [&c](const std::string& id, const VirtualCamera& cam) {
    const httplib::Result r =
        c.Post(("/cameras?id=" + id + "&ip=" + cam.ip() + "&mac=" + cam.mac()).c_str());
    return r ? r->status : 0;
  };
  ASSERT_TRUE(c.Post(("/connect?ip=" + mainCam->ip() + "&mac=" + mainCam->mac()).c_str()));
  // Right before left: the camera removed below is not the stream's last.
  ASSERT_EQ(add("right", *right), 201);
  ASSERT_EQ(add("left", *left), 201);

  const struct {
    const char* query;
    int status;
    const char* body;
  } refused[] = {{"full=nope", 404, R"({"status":"camera desconhecida"})"},
                 {"full=left&fps=0", 400, R"({"status":"fps invalido"})"},
                 {"full=left&fps=61", 400, R"({"status":"fps invalido"})"},
                 {"fps=7x", 400, R"({"status":"fps invalido"})"}};
  for (const auto& r : refused) {
    const httplib::Result answer = c.Get((std::string("/tiles.mjpg?") + r.query).c_str());
    ASSERT_TRUE(answer) << r.query;
    EXPECT_EQ(answer->status, r.status) << r.query;
    EXPECT_EQ(answer->body, r.body) << r.query;
  }

  MjpegReaderOptions options;
  options.path = "/tiles.mjpg?full=left";
  auto stream = MjpegReader::open(kTileHost, 8080, options);
  ASSERT_TRUE(stream);
  // Every camera's tiles, and left's full pictures, each tile a small copy.
  EXPECT_TRUE(until(
      [&] {
        Seen s = tally(stream->parts());
        return s.tiles["main"] >= 10 && s.tiles["left"] >= 10 && s.tiles["right"] >= 10 &&
               s.fulls["left"] >= 10;
      },
      10s, [&] { return describe(tally(stream->parts())); }));
  EXPECT_EQ(stream->status(), 200);
  EXPECT_NE(stream->replyHead().find("multipart/x-mixed-replace; boundary=kamoraframe"),
            std::string::npos);
  // Beside it, a reader asking for left's full pictures 4 a second.
  MjpegReaderOptions slowOptions;
  slowOptions.path = "/tiles.mjpg?full=left&fps=4";
  auto slow = MjpegReader::open(kTileHost, 8080, slowOptions);
  ASSERT_TRUE(slow);
  EXPECT_TRUE(until([&] { return tally(slow->parts()).fulls["left"] >= 6; }, 10s,
                    [&] { return describe(tally(slow->parts())); }));
  const std::vector<MjpegPart> slowParts = slow->parts();
  const double slowSpan = slowParts.back().arrival - slowParts.front().arrival;
  EXPECT_LE(tally(slowParts).fulls["left"], (slowSpan + 0.5) * 4 * 4 / 3 + 1)
      << describe(tally(slowParts));
  const std::vector<MjpegPart> first = stream->parts();
  const Seen before = tally(first);
  EXPECT_EQ(before.badTiles, 0);
  EXPECT_EQ(before.badFulls, 0);
  EXPECT_EQ(before.fulls.size(), 1u) << describe(before);  // left alone in full
  // Tiles come at most at the tile rate, whatever rate the full view runs at.
  const double span = first.back().arrival - first.front().arrival;
  EXPECT_LE(before.tiles.at("left"), (span + 0.5) * TileFeed::kFps + 2) << describe(before);

  // The full pictures move to main on the same connection, then stop.
  const std::string head = stream->replyHead();
  const std::size_t named = head.find("X-Stream: ");
  ASSERT_NE(named, std::string::npos) << head;
  const std::string streamId = head.substr(named + 10, 16);
  const struct {
    std::string query;
    int status;
    const char* body;
  } moves[] = {{"stream=0123456789abcdef&full=main", 404, R"({"status":"stream desconhecido"})"},
               {"stream=" + streamId + "&full=nope", 404, R"({"status":"camera desconhecida"})"},
               {"stream=" + streamId + "&full=main&fps=0", 400, R"({"status":"fps invalido"})"},
               {"stream=" + streamId + "&full=main", 200, R"({"status":"ok"})"}};
  for (const auto& m : moves) {
    const httplib::Result answer = c.Post(("/tiles/full?" + m.query).c_str());
    ASSERT_TRUE(answer) << m.query;
    EXPECT_EQ(answer->status, m.status) << m.query;
    EXPECT_EQ(answer->body, m.body) << m.query;
  }
  const std::size_t movedAt = stream->count();
  EXPECT_TRUE(until([&] { return tally(stream->parts(), movedAt).fulls["main"] >= 5; }, 10s,
                    [&] { return describe(tally(stream->parts(), movedAt)); }));
  // One of left's may have been under way; none after main's first.
  const std::vector<MjpegPart> moved = stream->parts();
  std::size_t firstMain = movedAt;
  while (firstMain < moved.size() &&
         !(moved[firstMain].view == "full" && moved[firstMain].camera == "main")) {
    ++firstMain;
  }
  EXPECT_EQ(tally(moved, firstMain).fulls.count("left"), 0u) << describe(tally(moved, firstMain));
  ASSERT_TRUE(c.Post(("/tiles/full?stream=" + streamId + "&full=").c_str()));
  // Parts written before the move may still be on their way: the tiles go on
  // after the last full picture.
  const auto sinceLastFull = [&stream] {
    const std::vector<MjpegPart> parts = stream->parts();
    std::size_t from = parts.size();
    while (from > 0 && parts[from - 1].view != "full") --from;
    return tally(parts, from);
  };
  EXPECT_TRUE(until([&] { return sinceLastFull().tiles["left"] >= 5; }, 10s,
                    [&] { return describe(sinceLastFull()); }));

  // Right leaves from between main and left: its tiles stop, the others go
  // on (the stream lets go of its viewer before its slot); top joins.
  ASSERT_TRUE(c.Delete("/cameras/right"));
  const std::size_t removedAt = stream->count();
  ASSERT_EQ(add("top", *top), 201);
  EXPECT_TRUE(until([&] { return tally(stream->parts(), removedAt).tiles["top"] >= 5; }, 10s,
                    [&] { return describe(tally(stream->parts(), removedAt)); }));
  // A part of right's may have been under way when it left; none after.
  Seen after = tally(stream->parts(), removedAt + 1);
  EXPECT_EQ(after.tiles.count("right"), 0u) << describe(after);
  EXPECT_GE(after.tiles["main"], 3) << describe(after);
  EXPECT_FALSE(stream->ended());
  EXPECT_FALSE(stream->malformed());
}

}  // namespace
