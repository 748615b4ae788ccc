// Several cameras in one real server, against virtual cameras: cameras added
// over HTTP (one not there yet, kept until it comes), each firing into its
// own folder beside the others, SSH credentials in no reply, event or log
// line, a camera removed under a live-view stream; the rig file read at
// start, kept up to date and bringing the same rig back, a warning when
// others may read it, and a faulty one refused before the server listens.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/KamoraServer.h"
#include "tests/support/MjpegReader.h"
#include "tests/support/Subprocess.h"
#include "tests/support/Until.h"
#include "tests/support/Vcam.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::chrono_literals;

const char kHost[] = "127.18.1.1";

std::vector<std::string> picturesIn(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file()) names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

json getJson(httplib::Client& c, const std::string& path) {
  const httplib::Result r = c.Get(path.c_str());
  return r ? json::parse(r->body, nullptr, false) : json();
}

std::string stateOf(httplib::Client& c, const std::string& id) {
  const json cameras = getJson(c, "/cameras");
  if (!cameras.is_object()) return "no answer";
  for (const json& camera : cameras["cameras"]) {
    if (camera["id"] == id) return camera["state"];
  }
  return "absent";
}

// The events the server keeps, read from the start of its log up to the
// first chunk that holds last.
std::string keptEventsUpTo(const KamoraServer& k, const std::string& last) {
  httplib::Client events = k.client();
  std::string text;
  events.Get("/events", {{"Last-Event-ID", "0"}}, [&](const char* data, std::size_t size) {
    text.append(data, size);
    return text.find(last) == std::string::npos;
  });
  return text;
}

httplib::Result addCamera(httplib::Client& c, const std::string& id, const VirtualCamera& cam) {
  const std::string body =
      "id=" + id + "&ip=" + cam.ip() + "&mac=" + cam.mac() + "&model=" + cam.model();
  return c.Post("/cameras", body, "application/x-www-form-urlencoded");
}

