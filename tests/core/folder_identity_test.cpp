#include "search/FolderIdentity.h"

#include <gtest/gtest.h>

namespace {

using orv::FolderIdentity;

TEST(FolderIdentity, OnlyKnownEqualIdentitiesAreTheSameFolder) {
  struct Case {
    FolderIdentity a, b;
    bool same;
  } cases[] = {
      {{7, 0, 42}, {7, 0, 42}, true},
      {{7, 1, 0}, {7, 1, 0}, true},  // a high word alone is an index too
      {{7, 0, 42}, {8, 0, 42}, false},
      {{7, 0, 42}, {7, 0, 43}, false},
      {{7, 0, 42}, {7, 1, 42}, false},
      // A file system without indexes: every folder reads 0.
      {{7, 0, 0}, {7, 0, 0}, false},
      {{0, 0, 0}, {0, 0, 0}, false},
      {{7, 0, 0}, {7, 0, 42}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a.volume << ":" << c.a.indexHigh << ":" << c.a.indexLow
                                    << " vs " << c.b.volume << ":" << c.b.indexHigh << ":"
                                    << c.b.indexLow);
    EXPECT_EQ(orv::SameFolder(c.a, c.b), c.same);
    EXPECT_EQ(orv::SameFolder(c.b, c.a), c.same);
  }
}

}  // namespace
