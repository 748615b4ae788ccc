// POST /volley in a real server against virtual cameras: which cameras a
// volley fires, its answers to bad requests, and the pictures it reports
// against the files in each camera's folder. Addresses 127.62.1.x.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "tests/support/KamoraServer.h"
#include "tests/support/StatusReply.h"
#include "tests/support/Vcam.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

TEST(HttpVolleyTest, FiresTheCamerasAskedForOrEveryConnectedOne) {
  VcamOptions o;
  o.stillSize = "320x200";
  o.ip = "127.62.1.2";
  auto left = VirtualCamera::start(o);
  o.ip = "127.62.1.3";
  auto right = VirtualCamera::start(o);
  ASSERT_TRUE(left && right) << VirtualCamera::lastError();
  auto server = KamoraServer::start("127.62.1.1");
  ASSERT_TRUE(server) << KamoraServer::lastError();
  httplib::Client c = server->client();
  for (const auto* cam : {left.get(), right.get()}) {
    const std::string id = cam == left.get() ? "left" : "right";
    const httplib::Result added =
        c.Post("/cameras", "id=" + id + "&ip=" + cam->ip() + "&mac=" + cam->mac(),
               "application/x-www-form-urlencoded");
    ASSERT_TRUE(added && added->status == 201) << (added ? added->body : "no answer");
  }

  struct Case {
    const char* query;
    int status;
    // Each camera fired, and its files, as "id:ok:file,file"; or the status.
    std::set<std::string> cameras;
    const char* refusal;
  };
  const Case cases[] = {
      // Without a list: the cameras connected now, not main (no camera).
      {"", 200, {"left:1:left/KAMORA_00001.JPG", "right:1:right/KAMORA_00001.JPG"}, ""},
      {"?cameras=right&shots=2",
       200,
       {"right:1:right/KAMORA_00002.JPG,right/KAMORA_00003.JPG"},
       ""},
      {"?cameras=main,left,main", 200, {"main:0:", "left:1:left/KAMORA_00002.JPG"}, ""},
      {"?cameras=left,nobody", 404, {}, "camera desconhecida"},
      {"?cameras=", 404, {}, "camera desconhecida"},
      {"?shots=0", 400, {}, "shots invalido"},
      {"?shots=2x", 400, {}, "shots invalido"},
      {"?shots=1001", 400, {}, "shots invalido"},
  };
  int volleys = 0;
  for (const Case& k : cases) {
    const httplib::Result r = c.Post((std::string("/volley") + k.query).c_str());
    ASSERT_TRUE(r) << k.query;
    ASSERT_EQ(r->status, k.status) << k.query << ": " << r->body;
    if (k.status != 200) {
      EXPECT_EQ(r->body, statusBody(k.refusal)) << k.query;
      continue;
    }
    const json j = json::parse(r->body, nullptr, false);
    EXPECT_EQ(j["volley"], ++volleys) << r->body;
    std::set<std::string> seen;
    for (const json& cam : j["cameras"]) {
      std::string files;
      for (const json& f : cam.value("files", json::array())) {
        files += (files.empty() ? "" : ",") + f.get<std::string>();
      }
      seen.insert(cam["id"].get<std::string>() + ":" + (cam["ok"] == true ? "1" : "0") + ":" +
                  files);
    }
    EXPECT_EQ(seen, k.cameras) << k.query << ": " << r->body;
  }
  // Every picture reported is in its camera's folder, and nothing else is.
  for (const auto& [id, count] : {std::pair<std::string, int>{"left", 2}, {"right", 3}}) {
    int files = 0;
    for (const auto& e : fs::directory_iterator(fs::path(server->workDir()) / "captures" / id)) {
      files += e.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(files, count) << id;
  }
}

}  // namespace
