// The camera routes over HTTP, against the fake SDK: parameter conversions,
// the calls they reach and every reply text and status.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ServerTestHarness.h"

namespace {

const char kCamera[] = "/connect?ip=10.0.0.5&mac=02:00:00:00:00:01";
const std::string D = "\xE2\x80\x94";

class RouteCameraTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::sdk().reset(); }

  static void expectStatus(const httplib::Result& r, int status, const std::string& text) {
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, status);
    EXPECT_EQ(r->get_header_value("Content-Type"), "application/json");
    EXPECT_EQ(r->body, statusBody(text));
  }
  static void connect(httplib::Client& c) {
    expectStatus(c.Post(kCamera), 200, "conectado");
    fake::sdk().clearCalls();
  }
};

TEST_F(RouteCameraTest, ConnectNeedsIpAndMacBeforeAnyCameraCall) {
  RunningServer running("127.0.61.1");
  ASSERT_TRUE(running.up());
  httplib::Client c = running.client();
  for (const char* path : {"/connect", "/connect?ip=10.0.0.5", "/connect?mac=02:00:00:00:00:01",
                           "/connect?ip=&mac=02:00:00:00:00:01", "/connect?ip=10.0.0.5&mac="}) {
    SCOPED_TRACE(path);
    expectStatus(c.Post(path), 400, "ip e mac obrigatorios");
  }
  EXPECT_EQ(fake::sdk().count("CreateCameraObjectInfoEthernetConnection"), 0);
  EXPECT_EQ(fake::sdk().count("Connect"), 0);
}

TEST_F(RouteCameraTest, ConnectModelAndSshFromParameters) {
  RunningServer running("127.0.61.2");
  ASSERT_TRUE(running.up());
  httplib::Client c = running.client();
  struct Case {
    const char* extra;
    std::int64_t model;
    std::int64_t ssh;
  };
  const Case cases[] = {
      {"", 7, 0},
      {"&model=SB_A4", 7, 0},
      {"&model=sb_x1", 7, 0},
      {"&model=", 7, 0},
      {"&model=SB_X1", 4, 0},
      {"&model=SB_A5", 28, 0},
      {"&model=SB_R5", 11, 0},
      {"&model=SB_S3", 18, 0},
      {"&model=CB_P7", 25, 0},
      {"&model=CB_F3", 8, 0},
      {"&model=CB_F6", 10, 0},
      {"&model=PZ_M7", 24, 0},
      {"&ssh=1", 7, 1},
      {"&ssh=true", 7, 0},
      {"&ssh=0", 7, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.extra);
    fake::sdk().clearCalls();
    expectStatus(c.Post(std::string(kCamera) + k.extra), 200, "conectado");
    const fake::Call info = fake::sdk().last("CreateCameraObjectInfoEthernetConnection");
    ASSERT_EQ(info.ints.size(), 3u);
    EXPECT_EQ(info.ints[0], k.model);
    EXPECT_EQ(info.ints[2], k.ssh);
  }
}

TEST_F(RouteCameraTest, ConnectPreparesPcCaptureBeforeAnswering) {
  RunningServer running("127.0.61.3");
  ASSERT_TRUE(running.up());
  httplib::Client c = running.client();
  expectStatus(c.Post(kCamera), 200, "conectado");
  const fake::Call save = fake::sdk().last("SetSaveInfo");
  ASSERT_EQ(save.fn, "SetSaveInfo");
  EXPECT_EQ(save.texts, (fake::Texts{std::string("captures"), std::string("KAMORA")}));
}

TEST_F(RouteCameraTest, ConnectFailuresAnswer502) {
  RunningServer running("127.0.61.4");
  ASSERT_TRUE(running.up());
  httplib::Client c = running.client();

  fake::sdk().queueResults("Connect", {VCSDK::VcError_ConnectRefused});
  expectStatus(c.Post(kCamera), 502, "falha ao conectar");
  EXPECT_EQ(fake::sdk().count("SetSaveInfo"), 0);

  fake::sdk().queueOnConnect({fake::Event::error(VCSDK::VcError_ConnectNoCamera, 20)});
  expectStatus(c.Post(kCamera), 502, "falha ao conectar");
  EXPECT_EQ(fake::sdk().count("SetSaveInfo"), 0);

  expectStatus(c.Post("/connect?ip=not-an-ip&mac=02:00:00:00:00:01"), 502, "falha ao conectar");
}

