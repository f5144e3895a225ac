#include "slideshow/ReadAhead.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace orv {
namespace {

std::string WriteTemp(const std::string& name, const std::string& bytes) {
  const std::string path = testing::TempDir() + "orv_read_ahead_" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  EXPECT_NE(f, nullptr);
  if (f) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  return path;
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(ReadAhead, TakesTheBytesOfExactlyTheFileStartedOnceOnly) {
  const std::string a = WriteTemp("a", "first picture"), b = WriteTemp("b", "second");
  const std::string big = WriteTemp("big", std::string(100, 'x'));
  TReadAhead ahead(64);
  std::vector<uint8_t> got;

  ahead.Start(a);
  EXPECT_EQ(ahead.Pending(), a);
  ASSERT_TRUE(ahead.Take(a, got));
  EXPECT_EQ(got, Bytes("first picture"));
  EXPECT_FALSE(ahead.Take(a, got)) << "taken once";

  // A read of another file is no answer; the one started later wins.
  ahead.Start(a);
  ahead.Start(b);
  EXPECT_FALSE(ahead.Take(a, got));
  ahead.Start(b);
  ASSERT_TRUE(ahead.Take(b, got));
  EXPECT_EQ(got, Bytes("second"));

  // Over the limit, or missing: the load step reads the file itself.
  ahead.Start(big);
  EXPECT_FALSE(ahead.Take(big, got));
  ahead.Start(a + ".missing");
  EXPECT_FALSE(ahead.Take(a + ".missing", got));
  EXPECT_FALSE(ahead.Take(b, got)) << "nothing started";
  for (const std::string& p : {a, b, big}) std::remove(p.c_str());
}

// A folder that answers slowly: Take waits for the read; Abandon and the
// destructor do not.
TEST(ReadAhead, TakeWaitsForASlowReadWhileAbandoningDoesNot) {
  std::promise<void> release;
  std::shared_future<void> gate = release.get_future().share();
  int reads = 0;
  TReadAhead ahead(1 << 20, [gate, &reads](const std::string& path, size_t,
                                           std::vector<uint8_t>& out) {
    ++reads;
    gate.wait();
    out = Bytes("slow " + path);
    return true;
  });
  ahead.Start("one");
  std::thread opener([&release] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    release.set_value();
  });
  std::vector<uint8_t> got;
  ASSERT_TRUE(ahead.Take("one", got));  // returns only once the gate opens
  EXPECT_EQ(got, Bytes("slow one"));
  opener.join();

  // A reader that never finishes while we abandon it: neither Abandon nor
  // the destructor waits for it (this test would hang if they did).
  std::promise<void> never;
  std::shared_future<void> stuck = never.get_future().share();
  {
    TReadAhead blocked(1 << 20, [stuck](const std::string&, size_t, std::vector<uint8_t>&) {
      stuck.wait();
      return true;
    });
    blocked.Start("x");
    blocked.Abandon();
    EXPECT_FALSE(blocked.Take("x", got));
    blocked.Start("y");
  }
  never.set_value();  // let the abandoned threads end
  EXPECT_EQ(reads, 1);
}

}  // namespace
}  // namespace orv
