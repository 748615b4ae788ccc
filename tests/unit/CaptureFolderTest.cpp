// The capture folder's listing: order, paging, the fields of each picture,
// what is never listed, and pictures arriving while it is read.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "CaptureTestPictures.h"
#include "camera/CaptureFolder.h"

namespace {

using capturetest::setMtime;
using capturetest::TempFolder;
using capturetest::writeFile;

vcam::StillExif shot(const std::string& model, std::uint32_t iso) {
  vcam::StillExif f;
  f.model = model;
  f.taken = 1714572202;
  f.iso = iso;
  f.fnumber = 800;
  f.shutter = 0x100FA;
  f.ev = -700;
  return f;
}

std::vector<std::string> names(const CapturePage& page) {
  std::vector<std::string> out;
  for (const CaptureEntry& e : page.entries) out.push_back(e.name);
  return out;
}

TEST(CaptureFolder, ListsFinishedPicturesNewestFirstAndPages) {
  TempFolder dir;
  const std::vector<std::uint8_t> jpeg = capturetest::plainJpeg(32, 24);
  // name -> modification time; two share a second and order by name.
  const std::map<std::string, long long> pictures = {
      {"KAMORA_00001.JPG", 1000}, {"KAMORA_00002.JPG", 2000},      {"KAMORA_00003.JPG", 3000},
      {"KAMORA_00004.JPG", 3000}, {"KAMORA_CAM2_00001.jpg", 2500}, {"KAMORA_100000.JPG", 500}};
  for (const auto& [name, t] : pictures) {
    writeFile(dir / name, jpeg);
    setMtime(dir / name, t);
  }
  // Never listed: a download being written, other files, names out of the
  // pattern, and things that are no regular file.
  for (const char* other : {".vcdl-0123456789abcdef.part", "notes.txt", "KAMORA_0005.JPG",
                            "KAMORA_00006.jpeg", "_00007.JPG", "KAMORA-00008.JPG"})
    writeFile(dir / other, jpeg);
  ASSERT_EQ(::mkdir((dir / "KAMORA_00009.JPG").c_str(), 0755), 0);
  ASSERT_EQ(::symlink((dir / "KAMORA_00001.JPG").c_str(), (dir / "KAMORA_00010.JPG").c_str()), 0);

  CaptureFolder folder(dir.path());
  const std::vector<std::string> order = {"KAMORA_00004.JPG",      "KAMORA_00003.JPG",
                                          "KAMORA_CAM2_00001.jpg", "KAMORA_00002.JPG",
                                          "KAMORA_00001.JPG",      "KAMORA_100000.JPG"};
  CapturePage all = folder.list();
  EXPECT_EQ(names(all), order);
  EXPECT_EQ(all.total, 6u);
  EXPECT_FALSE(all.more);

  CapturePage first = folder.list(4);
  EXPECT_EQ(names(first), std::vector<std::string>(order.begin(), order.begin() + 4));
  EXPECT_TRUE(first.more);
  CapturePage rest = folder.list(4, first.entries.back().name);
  EXPECT_EQ(names(rest), std::vector<std::string>(order.begin() + 4, order.end()));
  EXPECT_FALSE(rest.more);
  EXPECT_TRUE(folder.list(4, order.back()).entries.empty());
  EXPECT_TRUE(folder.list(4, "KAMORA_99999.JPG").entries.empty());  // never there

  // The picture a page ended on is deleted before the next page is asked
  // for: the next page still starts right after where it stood.
  ASSERT_EQ(::unlink((dir / "KAMORA_CAM2_00001.jpg").c_str()), 0);
  EXPECT_EQ(names(folder.list(2, "KAMORA_CAM2_00001.jpg")),
            (std::vector<std::string>{"KAMORA_00002.JPG", "KAMORA_00001.JPG"}));
}

TEST(CaptureFolder, LimitDefaultsToFiftyAndStopsAtFiveHundred) {
  TempFolder dir;
  for (int i = 1; i <= 510; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "KAMORA_%05d.JPG", i);
    writeFile(dir / name, {0xFF, 0xD8, 0xFF, 0xD9});
  }
  CaptureFolder folder(dir.path());
  EXPECT_EQ(folder.list().entries.size(), 50u);
  EXPECT_EQ(folder.list(0).entries.size(), 50u);
  EXPECT_EQ(folder.list(-3).entries.size(), 50u);
  CapturePage most = folder.list(100000);
  EXPECT_EQ(most.entries.size(), 500u);
  EXPECT_TRUE(most.more);
  EXPECT_EQ(most.total, 510u);
}