TEST_F(RouteCameraTest, FormBodyIsReadAndQueryStringWins) {
  RunningServer running("127.0.61.5");
  ASSERT_TRUE(running.up());
  httplib::Client c = running.client();
  expectStatus(c.Post("/connect?ip=10.0.0.1&mac=02:00:00:00:00:01"), 200, "conectado");
  const std::int64_t queryIp = fake::sdk().last("CreateCameraObjectInfoEthernetConnection").ints[1];
  expectStatus(c.Post("/connect?ip=10.0.0.2&mac=02:00:00:00:00:01"), 200, "conectado");
  const std::int64_t otherIp = fake::sdk().last("CreateCameraObjectInfoEthernetConnection").ints[1];
  ASSERT_NE(queryIp, otherIp);

  // Body only.
  expectStatus(c.Post("/connect", "ip=10.0.0.1&mac=02%3A00%3A00%3A00%3A00%3A01",
                      "application/x-www-form-urlencoded"),
               200, "conectado");
  EXPECT_EQ(fake::sdk().last("CreateCameraObjectInfoEthernetConnection").ints[1], queryIp);
  // Both: the query string's value.
  expectStatus(c.Post("/connect?ip=10.0.0.1", "ip=10.0.0.2&mac=02:00:00:00:00:01",
                      "application/x-www-form-urlencoded"),
               200, "conectado");
  EXPECT_EQ(fake::sdk().last("CreateCameraObjectInfoEthernetConnection").ints[1], queryIp);
  // A body of another type is not read.
  expectStatus(c.Post("/connect", "ip=10.0.0.1&mac=02:00:00:00:00:01", "text/plain"), 400,
               "ip e mac obrigatorios");
}

TEST_F(RouteCameraTest, ExposureConversionsAndOrder) {
  RunningServer running("127.0.61.6");
  ASSERT_TRUE(running.up());
  httplib::Client c = running.client();
  connect(c);
  using Sets = std::vector<std::pair<std::int64_t, std::int64_t>>;  // code, value
  struct Case {
    const char* query;
    Sets sets;
  };
  const Case cases[] = {
      {"", {}},
      {"?iso=800", {{0x0104, 800}}},
      {"?iso=800abc", {{0x0104, 800}}},
      {"?iso=-1", {{0x0104, 0xFFFFFF}}},
      {"?iso=16777217", {{0x0104, 1}}},
      {"?iso=", {{0x0104, 0}}},
      {"?shutter=1/250", {{0x0103, (1 << 16) | 250}}},
      {"?shutter=2", {{0x0103, (2 << 16) | 1}}},
      {"?shutter=1/", {{0x0103, 1 << 16}}},
      {"?fnumber=2.8", {{0x0100, 280}}},
      {"?ev=-0.7", {{0x0101, 0xFD44}}},
      // Fixed order whatever the request's order.
      {"?ev=1&shutter=1/60&fnumber=4&iso=400",
       {{0x0104, 400}, {0x0100, 400}, {0x0103, (1 << 16) | 60}, {0x0101, 1000}}},
      // What the console sends for four empty fields.
      {"?iso=&fnumber=&shutter=&ev=", {{0x0104, 0}, {0x0100, 0}, {0x0103, 1}, {0x0101, 0}}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.query);
    fake::sdk().clearCalls();
    expectStatus(c.Post(std::string("/exposure") + k.query), 200, "ok");
    Sets got;
    for (const fake::Call& call : fake::sdk().calls("SetDeviceProperty")) {
      ASSERT_EQ(call.ints.size(), 3u);
      got.emplace_back(call.ints[0], call.ints[2]);
    }
    EXPECT_EQ(got, k.sets);
  }
  // Refused settings still answer "ok".
  fake::sdk().setResult("SetDeviceProperty", VCSDK::VcError_PropertyRefused);
  expectStatus(c.Post("/exposure?iso=100"), 200, "ok");
}

