// The SDK lifetime object: Init and Release pairing, the version line and
// the camera listing, against the fake SDK.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "FakeSdk.h"
#include "camera/Kamora.h"

namespace {

class KamoraTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::sdk().reset(); }
};

struct VersionRow {
  std::uint32_t value;
  const char* line;
};

class KamoraVersionTest : public ::testing::TestWithParam<VersionRow> {
 protected:
  void SetUp() override { fake::sdk().reset(); }
};

TEST_P(KamoraVersionTest, OneByteAComponentMajorFirst) {
  fake::sdk().setVersion(GetParam().value);
  Kamora kamora;
  testing::internal::CaptureStdout();
  kamora.printVersion();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(Values, KamoraVersionTest,
                         ::testing::Values(VersionRow{0x01020304, "VcSDK versao: 1.02.03.04\n"},
                                           VersionRow{0x0A000000, "VcSDK versao: 10.00.00.00\n"},
                                           VersionRow{0x00000000, "VcSDK versao: 0.00.00.00\n"},
                                           VersionRow{0x00640063, "VcSDK versao: 0.100.00.99\n"},
                                           VersionRow{0xFFFEFDFC,
                                                      "VcSDK versao: 255.254.253.252\n"}));

TEST_F(KamoraTest, InitAndReleaseArePairedOnlyWhenInitSucceeded) {
  auto& f = fake::sdk();
  {
    testing::internal::CaptureStdout();
    Kamora kamora;
    EXPECT_TRUE(kamora.ok());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(f.names(), (fake::Names{"Init"}));
    EXPECT_EQ(f.last("Init").ints, (fake::Ints{0}));
  }
  EXPECT_EQ(f.names(), (fake::Names{"Init", "Release"}));

  f.reset();
  f.setInitResult(false);
  {
    testing::internal::CaptureStdout();
    Kamora kamora;
    EXPECT_FALSE(kamora.ok());
    EXPECT_EQ(kamora.enumerate(), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[error] VCSDK::Init falhou\n");
  }
  // No discovery and no Release after a failed Init.
  EXPECT_EQ(f.names(), (fake::Names{"Init"}));
}

TEST_F(KamoraTest, ListsEveryCameraWithPlaceholdersForMissingTexts) {
  auto& f = fake::sdk();
  f.setCameras({
      fake::camera("SB_A4", "Ethernet", "127.0.5.10"),
      fake::nullCamera(),
      fake::camera(std::nullopt, "Ethernet", std::nullopt),
      fake::camera("CB_P7", std::nullopt, "127.0.5.11"),
  });
  Kamora kamora;
  testing::internal::CaptureStdout();
  const std::int32_t n = kamora.enumerate();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Cameras encontradas: 4\n"
            "  [0] modelo=SB_A4 conexao=Ethernet ip=127.0.5.10\n"
            "  [2] modelo=? conexao=Ethernet ip=-\n"
            "  [3] modelo=CB_P7 conexao=? ip=127.0.5.11\n");
  EXPECT_EQ(n, 4);  // the null entry still counts
  EXPECT_EQ(f.last("EnumCameraObjects").ints, (fake::Ints{3}));
  EXPECT_EQ(f.names(), (fake::Names{"Init", "EnumCameraObjects", "ListRelease"}));
  const fake::Lifetimes life = f.lifetimes();
  EXPECT_EQ(life.listsReleased, 1);
  EXPECT_EQ(life.listDoubleReleases, 0);
  EXPECT_EQ(life.listInfoReleases, 0);  // infos belong to the list
  EXPECT_EQ(life.useAfterRelease, 0);
}

TEST_F(KamoraTest, DiscoveryWithoutAListIsNotAFailure) {
  struct Row {
    const char* name;
    std::function<void(fake::FakeSdk&)> script;
    const char* output;
    int lists;
  };
  const Row rows[] = {
      {"error code", [](fake::FakeSdk& f) { f.setResult("EnumCameraObjects", 0x8011); },
       "Nenhuma camera encontrada (EnumCameraObjects: 0x00008011)\n", 0},
      {"null list with code 0", [](fake::FakeSdk& f) { f.setEnumNullList(true); },
       "Nenhuma camera encontrada (EnumCameraObjects: 0x00000000)\n", 0},
      {"empty list", [](fake::FakeSdk&) {}, "Cameras encontradas: 0\n", 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto& f = fake::sdk();
    f.reset();
    row.script(f);
    Kamora kamora;
    testing::internal::CaptureStdout();
    EXPECT_EQ(kamora.enumerate(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), row.output);
    EXPECT_EQ(f.count("ListRelease"), row.lists);
  }
}

}  // namespace