TEST(CaptureFolder, EntriesCarryTheFileAndItsExifNullWhereMissing) {
  TempFolder dir;
  const std::vector<std::uint8_t> withExif = capturetest::stillWithExif(shot("SB_A4", 400));
  ASSERT_FALSE(withExif.empty());
  writeFile(dir / "KAMORA_00001.JPG", withExif);
  setMtime(dir / "KAMORA_00001.JPG", 1714572202, 123456789);
  writeFile(dir / "KAMORA_00002.JPG", capturetest::plainJpeg(48, 32));
  setMtime(dir / "KAMORA_00002.JPG", 1714572100);
  writeFile(dir / "KAMORA_00003.JPG", {'n', 'o', 't', ' ', 'a', ' ', 'J', 'P', 'E', 'G'});
  setMtime(dir / "KAMORA_00003.JPG", 1714572000);

  CaptureFolder folder(dir.path());
  CapturePage page = folder.list();
  ASSERT_EQ(page.entries.size(), 3u);
  const CaptureEntry& a = page.entries[0];
  EXPECT_EQ(a.name, "KAMORA_00001.JPG");
  EXPECT_EQ(a.bytes, withExif.size());
  EXPECT_EQ(a.mtimeNs, 1714572202123456789LL);
  EXPECT_EQ(a.exif.iso, 400u);
  EXPECT_EQ(a.exif.fnumber, 8.0);
  EXPECT_EQ(a.exif.shutter, "1/250");
  EXPECT_EQ(a.exif.ev, -0.7);
  EXPECT_EQ(a.exif.model, "SB_A4");
  EXPECT_TRUE(a.exif.taken.has_value());
  EXPECT_EQ(a.exif.width, 64u);

  const CaptureEntry& plain = page.entries[1];  // no EXIF: only the size
  EXPECT_FALSE(plain.exif.iso || plain.exif.fnumber || plain.exif.shutter || plain.exif.ev ||
               plain.exif.model || plain.exif.taken);
  EXPECT_EQ(plain.exif.width, 48u);
  const CaptureEntry& junk = page.entries[2];
  EXPECT_FALSE(junk.exif.iso || junk.exif.model || junk.exif.width);

  // The summary is kept while the file stays the same, and read again once
  // it changes (same name, new content).
  writeFile(dir / "KAMORA_00001.JPG", capturetest::stillWithExif(shot("SB_B2", 6400)));
  setMtime(dir / "KAMORA_00001.JPG", 1714572300);
  page = folder.list(1);
  ASSERT_EQ(page.entries.size(), 1u);
  EXPECT_EQ(page.entries[0].exif.iso, 6400u);
  EXPECT_EQ(page.entries[0].exif.model, "SB_B2");
}

// Publishes as the SDK does: written under a temporary name, slowly, then
// linked to the final name.
void publish(const std::string& dir, const std::string& name,
             const std::vector<std::uint8_t>& bytes) {
  const std::string tmp = dir + "/.vcdl-00000000000000ff.part";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    for (std::size_t at = 0; at < bytes.size(); at += 1024) {
      out.write(reinterpret_cast<const char*>(bytes.data() + at),
                static_cast<std::streamsize>(std::min<std::size_t>(1024, bytes.size() - at)));
      out.flush();
      std::this_thread::yield();
    }
  }
  ::link(tmp.c_str(), (dir + "/" + name).c_str());
  ::unlink(tmp.c_str());
}

TEST(CaptureFolder, PicturesArrivingDuringListingsAreWholeOrAbsent) {
  TempFolder dir;
  constexpr int kPictures = 40;
  std::map<std::string, std::size_t> sizes;
  std::vector<std::vector<std::uint8_t>> content;
  for (int i = 1; i <= kPictures; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "KAMORA_%05d.JPG", i);
    content.push_back(capturetest::stillWithExif(shot("SB_A4", 100u * i), 64 + i, 48));
    sizes[name] = content.back().size();
  }
  CaptureFolder folder(dir.path());
  std::atomic<bool> done{false};
  // Two readers share the folder object, as HTTP workers do.
  std::atomic<int> listings{0}, bad{0};
  std::thread writer([&] {
    int i = 0;
    for (const auto& [name, size] : sizes) {
      // Each picture lands while listings run, however slow the build.
      const int seen = listings;
      publish(dir.path(), name, content[i++]);
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
      while (listings == seen && std::chrono::steady_clock::now() < until) {
        std::this_thread::yield();
      }
    }
    done = true;
  });
  auto reader = [&] {
    while (!done || listings == 0) {
      const CapturePage page = folder.list(CaptureFolder::kMaxLimit);
      ++listings;
      for (const CaptureEntry& e : page.entries) {
        auto it = sizes.find(e.name);  // never a temporary name
        const bool whole = it != sizes.end() && e.bytes == it->second && e.exif.model == "SB_A4" &&
                           e.exif.iso.has_value();
        if (!whole) ++bad;  // a torn entry: its size or EXIF from a half-written file
      }
    }
  };
  std::thread other(reader);
  reader();
  other.join();
  writer.join();
  EXPECT_EQ(folder.list(CaptureFolder::kMaxLimit).entries.size(), std::size_t(kPictures));
  EXPECT_EQ(bad, 0);
  EXPECT_GE(listings, kPictures);
}

}  // namespace