TEST_F(RouteCameraTest, WithoutCameraEveryRouteAnswersAtOnce) {
  RunningServer running("127.0.61.7");
  ASSERT_TRUE(running.up());
  httplib::Client c = running.client();
  const auto t0 = std::chrono::steady_clock::now();
  expectStatus(c.Post("/exposure?iso=100&fnumber=2&shutter=1/4&ev=1"), 200, "ok");
  expectStatus(c.Post("/capture?shots=3"), 200, "0 foto(s)");
  expectStatus(c.Get("/liveview.jpg?t=123"), 503, "live view indisponivel");
  expectStatus(c.Post("/disconnect"), 200, "desconectado");
  auto props = c.Get("/properties");
  ASSERT_TRUE(props);
  EXPECT_EQ(props->status, 200);
  EXPECT_EQ(props->get_header_value("Content-Type"), "application/json");
  EXPECT_EQ(props->body, "{}");
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  EXPECT_EQ(fake::sdk().count("SetDeviceProperty"), 0);
  EXPECT_EQ(fake::sdk().count("SendCommand"), 0);
}

TEST_F(RouteCameraTest, CaptureCountsDownloadedShots) {
  RunningServer running("127.0.61.8");
  ASSERT_TRUE(running.up());
  httplib::Client c = running.client();
  connect(c);
  for (const char* query : {"?shots=0", "?shots=-3", "?shots=abc", "?shots="}) {
    SCOPED_TRACE(query);
    expectStatus(c.Post(std::string("/capture") + query), 200, "0 foto(s)");
  }
  EXPECT_EQ(fake::sdk().count("SendCommand"), 0);

  expectStatus(c.Post("/capture"), 200, "1 foto(s)");
  expectStatus(c.Post("/capture?shots=2"), 200, "2 foto(s)");
  // A shot the camera reports as failed is not counted; the next one runs.
  fake::sdk().queueOnShutterRelease(
      {fake::Event::error(VCSDK::VcError_CaptureFailed, 10), fake::Event::download("", 10)});
  expectStatus(c.Post("/capture?shots=2"), 200, "1 foto(s)");
}

TEST_F(RouteCameraTest, PropertiesAndLiveViewWithCamera) {
  RunningServer running("127.0.61.9");
  ASSERT_TRUE(running.up());
  httplib::Client c = running.client();
  connect(c);
  fake::sdk().setProperties({{0x0104, 400}, {0x0103, 0x001E0001}, {0x0702, 80}});
  auto props = c.Get("/properties");
  ASSERT_TRUE(props);
  EXPECT_EQ(props->status, 200);
  EXPECT_EQ(props->get_header_value("Content-Type"), "application/json");
  EXPECT_EQ(props->body, "{\"iso\":\"400\",\"fnumber\":\"" + D +
                             "\",\"shutter\":\"30\\\"\",\"ev\":\"" + D + "\",\"mode\":\"" + D +
                             "\",\"focus\":\"" + D + "\",\"wb\":\"" + D + "\",\"kelvin\":\"" + D +
                             "\",\"battery\":80}");

  const std::vector<std::uint8_t> jpeg = fake::jpegBytes(3000, 7);
  fake::LiveViewStep step;
  step.picture = jpeg;
  fake::sdk().setLiveView(step);
  auto frame = c.Get("/liveview.jpg?t=1");
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->status, 200);
  EXPECT_EQ(frame->get_header_value("Content-Type"), "image/jpeg");
  EXPECT_EQ(frame->body, std::string(jpeg.begin(), jpeg.end()));

  fake::LiveViewStep none;
  none.infoCode = VCSDK::VcError_LiveViewUnavailable;
  fake::sdk().setLiveView(none);
  expectStatus(c.Get("/liveview.jpg"), 503, "live view indisponivel");
}

TEST_F(RouteCameraTest, DisconnectEndsTheConnection) {
  RunningServer running("127.0.61.10");
  ASSERT_TRUE(running.up());
  httplib::Client c = running.client();
  connect(c);
  expectStatus(c.Post("/disconnect"), 200, "desconectado");
  EXPECT_EQ(fake::sdk().count("Disconnect"), 1);
  EXPECT_EQ(fake::sdk().count("ReleaseDevice"), 1);
  auto props = c.Get("/properties");
  ASSERT_TRUE(props);
  EXPECT_EQ(props->body, "{}");
  expectStatus(c.Post("/disconnect"), 200, "desconectado");
}

}  // namespace
