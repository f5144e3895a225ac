#include "app/RunMode.h"
#include "toolkit/CommandLine.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandLine, BlanksSeparateAndQuotesGroup) {
  const auto args = tk::SplitCommandLine("\"C:\\Program Files\\Orvanelle.scr\"  /p 1234");
  ASSERT_EQ(args.size(), 3u);
  EXPECT_EQ(args[0], "C:\\Program Files\\Orvanelle.scr");
  EXPECT_EQ(args[1], "/p");
  EXPECT_EQ(args[2], "1234");
  EXPECT_EQ(tk::ParamStr("x.scr", 1), "");
  EXPECT_EQ(tk::ParamStr("x.scr a\"b c\"d", 1), "ab cd");
}

TEST(RunMode, FirstTwoCharactersDecide) {
  using orv::RunMode;
  EXPECT_EQ(orv::ModeFromArgument(""), RunMode::Configure);
  EXPECT_EQ(orv::ModeFromArgument("/C:1234"), RunMode::Configure);
  EXPECT_EQ(orv::ModeFromArgument("-C"), RunMode::Configure);
  EXPECT_EQ(orv::ModeFromArgument("/X"), RunMode::Configure);
  EXPECT_EQ(orv::ModeFromArgument("-A"), RunMode::Configure);
  EXPECT_EQ(orv::ModeFromArgument("/S"), RunMode::Run);
  EXPECT_EQ(orv::ModeFromArgument("-S"), RunMode::Run);
  EXPECT_EQ(orv::ModeFromArgument("/SFOO"), RunMode::Run);
  EXPECT_EQ(orv::ModeFromArgument("/P"), RunMode::Preview);
  EXPECT_EQ(orv::ModeFromArgument("-P"), RunMode::Preview);
  EXPECT_EQ(orv::ModeFromArgument("/A"), RunMode::Password);
  EXPECT_EQ(orv::ModeFromArgument("/s"), RunMode::Configure);  // callers upper-case first
}

TEST(RunMode, TheOwnerHandleOfTheSettingsRequest) {
  struct Case {
    const char* arg;
    bool ok;
    uint32_t handle;
  } cases[] = {
      {"/c:1234", true, 1234},      {"/C:1234", true, 1234},         {"-c:66", true, 66},
      {"/c:4294967295", true, 0xFFFFFFFFu},
      {"/c:4294967296", false, 0},  // past 32 bits
      {"/c:", false, 0},           {"/c", false, 0},                 {"/c:0", false, 0},
      {"/c:12a", false, 0},        {"/c:-5", false, 0},              {"/c: 12", false, 0},
      {"/s:1234", false, 0},       {"/p:1234", false, 0},            {"c:1234", false, 0},
      {"/c1234", false, 0},        {"/c:99999999999999999999", false, 0},
  };
  for (const Case& c : cases) {
    uint32_t h = 7;
    EXPECT_EQ(orv::OwnerFromArgument(c.arg, h), c.ok) << c.arg;
    EXPECT_EQ(h, c.ok ? c.handle : 7u) << c.arg;
  }
}

}  // namespace
