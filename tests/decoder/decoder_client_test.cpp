// The saver's decoder process, driven through its client as the saver
// will drive it: pictures come back in a section the saver made, the
// process runs in its job, a decoder that dies or hangs on a read that
// never completes is ended at its bound and replaced, and the client never
// waits while it does.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "decoder/DecoderClientWin32.h"
#include "tests/plugins/TestPlugin.h"
#include "tests/win/test_files.h"

namespace orv {
namespace {

std::string ModulePath() {
  std::string p = ORV_SCR_PATH;
  std::replace(p.begin(), p.end(), '/', '\\');
  return p;
}

DecodeSetup BuiltInTypes() {
  DecodeSetup s;
  s.extensions = ".bmp,.jpg,.jpeg,.png";
  return s;
}

struct Waited {
  TDecoderClient::Result result = TDecoderClient::Result::kPending;
  DecodeAnswer answer;
  std::unique_ptr<DecodedDib> dib;
  DWORD elapsed = 0, longestCheck = 0;
};

// Polls as a timer tick would, until the request ends or `limitMs` pass.
Waited Wait(TDecoderClient& client, DWORD limitMs) {
  Waited w;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < limitMs) {
    const DWORD before = GetTickCount();
    w.result = client.Check(w.answer, w.dib);
    w.longestCheck = std::max(w.longestCheck, GetTickCount() - before);
    if (w.result != TDecoderClient::Result::kPending) break;
    Sleep(10);
  }
  w.elapsed = GetTickCount() - start;
  return w;
}

COLORREF PixelOf(HBITMAP b, int x, int y) {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, b);
  const COLORREF c = GetPixel(dc, x, y);
  SelectObject(dc, old);
  DeleteDC(dc);
  return c;
}

DWORD OwnIntegrity() {
  HANDLE token = nullptr;
  DWORD rid = 0;
  alignas(8) uint8_t buffer[1024];
  DWORD size = 0;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
      GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof buffer, &size)) {
    PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
    rid = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1);
  }
  if (token) CloseHandle(token);
  return rid;
}

class DecoderClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = orvtest::MakeTempFolder("decoder");
    red_ = dir_ + "red.bmp";
    orvtest::WriteSolidBmp(red_, 300, 200, RGB(220, 30, 20));
  }
  std::string dir_, red_;
};

TEST_F(DecoderClientTest, APictureComesBackInTheSaversSectionAtTheSizeAsked) {
  TDecoderClient client(ModulePath(), BuiltInTypes());
  ASSERT_TRUE(client.Ask(DecodeMessage::kDecode, red_, 150, 150, 0, 0));
  Waited w = Wait(client, 20000);
  ASSERT_EQ(w.result, TDecoderClient::Result::kAnswered);
  EXPECT_EQ(w.answer.status, DecodeStatus::kDecoded);
  EXPECT_EQ(w.answer.ownWidth, 300);
  EXPECT_EQ(w.answer.ownHeight, 200);
  EXPECT_EQ(w.answer.width, 150);
  EXPECT_EQ(w.answer.height, 100);
  ASSERT_TRUE(w.dib);
  DIBSECTION ds = {};
  ASSERT_EQ(GetObjectA(w.dib->Bitmap(), sizeof ds, &ds), int(sizeof ds));
  EXPECT_EQ(ds.dsBm.bmWidth, 150);
  EXPECT_EQ(ds.dsBm.bmHeight, 100);
  EXPECT_NE(ds.dshSection, nullptr) << "the bitmap is not over the saver's section";
  EXPECT_EQ(PixelOf(w.dib->Bitmap(), 75, 50), RGB(220, 30, 20));

  // The size alone, for the search.
  ASSERT_TRUE(client.Ask(DecodeMessage::kMeasure, red_, 0, 0, 0, 0));
  w = Wait(client, 20000);
  ASSERT_EQ(w.result, TDecoderClient::Result::kAnswered);
  EXPECT_EQ(w.answer.ownWidth, 300);
  EXPECT_FALSE(w.dib);
  // What is not there, and what no decoder takes.
  ASSERT_TRUE(
      client.Ask(DecodeMessage::kDecode, dir_ + "gone.bmp", 50, 50, kDecodeSkipMissingFile, 0));
  w = Wait(client, 20000);
  EXPECT_EQ(w.answer.status, DecodeStatus::kMissing);
  orvtest::WriteFile(dir_ + "noise.bmp", "BM not a bitmap at all");
  ASSERT_TRUE(client.Ask(DecodeMessage::kDecode, dir_ + "noise.bmp", 50, 50, 0, 0));
  w = Wait(client, 20000);
  EXPECT_EQ(w.answer.status, DecodeStatus::kNotDecoded);
  EXPECT_FALSE(w.dib);
}

