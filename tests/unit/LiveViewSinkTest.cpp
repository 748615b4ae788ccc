// LiveViewSink: file naming, numbering, overwriting and failing writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "camera/LiveViewSink.h"
#include "tests/support/ReadFile.h"

namespace fs = std::filesystem;

namespace {

std::string freshDir(const std::string& tag) {
  std::string pattern = (fs::temp_directory_path() / ("kamora-sink-" + tag + "-XXXXXX")).string();
  char* made = mkdtemp(pattern.data());
  return made ? std::string(made) : std::string();
}

}  // namespace

TEST(LiveViewSinkTest, CreatesNestedDirectoryAndNumbersFilesFromZero) {
  const fs::path root = freshDir("nest");
  const fs::path dir = root / "a" / "b";
  LiveViewSink sink(dir.string());
  EXPECT_TRUE(fs::is_directory(dir));

  const std::vector<std::uint8_t> first = {0xFF, 0xD8, 0x01, 0x00, 0xFF, 0xD9};
  const std::vector<std::uint8_t> second = {0xFF, 0xD8, 0x02, 0xFF, 0xD9};
  ASSERT_TRUE(sink.push(first.data(), static_cast<std::uint32_t>(first.size())));
  ASSERT_TRUE(sink.push(second.data(), static_cast<std::uint32_t>(second.size())));
  EXPECT_EQ(sink.frameCount(), 2u);
  // Bytes are written exactly, embedded zero bytes included.
  EXPECT_EQ(readBytes((dir / "frame_00000.jpg").string()), first);
  EXPECT_EQ(readBytes((dir / "frame_00001.jpg").string()), second);
  EXPECT_FALSE(fs::exists(dir / "frame_00002.jpg"));
  fs::remove_all(root);
}

TEST(LiveViewSinkTest, RejectsEmptyPicturesWithoutUsingANumber) {
  const fs::path dir = freshDir("empty");
  LiveViewSink sink(dir.string());
  const std::uint8_t byte = 0x42;
  EXPECT_FALSE(sink.push(nullptr, 10));
  EXPECT_FALSE(sink.push(&byte, 0));
  EXPECT_EQ(sink.frameCount(), 0u);
  ASSERT_TRUE(sink.push(&byte, 1));
  EXPECT_TRUE(fs::exists(dir / "frame_00000.jpg"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  fs::remove_all(dir);
}

TEST(LiveViewSinkTest, OverwritesAnExistingFileOfTheSameName) {
  const fs::path dir = freshDir("over");
  {
    std::ofstream old(dir / "frame_00000.jpg", std::ios::binary);
    old << std::string(1000, 'x');
  }
  LiveViewSink sink(dir.string());
  const std::vector<std::uint8_t> picture = {1, 2, 3};
  ASSERT_TRUE(sink.push(picture.data(), 3));
  // Truncated, not patched in place.
  EXPECT_EQ(readBytes((dir / "frame_00000.jpg").string()), picture);
  fs::remove_all(dir);
}

TEST(LiveViewSinkTest, DirectoryThatCannotBeMadeFailsEveryPushAndKeepsTheCount) {
  const fs::path root = freshDir("blocked");
  {
    std::ofstream blocker(root / "file");
    blocker << "not a directory";
  }
  LiveViewSink sink((root / "file" / "sub").string());  // no exception from the constructor
  const std::uint8_t byte = 0x42;
  EXPECT_FALSE(sink.push(&byte, 1));
  EXPECT_FALSE(sink.push(&byte, 1));
  EXPECT_EQ(sink.frameCount(), 0u);
  fs::remove_all(root);
}