TEST(HttpRigTest, CamerasFireIntoTheirOwnFoldersAndAreKeptConnected) {
  auto left = VirtualCamera::start("127.18.1.2", "02:00:00:12:01:02", "SB_A4");
  ASSERT_TRUE(left) << VirtualCamera::lastError();
  VcamOptions rightOptions;
  rightOptions.ip = "127.18.1.3";
  rightOptions.mac = "02:00:00:12:01:03";
  rightOptions.model = "CB_P7";
  rightOptions.user = "ana";
  rightOptions.pass = "s3gredo-xyz";
  auto server = KamoraServer::start(kHost);
  ASSERT_TRUE(server) << KamoraServer::lastError();
  httplib::Client c = server->client();

  httplib::Result added = addCamera(c, "left", *left);
  ASSERT_TRUE(added);
  EXPECT_EQ(added->status, 201);
  EXPECT_EQ(json::parse(added->body)["state"], "conectada") << added->body;

  // Not there yet: in the rig all the same, connected once it answers.
  httplib::Result waiting = c.Post(
      "/cameras",
      "id=right&ip=127.18.1.3&mac=02:00:00:12:01:03&model=CB_P7&ssh=1&user=ana&pass=s3gredo-xyz",
      "application/x-www-form-urlencoded");
  ASSERT_TRUE(waiting);
  EXPECT_EQ(waiting->status, 201);
  EXPECT_EQ(json::parse(waiting->body)["state"], "perdida") << waiting->body;
  auto right = VirtualCamera::start(rightOptions);
  ASSERT_TRUE(right) << VirtualCamera::lastError();
  EXPECT_TRUE(until([&] { return stateOf(c, "right") == "conectada"; }, 10s,
                    [&] { return stateOf(c, "right"); }));

  const json listed = getJson(c, "/cameras");
  ASSERT_EQ(listed["cameras"].size(), 3u);
  EXPECT_EQ(listed["cameras"][0]["id"], "main");
  EXPECT_EQ(listed["cameras"][0]["state"], "sem camera");
  EXPECT_EQ(listed["cameras"][2]["model"], "CB_P7");

  // Both fire at once, each into its own folder, numbered on its own.
  auto fire = [&](const std::string& id, int shots) {
    httplib::Client own = server->client();
    const httplib::Result r =
        own.Post(("/cameras/" + id + "/capture").c_str(), "shots=" + std::to_string(shots),
                 "application/x-www-form-urlencoded");
    return r ? r->body : std::string("no answer");
  };
  auto leftShots = std::async(std::launch::async, fire, "left", 2);
  auto rightShots = std::async(std::launch::async, fire, "right", 1);
  EXPECT_EQ(leftShots.get(), R"j({"status":"2 foto(s)"})j");
  EXPECT_EQ(rightShots.get(), R"j({"status":"1 foto(s)"})j");
  const std::string captures = server->workDir() + "/captures";
  EXPECT_EQ(picturesIn(captures + "/left"),
            (std::vector<std::string>{"KAMORA_00001.JPG", "KAMORA_00002.JPG"}));
  EXPECT_EQ(picturesIn(captures + "/right"), (std::vector<std::string>{"KAMORA_00001.JPG"}));
  EXPECT_TRUE(picturesIn(captures).empty());
  EXPECT_EQ(getJson(c, "/cameras/left/captures")["total"], 2);
  EXPECT_EQ(c.Get("/cameras/left/captures/KAMORA_00002.JPG")->status, 200);
  EXPECT_EQ(c.Get("/cameras/right/captures/KAMORA_00002.JPG")->status, 404);

  // A stream on a camera that is removed ends with the closing boundary.
  MjpegReaderOptions path;
  path.path = "/cameras/left/liveview.mjpg";
  auto viewer = MjpegReader::open(kHost, 8080, path);
  ASSERT_TRUE(viewer);
  ASSERT_TRUE(viewer->waitParts(2, 5000));
  const httplib::Result removed = c.Delete("/cameras/left");
  ASSERT_TRUE(removed);
  EXPECT_EQ(removed->body, R"({"status":"removida"})");
  EXPECT_TRUE(viewer->waitEnded(3000));
  EXPECT_TRUE(viewer->closingBoundary());
  EXPECT_EQ(c.Get("/cameras/left/camera")->status, 404);

  // The credentials reached the camera and nobody else.
  EXPECT_FALSE(right->output().empty());
  const std::string events = keptEventsUpTo(*server, R"("id":"left","change":"removed")");
  EXPECT_NE(events.find(R"("camera":"right")"), std::string::npos) << events;
  const std::string everything = server->output() + waiting->body + listed.dump() +
                                 getJson(c, "/cameras/right/camera").dump() + events;
  EXPECT_EQ(everything.find("s3gredo"), std::string::npos);

  server->signal(SIGTERM);
  EXPECT_EQ(server->wait(10000), 0) << server->output();
}

std::string readText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> idsOf(httplib::Client& c) {
  std::vector<std::string> ids;
  const json cameras = getJson(c, "/cameras");
  for (const json& camera : cameras["cameras"]) ids.push_back(camera["id"]);
  return ids;
}