TEST_F(DecoderClientTest, TheDecoderRunsInAJobThatEndsWithTheSaver) {
  // The token the process is created with, as Windows will enforce it:
  // low integrity, no privilege but change-notify (which every token
  // keeps). Wine takes the token and runs the process with the saver's.
  DWORD integrity = 0, privileges = 99;
  bool withToken = false;
  UseDecoderProcessCreator([&](HANDLE token, std::string& cmd, DWORD flags,
                               PROCESS_INFORMATION& pi) {
    withToken = token != nullptr;
    alignas(8) uint8_t buffer[1024];
    DWORD size = 0;
    if (token && GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof buffer, &size)) {
      PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
      integrity = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1);
    }
    if (token && GetTokenInformation(token, TokenPrivileges, buffer, sizeof buffer, &size))
      privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer)->PrivilegeCount;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    return CreateProcessAsUserA(token, nullptr, &cmd[0], nullptr, nullptr, TRUE, flags, nullptr,
                                nullptr, &si, &pi) != FALSE;
  });
  TDecoderClient client(ModulePath(), BuiltInTypes());
  ASSERT_TRUE(client.Ask(DecodeMessage::kMeasure, red_, 0, 0, 0, 0));
  const DecoderLaunch& l = client.LastLaunch();
  EXPECT_TRUE(l.started);
  EXPECT_NE(l.commandLine.find(" /decode "), std::string::npos);
  const DWORD wanted = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_PROCESS_MEMORY |
                       JOB_OBJECT_LIMIT_ACTIVE_PROCESS |
                       JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
  EXPECT_EQ(l.jobLimitFlags & wanted, wanted);
  EXPECT_EQ(l.jobMemoryLimit, uint64_t(1) << 30);
  EXPECT_EQ(l.activeProcessLimit, 1u);
  EXPECT_TRUE(l.inJob);
  EXPECT_TRUE(l.restrictedToken);
  EXPECT_TRUE(l.lowIntegrity);
  EXPECT_TRUE(withToken);
  UseDecoderProcessCreator(nullptr);
  // Wine reports the changed token as it was (its own integrity level and
  // privileges): what it was given is checked where the token says it.
  if (integrity != OwnIntegrity()) {
    EXPECT_EQ(integrity, DWORD(SECURITY_MANDATORY_LOW_RID));
    EXPECT_LE(privileges, 1u);
  } else {
    std::printf("the token's integrity and privileges are not applied here (Wine)\n");
  }
  HANDLE p = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, client.DecoderProcessId());
  ASSERT_NE(p, nullptr);
  BOOL inJob = FALSE;
  EXPECT_TRUE(IsProcessInJob(p, nullptr, &inJob));
  EXPECT_TRUE(inJob);
  Wait(client, 20000);
  // Ending the client ends its decoder, at once.
  client.Stop();
  EXPECT_EQ(WaitForSingleObject(p, 5000), WAIT_OBJECT_0);
  CloseHandle(p);
}

// A plug-in that takes a minute over one picture: the client keeps
// answering "pending" at once, ends the decoder at the request's bound,
// and the next request gets a fresh decoder that works; one that dies in
// the middle of a request is found at the next check.
TEST_F(DecoderClientTest, ADecoderThatHangsOrDiesIsEndedAndReplaced) {
  const std::string slow = dir_ + "slow.orv";
  {
    std::string v = orvtest::FlatOrvPicture(16u, 16u, static_cast<uint32_t>(kModeSlow));
    orvtest::WriteFile(slow, v);
  }
  DecodeSetup setup = BuiltInTypes();
  std::string plugin = std::string(ORV_TEST_PLUGIN_DIR) + "/orvtest.spi";
  std::replace(plugin.begin(), plugin.end(), '/', '\\');
  setup.pluginFiles = {"Z:" + plugin};
  TDecoderClient client(ModulePath(), setup);
  ASSERT_TRUE(client.Ask(DecodeMessage::kDecode, slow, 100, 100, 0, 1));
  const DWORD first = client.DecoderProcessId();
  EXPECT_FALSE(client.Ask(DecodeMessage::kDecode, red_, 100, 100, 0, 1)) << "one at a time";
  Waited w = Wait(client, 20000);
  EXPECT_EQ(w.result, TDecoderClient::Result::kLost);
  EXPECT_GE(w.elapsed, DecodeTimeBoundMs(1) - 100);
  EXPECT_LT(w.elapsed, DecodeTimeBoundMs(1) + 2000);
  EXPECT_LT(w.longestCheck, 200u) << "a check waited";

  ASSERT_TRUE(client.Ask(DecodeMessage::kDecode, red_, 100, 100, 0, 0));
  EXPECT_NE(client.DecoderProcessId(), first);
  w = Wait(client, 20000);
  ASSERT_EQ(w.result, TDecoderClient::Result::kAnswered);
  EXPECT_EQ(w.answer.status, DecodeStatus::kDecoded);

  // A decoder that dies in the middle of a request.
  ASSERT_TRUE(client.Ask(DecodeMessage::kDecode, slow, 100, 100, 0, 0));
  HANDLE p = OpenProcess(PROCESS_TERMINATE, FALSE, client.DecoderProcessId());
  ASSERT_NE(p, nullptr);
  Sleep(300);
  TerminateProcess(p, 9);
  CloseHandle(p);
  w = Wait(client, 5000);
  EXPECT_EQ(w.result, TDecoderClient::Result::kLost);
  EXPECT_LT(w.elapsed, 2000u);
  ASSERT_TRUE(client.Ask(DecodeMessage::kMeasure, red_, 0, 0, 0, 0));
  w = Wait(client, 20000);
  EXPECT_EQ(w.result, TDecoderClient::Result::kAnswered);
}

