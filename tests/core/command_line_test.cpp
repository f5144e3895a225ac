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

}  // namespace