TEST(HttpRigTest, TheRigFileBringsTheSameRigBackAndAFaultyOneStopsTheServerBeforeItListens) {
  const std::string dir = makeTempDir("rigfile");
  const std::string file = dir + "/rig.json";
  auto a = VirtualCamera::start("127.18.2.2", "02:00:00:12:02:02", "SB_A5");
  ASSERT_TRUE(a) << VirtualCamera::lastError();
  std::ofstream(file)
      << R"({"cameras":[)"
      << R"({"id":"a","ip":"127.18.2.2","mac":"02:00:00:12:02:02","model":"SB_A5"},)"
      << R"({"id":"b","ip":"127.18.2.3","mac":"02:00:00:12:02:03"}]})";
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  auto server = KamoraServer::start("127.18.2.1", 8080, {"--rig", file}, dir);
  ASSERT_TRUE(server) << KamoraServer::lastError();
  httplib::Client c = server->client();
  EXPECT_NE(server->output().find("[warn] " + file + ": outros usuarios podem ler este arquivo"),
            std::string::npos)
      << server->output();
  EXPECT_EQ(idsOf(c), (std::vector<std::string>{"main", "a", "b"}));
  EXPECT_TRUE(
      until([&] { return stateOf(c, "a") == "conectada"; }, 10s, [&] { return stateOf(c, "a"); }));
  EXPECT_NE(stateOf(c, "b"), "conectada");

  // Each change rewrites the file, credentials and all; no answer shows them.
  const httplib::Result added =
      c.Post("/cameras", "id=c&ip=127.18.2.4&mac=02:00:00:12:02:04&ssh=1&user=ana&pass=s3gredo-rig",
             "application/x-www-form-urlencoded");
  ASSERT_TRUE(added);
  EXPECT_EQ(added->status, 201);
  ASSERT_EQ(c.Delete("/cameras/b")->status, 200);
  const json written = json::parse(readText(file), nullptr, false);
  ASSERT_TRUE(written.is_object()) << readText(file);
  ASSERT_EQ(written["cameras"].size(), 2u);
  EXPECT_EQ(written["cameras"][0]["model"], "SB_A5");
  EXPECT_EQ(written["cameras"][1]["pass"], "s3gredo-rig");
  const std::string events = keptEventsUpTo(*server, R"("id":"b","change":"removed")");
  EXPECT_NE(events.find(R"("id":"c","change":"added")"), std::string::npos) << events;
  EXPECT_EQ(
      (added->body + getJson(c, "/cameras").dump() + server->output() + events).find("s3gredo"),
      std::string::npos);
  server->signal(SIGTERM);
  ASSERT_EQ(server->wait(10000), 0) << server->output();

  // The rewrite kept the file's permissions; the owner's alone, no warning.
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
  server = KamoraServer::start("127.18.2.1", 8080, {"--rig", file}, dir);
  ASSERT_TRUE(server) << KamoraServer::lastError();
  httplib::Client again = server->client();
  EXPECT_EQ(idsOf(again), (std::vector<std::string>{"main", "a", "c"}));
  EXPECT_EQ(server->output().find("podem ler"), std::string::npos) << server->output();
  server->signal(SIGTERM);
  ASSERT_EQ(server->wait(10000), 0) << server->output();

  // A faulty file: its one line after the SDK's version, exit 1, and no
  // banner (nothing listened).
  const struct {
    std::string text;
    std::string line;
  } faulty[] = {
      {R"({"cameras":[{"id":"a","ip":"127.18.2.2","mac":"02:00:00:12:02:02","pass":"x","iso":1}]})",
       ": camera \"a\": campo \"iso\" desconhecido"},
      {R"({"cameras":[{"id":"a","ip":"127.18.2.2","mac":"2:0:0:0:0:2"},)"
       R"({"id":"a","ip":"127.18.2.3","mac":"2:0:0:0:0:3"}]})",
       ": camera \"a\": campo \"id\" repetido"},
      {"{\"cameras\":[", ": JSON invalido na linha 1, coluna 13"},
  };
  for (const auto& f : faulty) {
    std::ofstream(file, std::ios::trunc) << f.text;
    const RunResult run = runProgram(
        {binaryPath("kamora"), "--server", "--host", "127.18.2.1", "--rig", file}, dir, 10000);
    EXPECT_EQ(run.exitCode, 1) << run.output;
    const std::size_t line = run.output.find("\n") + 1;
    EXPECT_EQ(run.output.substr(line), "[error] " + file + f.line + "\n") << run.output;
  }
}

}  // namespace