TEST(DecoderSwitch, WithoutItsPipesTheDecoderEndsAtOnce) {
  for (const char* args : {" /decode", " /decode 12 34", " /decode x y"}) {
    std::string cmd = "\"" + ModulePath() + "\"" + args;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(
        CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0) << args;
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 2u) << args;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
}

}  // namespace
}  // namespace orv

namespace orv {
namespace {

// The search's mask takes the plug-ins' patterns from the decoder, which
// loaded them; the dialog's process loads none. A decoder without
// plug-ins has no patterns.
TEST_F(DecoderClientTest, ThePlugInsPatternsComeFromTheDecoderThatLoadedThem) {
  DecodeSetup setup = BuiltInTypes();
  std::string plugin = std::string(ORV_TEST_PLUGIN_DIR) + "/orvtest.spi";
  std::replace(plugin.begin(), plugin.end(), '/', '\\');
  setup.pluginFiles = {"Z:" + plugin};
  TDecoderClient withPlugin(ModulePath(), setup);
  EXPECT_NE(PlugInFilterThrough(withPlugin).find("*.orv"), std::string::npos);
  EXPECT_EQ(GetModuleHandleA("orvtest.spi"), nullptr) << "the plug-in was loaded here";
  TDecoderClient without(ModulePath(), BuiltInTypes());
  EXPECT_EQ(PlugInFilterThrough(without), "");
}

std::string TestPlugIn(const std::string& name) {
  std::string p = "Z:" + std::string(ORV_TEST_PLUGIN_DIR) + "/" + name + ".spi";
  std::replace(p.begin(), p.end(), '/', '\\');
  return p;
}

// A plug-in that ends its decoder while it loads (a fault in DllMain or in
// GetPluginInfo) would end every decoder after it the same way: it is left
// out, and the question goes at once to a decoder without it. One that
// faults while it decodes costs only that picture.
TEST_F(DecoderClientTest, APlugInThatEndsTheDecoderWhileLoadingIsLeftOutOfTheNext) {
  const std::string good = dir_ + "good.orv", bad = dir_ + "bad.orv";
  orvtest::WriteFile(good, orvtest::FlatOrvPicture(3, 2, kModeBottomUp));
  orvtest::WriteFile(bad, orvtest::FlatOrvPicture(3, 2, kModeFaultWrite));
  const std::string faultLoad = TestPlugIn("faulty/orvfaultload");
  const std::string faultInfo = TestPlugIn("faulty/orvfaultinfo");
  const std::string orvtest = TestPlugIn("orvtest");
  struct Case {
    const char* what;
    std::vector<std::string> plugins;
    std::vector<std::string> leftOut;
  } cases[] = {
      {"all sound", {orvtest}, {}},
      {"a fault in DllMain", {faultLoad, orvtest}, {}},
      {"a fault in GetPluginInfo, after the good one", {orvtest, faultInfo}, {faultInfo}},
      {"two, in list order", {faultInfo, orvtest, faultInfo, faultLoad}, {faultInfo, faultInfo}},
  };
  // The loader may handle a fault in DllMain itself (Wine's does) and fail
  // the load, or let it end the decoder: either way the plug-in loads
  // nothing, and only the second way leaves it out.
  auto leftOut = [&faultLoad](const TDecoderClient& client) {
    std::vector<std::string> v = client.LeftOut();
    v.erase(std::remove(v.begin(), v.end(), faultLoad), v.end());
    return v;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DecodeSetup setup = BuiltInTypes();
    setup.pluginFiles = c.plugins;
    TDecoderClient client(ModulePath(), setup);
    ASSERT_TRUE(client.Ask(DecodeMessage::kDecode, good, 100, 100, 0, 0));
    Waited w = Wait(client, 30000);
    ASSERT_EQ(w.result, TDecoderClient::Result::kAnswered);
    EXPECT_EQ(w.answer.status, DecodeStatus::kDecoded);
    EXPECT_EQ(w.answer.width, 3);
    EXPECT_LT(w.longestCheck, 200u) << "a check waited";
    EXPECT_EQ(leftOut(client), c.leftOut);
    EXPECT_EQ(PlugInFilterThrough(client), "*.orv;");

    // A fault while decoding: that picture is lost, nothing is left out,
    // and the plug-in reads the next file.
    ASSERT_TRUE(client.Ask(DecodeMessage::kDecode, bad, 100, 100, 0, 0));
    EXPECT_EQ(Wait(client, 30000).result, TDecoderClient::Result::kLost);
    ASSERT_TRUE(client.Ask(DecodeMessage::kDecode, good, 100, 100, 0, 0));
    w = Wait(client, 30000);
    ASSERT_EQ(w.result, TDecoderClient::Result::kAnswered);
    EXPECT_EQ(w.answer.status, DecodeStatus::kDecoded);
    EXPECT_EQ(leftOut(client), c.leftOut);
  }
}

}  // namespace
}  // namespace orv
