// Replacing a file's contents: the temporary file, the retried move and two
// writers in one folder.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "toolkit/FileUtil.h"

namespace {

namespace fs = std::filesystem;

// A fresh, empty folder per test; its path ends with a separator.
std::string FreshFolder(const std::string& name) {
  const fs::path p = fs::path(testing::TempDir()) / ("orv_file_util_" + name);
  fs::remove_all(p);
  fs::create_directories(p);
  return p.string() + "/";
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  return names;
}

std::string Read(const std::string& path) {
  std::string s;
  EXPECT_TRUE(tk::ReadWholeFile(path, s)) << path;
  return s;
}

// A scanner holds the file for the first `failures` tries of the move; the
// save waits and tries again up to its limit, and on giving up leaves the
// old file as it was and no temporary file behind.
TEST(ReplaceFileContents, TheMoveIsTriedAgainWhileSomethingHoldsTheFile) {
  struct Case {
    int failures;
    bool saved;
  } const cases[] = {{0, true}, {1, true}, {3, true}, {9, true}, {10, false}, {1000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failures);
    const std::string folder = FreshFolder("retry");
    const std::string path = folder + "list.dat";
    ASSERT_TRUE(tk::ReplaceFileContents(path, "old\r\n"));

    tk::ReplaceSteps steps = tk::DefaultReplaceSteps();
    int tries = 0, waits = 0;
    steps.move = [&](const std::string& temp, const std::string& target) {
      ++tries;
      EXPECT_EQ(target, path);
      // The new data is complete before any try.
      EXPECT_EQ(Read(temp), "new\r\n");
      return tries > c.failures && tk::MoveOver(temp, target);
    };
    steps.wait = [&] { ++waits; };
    EXPECT_EQ(tk::ReplaceFileContents(path, "new\r\n", steps), c.saved);
    EXPECT_EQ(Read(path), c.saved ? "new\r\n" : "old\r\n");
    EXPECT_EQ(tries, c.saved ? c.failures + 1 : steps.attempts);
    EXPECT_EQ(waits, tries - 1);
    EXPECT_EQ(Entries(folder), std::vector<std::string>{"list.dat"});
  }
}

TEST(ReplaceFileContents, AFolderThatTakesNoNewFileFailsAndChangesNothing) {
  const std::string folder = FreshFolder("missing");
  EXPECT_FALSE(tk::ReplaceFileContents(folder + "no-such-folder/list.dat", "x"));
  EXPECT_TRUE(Entries(folder).empty());
}

// Two writers saving the same file at once: each save is whole. With one
// temporary name for both, one writer truncated the other's half-written
// file, or moved it away under it.
TEST(ReplaceFileContents, TwoWritersInOneFolderNeverMixTheirData) {
  const std::string folder = FreshFolder("writers");
  const std::string path = folder + "list.dat";
  const std::string a(64 * 1024, 'a'), b(96 * 1024, 'b');
  ASSERT_TRUE(tk::ReplaceFileContents(path, a));
  std::atomic<int> failedSaves{0}, mixed{0};
  auto writer = [&](const std::string& data) {
    for (int i = 0; i < 50; ++i) {
      if (!tk::ReplaceFileContents(path, data)) ++failedSaves;
      std::string now;
      if (tk::ReadWholeFile(path, now) && now != a && now != b) ++mixed;
    }
  };
  std::thread first(writer, a), second(writer, b);
  first.join();
  second.join();
  EXPECT_EQ(failedSaves.load(), 0);
  EXPECT_EQ(mixed.load(), 0);
  EXPECT_EQ(Entries(folder), std::vector<std::string>{"list.dat"});
}

}  // namespace
