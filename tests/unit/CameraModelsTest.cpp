// The model table: each name with its SDK code and head, both lookups, and
// the server's reading of the "model" parameter.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "common/CameraModels.h"
#include "server/routes/Params.h"

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

// The console keeps its own list of models (SB_R5 only through the API):
// every name it offers must be one the server maps to its code.
TEST(CameraModelsTest, TheConsoleOffersTableModelsOnly) {
  std::ifstream in(std::string(KAMORA_SOURCE_DIR) + "/web/console.html");
  std::stringstream page;
  page << in.rdbuf();
  const std::string html = page.str();
  const std::size_t open = html.find("<select id=\"model\">");
  ASSERT_NE(open, std::string::npos);
  const std::string select = html.substr(open, html.find("</select>", open) - open);
  std::set<std::string> offered;
  for (std::size_t at = select.find("<option"); at != std::string::npos;
       at = select.find("<option", at)) {
    const std::size_t text = select.find('>', at) + 1;
    const std::size_t end = select.find("</option>", text);
    ASSERT_NE(end, std::string::npos);
    offered.insert(select.substr(text, end - text));
    at = end;
  }
  EXPECT_EQ(offered.size(), 8u);
  for (const std::string& name : offered) {
    SCOPED_TRACE(name);
    ASSERT_NE(findModelByName(name), nullptr);
    EXPECT_EQ(modelFromName(name), findModelByName(name)->code);
  }
  EXPECT_EQ(offered.count("SB_R5"), 0u);
}

}  // namespace
