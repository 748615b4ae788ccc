// Opening a picture by a name from a URL never reaches outside the capture
// folder; scaled copies keep within their width and the picture's aspect.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "CaptureTestPictures.h"
#include "camera/CaptureFolder.h"
#include "camera/ScaledJpeg.h"

namespace {

using capturetest::TempFolder;
using capturetest::writeFile;

TEST(CaptureResolve, OpensOnlyFinishedPicturesInsideTheFolder) {
  TempFolder root;
  ASSERT_EQ(::mkdir((root / "captures").c_str(), 0755), 0);
  const std::string dir = root / "captures";
  const std::vector<std::uint8_t> jpeg = capturetest::plainJpeg(32, 24);
  writeFile(dir + "/KAMORA_00001.JPG", jpeg);
  writeFile(dir + "/KAMORA_CAM2_00001.jpg", jpeg);
  writeFile(dir + "/notes.txt", jpeg);
  writeFile(dir + "/.vcdl-0123456789abcdef.part", jpeg);
  writeFile(root / "KAMORA_00099.JPG", jpeg);  // beside the folder, not in it
  ASSERT_EQ(::mkdir((dir + "/sub").c_str(), 0755), 0);
  writeFile(dir + "/sub/KAMORA_00001.JPG", jpeg);
  // Planted in the folder under picture names.
  ASSERT_EQ(::symlink("/etc/passwd", (dir + "/KAMORA_00002.JPG").c_str()), 0);
  ASSERT_EQ(::symlink("/etc", (dir + "/KAMORA_00003.JPG").c_str()), 0);
  ASSERT_EQ(::symlink("../KAMORA_00099.JPG", (dir + "/KAMORA_00004.JPG").c_str()), 0);
  ASSERT_EQ(::symlink("KAMORA_00001.JPG", (dir + "/KAMORA_00005.JPG").c_str()), 0);
  ASSERT_EQ(::mkdir((dir + "/KAMORA_00006.JPG").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo((dir + "/KAMORA_00007.JPG").c_str(), 0644), 0);  // would block an open

  CaptureFolder folder(dir);
  std::optional<CaptureFile> good = folder.resolve("KAMORA_00001.JPG");
  ASSERT_TRUE(good.has_value());
  std::string bytes;
  ASSERT_TRUE(good->readAll(bytes));
  EXPECT_EQ(bytes, std::string(jpeg.begin(), jpeg.end()));
  EXPECT_EQ(good->bytes(), jpeg.size());
  EXPECT_TRUE(folder.resolve("KAMORA_CAM2_00001.jpg").has_value());

  const std::string nul("KAMORA_00001.JPG\0/../../etc/passwd", 34);
  const std::vector<std::string> refused = {"",
                                            ".",
                                            "..",
                                            "../x",
                                            "../etc/passwd",
                                            "../../../../etc/passwd",
                                            "..%2f..%2fetc%2fpasswd",
                                            "%2e%2e",
                                            "/etc/passwd",
                                            dir + "/KAMORA_00001.JPG",
                                            "sub/KAMORA_00001.JPG",
                                            "sub\\KAMORA_00001.JPG",
                                            "..\\KAMORA_00001.JPG",
                                            "./KAMORA_00001.JPG",
                                            "../KAMORA_00099.JPG",
                                            "KAMORA_00001.JPG/",
                                            "KAMORA_00001.JPG/..",
                                            nul,
                                            "notes.txt",
                                            ".vcdl-0123456789abcdef.part",
                                            "KAMORA_0001.JPG",
                                            "KAMORA_00001.JPEG",
                                            "KAMORA_00001.JPG ",
                                            " KAMORA_00001.JPG",
                                            "KAMORA_00001.Jpg",
                                            "KAMORA_00099.JPG",
                                            "KAMORA_00002.JPG",
                                            "KAMORA_00003.JPG",
                                            "KAMORA_00004.JPG",
                                            "KAMORA_00005.JPG",
                                            "KAMORA_00006.JPG",
                                            "KAMORA_00007.JPG",
                                            std::string(300, 'A') + "_00001.JPG"};
  for (const std::string& name : refused) EXPECT_FALSE(folder.resolve(name).has_value()) << name;

  // The listing shows the same two pictures and nothing planted.
  CapturePage page = folder.list();
  ASSERT_EQ(page.entries.size(), 2u);
  for (const CaptureEntry& e : page.entries)
    EXPECT_TRUE(e.name == "KAMORA_00001.JPG" || e.name == "KAMORA_CAM2_00001.jpg") << e.name;
}

void sizeOf(const std::string& jpeg, int& w, int& h) {
  tjhandle tj = tjInitDecompress();
  int sub = 0, cs = 0;
  w = h = -1;
  tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(jpeg.data()),
                      static_cast<unsigned long>(jpeg.size()), &w, &h, &sub, &cs);
  tjDestroy(tj);
}

TEST(CaptureScaled, CopiesKeepWithinWidthAndAspect) {
  TempFolder dir;
  struct Picture {
    const char* name;
    int w, h;
  };
  const Picture pictures[] = {{"KAMORA_00001.JPG", 3000, 2000},
                              {"KAMORA_00002.JPG", 2000, 3000},
                              {"KAMORA_00003.JPG", 6000, 4000},
                              {"KAMORA_00004.JPG", 200, 150}};
  for (const Picture& p : pictures) writeFile(dir / p.name, capturetest::plainJpeg(p.w, p.h));
  writeFile(dir / "KAMORA_00005.JPG", {'n', 'o', 't', ' ', 'J', 'P', 'E', 'G'});
  CaptureFolder folder(dir.path());
  ScaledJpegCache cache;
  for (const Picture& p : pictures) {
    for (ScaledKind kind : {ScaledKind::Thumb, ScaledKind::Screen}) {
      std::optional<CaptureFile> file = folder.resolve(p.name);
      ASSERT_TRUE(file.has_value());
      std::shared_ptr<const std::string> copy = cache.get(*file, kind);
      ASSERT_TRUE(copy) << p.name;
      int w = 0, h = 0;
      sizeOf(*copy, w, h);
      const int most = scaledWidth(kind);
      // At most the kind's width, and not much less unless the picture is.
      EXPECT_LE(w, most) << p.name;
      EXPECT_GE(w, std::min(p.w, most * 9 / 10)) << p.name;
      EXPECT_NEAR(h, double(w) * p.h / p.w, 1.0) << p.name;
    }
  }
  EXPECT_EQ(scaledWidth(ScaledKind::Thumb), 320);
  EXPECT_EQ(scaledWidth(ScaledKind::Screen), 1600);
  EXPECT_FALSE(cache.get(*folder.resolve("KAMORA_00005.JPG"), ScaledKind::Thumb));
}

TEST(CaptureScaled, CacheKeyedByFileAndBoundedInBytes) {
  TempFolder dir;
  writeFile(dir / "KAMORA_00001.JPG", capturetest::plainJpeg(1200, 800));
  CaptureFolder folder(dir.path());
  ScaledJpegCache cache(60 * 1024);
  auto first = cache.get(*folder.resolve("KAMORA_00001.JPG"), ScaledKind::Thumb);
  ASSERT_TRUE(first);
  EXPECT_EQ(cache.get(*folder.resolve("KAMORA_00001.JPG"), ScaledKind::Thumb), first);

  // The same name with new content is scaled again, never served stale.
  writeFile(dir / "KAMORA_00001.JPG", capturetest::plainJpeg(900, 900));
  capturetest::setMtime(dir / "KAMORA_00001.JPG", 1714572300);
  auto changed = cache.get(*folder.resolve("KAMORA_00001.JPG"), ScaledKind::Thumb);
  ASSERT_TRUE(changed);
  int w = 0, h = 0;
  sizeOf(*changed, w, h);
  EXPECT_EQ(w, h);

  // Copies past the budget push the oldest out; the total stays within it.
  for (int i = 2; i <= 12; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "KAMORA_%05d.JPG", i);
    writeFile(dir / name, capturetest::plainJpeg(1200, 800));
    ASSERT_TRUE(cache.get(*folder.resolve(name), ScaledKind::Thumb));
  }
  EXPECT_LE(cache.keptBytes(), 60u * 1024);
  EXPECT_LT(cache.keptCopies(), 13u);
  EXPECT_GT(cache.keptCopies(), 0u);
}

}  // namespace
