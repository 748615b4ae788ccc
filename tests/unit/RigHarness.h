// A rig and its router over the fake SDK, called without a network. The
// cameras go while the fake's objects still exist.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "FakeSdk.h"
#include "server/rig/Rig.h"
#include "server/routes/Router.h"
#include "tests/support/RouteRequest.h"

class RigHarness : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::sdk().reset();
    rig = std::make_unique<Rig>(log, options);
    router = std::make_unique<Router>(*rig, "kamora-test", AccessToken(""));
  }
  void TearDown() override {
    router.reset();
    rig.reset();
    fake::sdk().reset();
  }

  HttpReply call(HttpMethod method, const std::string& path, HttpFields params = {}) {
    return router->handle(routeRequest(method, path, std::move(params)));
  }

  SlotOptions options;  // a derived SetUp may change it first
  EventLog log;
  std::unique_ptr<Rig> rig;
  std::unique_ptr<Router> router;
};
