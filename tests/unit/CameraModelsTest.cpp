// The model table: each name with its SDK code and head, both lookups, and
// the server's reading of the "model" parameter.
#include <gtest/gtest.h>

#include "common/CameraModels.h"
#include "server/Params.h"

namespace {

TEST(CameraModelsTest, EachNameHasItsCodeAndOnlyThePanTiltBodiesAHead) {
  const CameraModel expected[] = {
      {"SB_X1", VCSDK::VcCameraDeviceModelList(4), false},
      {"SB_A4", VCSDK::VcCameraDeviceModelList(7), false},
      {"CB_F3", VCSDK::VcCameraDeviceModelList(8), false},
      {"CB_F6", VCSDK::VcCameraDeviceModelList(10), false},
      {"SB_R5", VCSDK::VcCameraDeviceModelList(11), false},
      {"SB_S3", VCSDK::VcCameraDeviceModelList(18), false},
      {"PZ_M7", VCSDK::VcCameraDeviceModelList(24), true},
      {"CB_P7", VCSDK::VcCameraDeviceModelList(25), true},
      {"SB_A5", VCSDK::VcCameraDeviceModelList(28), false},
  };
  for (const CameraModel& want : expected) {
    SCOPED_TRACE(want.name);
    const CameraModel* byName = findModelByName(want.name);
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(byName->code, want.code);
    EXPECT_EQ(byName->hasHead, want.hasHead);
    EXPECT_EQ(findModelByCode(want.code), byName);
    EXPECT_EQ(modelFromName(want.name), want.code);
  }
}

TEST(CameraModelsTest, UnknownNamesAndCodesFindNothingAndTheServerFallsBackToCode7) {
  for (const char* name : {"", "sb_a4", "CB_P7 ", "SB_A6", "4"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(findModelByName(name), nullptr);
    EXPECT_EQ(modelFromName(name), 7u);
  }
  for (std::uint32_t code : {0u, 5u, 26u, 0xFFFFFFFFu}) {
    EXPECT_EQ(findModelByCode(code), nullptr) << code;
  }
}

}  // namespace
