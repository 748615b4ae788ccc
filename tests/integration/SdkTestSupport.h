// The fixture of the stand-in SDK's own tests: each test has the SDK to
// itself, initialised before it runs and released after.
#pragma once

#include <gtest/gtest.h>

#include "tests/support/SdkRecorder.h"

class SdkTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(VCSDK::Init(0)); }
  void TearDown() override { VCSDK::Release(); }
};
