// The fault names kamora-vcam takes (docs/virtual-camera.md) and how its
// state lists them. Addresses 127.0.137.x.
#include <gtest/gtest.h>
#include <httplib.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/Vcam.h"

TEST(VcamFaultNames, EveryDocumentedNameIsTakenAndTheStateListsThemByName) {
  VcamOptions o;
  o.ip = "127.0.137.1";
  o.mac = "02:00:00:00:89:01";
  auto cam = VirtualCamera::start(o);
  ASSERT_TRUE(cam) << VirtualCamera::lastError();

  const std::vector<std::string> kept = {"capture-delay", "capture-error",  "lv-empty",
                                         "lv-error",      "lv-image-error", "never-ready",
                                         "refuse-link",   "refuse-ptz",     "refuse-saveinfo"};
  // Set from last name to first, so a list in setting order (or in any
  // order of the camera's own) shows.
  for (auto it = kept.rbegin(); it != kept.rend(); ++it) EXPECT_TRUE(cam->fault(*it)) << *it;
  EXPECT_TRUE(cam->fault("refuse-prop", {{"prop", "0x0100"}}));
  nlohmann::json expected = kept;
  expected.push_back("refuse-prop:256");
  EXPECT_EQ(cam->state()["faults"], expected);

  EXPECT_TRUE(cam->fault("drop"));
  httplib::Client client(cam->url());
  client.set_read_timeout(2, 0);
  for (const std::string name : {"refuse-saveinfos", "", "Clear"}) {
    auto res = client.Post("/vcam/fault", httplib::Params{{"name", name}});
    ASSERT_TRUE(res) << name;
    EXPECT_EQ(400, res->status) << name;
    EXPECT_EQ(R"({"error":"falha desconhecida: )" + name + R"(","ok":false})", res->body);
  }
  EXPECT_EQ(cam->state()["faults"], expected);  // a refused name changes nothing
  EXPECT_TRUE(cam->fault("clear"));
  EXPECT_TRUE(cam->state()["faults"].empty());
}
