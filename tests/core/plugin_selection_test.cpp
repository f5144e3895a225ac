#include "imaging/PluginSelection.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The settings' rule: a flag beyond the stored ones counts as enabled.
std::function<bool(size_t)> Flags(std::vector<bool> stored) {
  return [stored](size_t i) { return i < stored.size() ? bool(stored[i]) : true; };
}

tk::TStringList List(std::initializer_list<const char*> items) {
  tk::TStringList list;
  for (const char* s : items) list.Add(s);
  return list;
}

TEST(PluginSelection, PlugInFlagsStartAfterTheThreeBuiltInTypes) {
  const tk::TStringList found = List({"P\\a.spi", "P\\b.spi", "P\\c.spi"});
  // BMP, JPEG and PNG off must not hide plug-ins; b (flag 4) is off.
  const tk::TStringList selected =
      orv::SelectPlugInFiles(found, Flags({false, false, false, true, false, true}));
  EXPECT_EQ(selected.Items(), std::vector<std::string>({"P\\a.spi", "P\\c.spi"}));
}

TEST(PluginSelection, FilesBeyondTheStoredFlagsAreLoaded) {
  const tk::TStringList found = List({"a.spi", "b.spi", "c.spi", "d.spi"});
  // Only a and b have flags (3 and 4); c and d have none.
  EXPECT_EQ(orv::SelectPlugInFiles(found, Flags({true, true, true, false, false})).Items(),
            std::vector<std::string>({"c.spi", "d.spi"}));
  // No stored flags at all, as on a first start.
  EXPECT_EQ(orv::SelectPlugInFiles(found, Flags({})).Count(), 4);
}

TEST(PluginSelection, KeepsOrderAndDuplicatesAndAsksEachFlagOnce) {
  const tk::TStringList found = List({"z.spi", "a.spi", "z.spi"});
  std::vector<size_t> asked;
  const tk::TStringList selected = orv::SelectPlugInFiles(found, [&](size_t i) {
    asked.push_back(i);
    return i != 4;
  });
  EXPECT_EQ(asked, std::vector<size_t>({3, 4, 5}));
  EXPECT_EQ(selected.Items(), std::vector<std::string>({"z.spi", "z.spi"}));
}

TEST(PluginSelection, NothingFoundOrAllOffGivesAnEmptyList) {
  EXPECT_TRUE(orv::SelectPlugInFiles(tk::TStringList(), Flags({})).Empty());
  EXPECT_TRUE(orv::SelectPlugInFiles(List({"a.spi", "b.spi"}),
                                     Flags({true, true, true, false, false, false}))
                  .Empty());
}

}  // namespace
