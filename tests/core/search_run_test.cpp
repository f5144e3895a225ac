// The search run's rules and its course over real files, with the dialog's
// side recorded by a fake.
#include "search/SearchRun.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "jpeg_test_encoder.h"
#include "toolkit/Bitmap.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Streams.h"

namespace {

using orv::SearchConditions;
using Bytes = std::vector<uint8_t>;
using Names = std::vector<std::string>;

class FakeUi : public orv::ISearchUi {
 public:
  std::vector<std::string> log;
  std::vector<std::string> errors;
  std::vector<int> positions;
  Names files;
  int cancelAt = -1;  // UpdateProgress(cancelAt) finds Cancel pressed

  void RejectFolderName() override { log.push_back("reject"); }
  void BeginWait() override { log.push_back("wait"); }
  void EndWait() override { log.push_back("cursor back"); }
  void ShowProgress() override { log.push_back("show"); }
  void SetProgressRange(int max) override { log.push_back("range " + std::to_string(max)); }
  void SetProgressMessage(const std::string&) override {}
  void UpdateProgress(int position) override {
    positions.push_back(position);
    if (position == cancelAt && positions.size() > 1) throw tk::EAbort();
  }
  void DisableCancel() override { log.push_back("cancel off"); }
  void HideProgress() override { log.push_back("hide"); }
  void ReportError(const std::string& text) override { errors.push_back(text); }
  void SetFileNameList(const tk::TStringList& list) override {
    files = list.Items();
    log.push_back("list");
  }
  void EnterHistory(const std::string& folder) override { log.push_back("history " + folder); }
};

// Stands in for the plug-in host. Each file it knows tells its size from
// its header or not, and decodes to a size or fails; both are counted.
class FakePlugins : public orv::IPluginDecoder {
 public:
  struct File {
    bool told;  // SizeFromHeader answers
    int headerW, headerH;
    bool headerFaults;       // the plug-in faults while reading the header
    int decodedW, decodedH;  // 0 x 0: the data are broken
  };
  std::map<std::string, File> files;
  int headerCalls = 0, decodes = 0;

  bool SizeFromHeader(const std::string& fileName, orv::PictureSize& size) override {
    ++headerCalls;
    const auto f = files.find(fileName);
    if (f == files.end()) return false;
    if (f->second.headerFaults) throw tk::Exception("Susie Plugin fake が異常終了しました");
    if (!f->second.told) return false;
    size = orv::PictureSize{f->second.headerW, f->second.headerH};
    return true;
  }
  void LoadFromFile(const std::string& fileName, tk::TBitmap& bitmap) override {
    ++decodes;
    const auto f = files.find(fileName);
    if (f == files.end()) return;
    if (f->second.decodedW == 0) tk::Abort();
    bitmap.Allocate(tk::TPixelFormat::pf24bit, f->second.decodedW, f->second.decodedH);
  }
};

Bytes BmpBytes(int w, int h) {
  tk::TBitmap b;
  b.Allocate(tk::TPixelFormat::pf24bit, w, h);
  tk::TMemoryStream out;
  b.SaveToStream(out);
  return out.Data();
}

class SearchRunTest : public testing::Test {
 protected:
  std::string Write(const std::string& name, Bytes content) {
    const std::string path = testing::TempDir() + "search_run_" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
      std::fwrite(content.data(), 1, content.size(), f);
      std::fclose(f);
    }
    written_.push_back(path);
    return path;
  }
  void TearDown() override {
    for (const std::string& f : written_) std::remove(f.c_str());
  }
  bool Check(const std::string& path) { return orv::CheckPictureFile(path, c_, ui_, nullptr); }

  SearchConditions c_;
  FakeUi ui_;
  Names written_;
};

TEST(SearchRules, PlugInFiltersGiveTheirExtensions) {
  const std::pair<const char*, Names> cases[] = {
      {"*.pic;*.mag;", {".pic", ".mag"}},
      {"*.*;", {"."}},
      {"*;", {}},
      {"*.PIC;", {".PIC"}},
      {"*.pi1;*.pi2;*;*.q0;", {".pi1", ".pi2", ".q0"}},
      {"", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(orv::PlugInFilterExtensions(c.first).Items(), c.second) << c.first;
  }
}

TEST(SearchRules, SizeLimitAndHistoryLookUp) {
  EXPECT_EQ(orv::SizeLimitBytes(1), 1024);
  EXPECT_EQ(orv::SizeLimitBytes(10240), 10485760);
  EXPECT_EQ(orv::SizeLimitBytes(12.6f), 12902);  // 12902.4, truncated
  EXPECT_EQ(orv::SizeLimitBytes(0), 0);

  tk::TStringList history;
  history.SetText("D:\\Pictures\r\nC:\\\x95\x5C\\Photos\r\n");  // "表" ends in 0x5C
  EXPECT_EQ(orv::HistoryIndexOf(history, "c:\\\x95\x5C\\PHOTOS"), 1);
  EXPECT_EQ(orv::HistoryIndexOf(history, "d:\\pictures"), 0);
  EXPECT_EQ(orv::HistoryIndexOf(history, "D:\\Pictures\\"), -1);
  // A trail byte that looks like a letter is part of its character.
  history.SetText("\x83\x41\r\n");
  EXPECT_EQ(orv::HistoryIndexOf(history, "\x83\x61"), -1);
}

TEST_F(SearchRunTest, SizeAndMinimumsDecideAtTheirLimits) {
  c_.sizeLimitKb = 1;
  c_.minWidth = 1, c_.minHeight = 1;
  Bytes atLimit = BmpBytes(2, 2);
  atLimit.resize(1024, 0);  // data after the pixels do not matter to the reader
  Bytes over = atLimit;
  over.push_back(0);
  EXPECT_TRUE(Check(Write("1024.bmp", atLimit)));
  EXPECT_FALSE(Check(Write("1025.bmp", over)));

  c_.sizeLimitKb = 10240;
  c_.minWidth = 50, c_.minHeight = 50;
  EXPECT_TRUE(Check(Write("50x50.bmp", BmpBytes(50, 50))));
  EXPECT_FALSE(Check(Write("49x200.bmp", BmpBytes(49, 200))));
  EXPECT_FALSE(Check(Write("200x49.BMP", BmpBytes(200, 49))));
  // JPEG by its header, upper-case extension included.
  EXPECT_TRUE(Check(Write("a.JPEG", jpegtest::Encode(64, 50, jpegtest::Texture(64, 50, 3)))));
  EXPECT_TRUE(ui_.errors.empty());
}

TEST_F(SearchRunTest, FailuresAreReportedOnlyWhenAsked) {
  c_.minWidth = 1, c_.minHeight = 1;
  const std::string fakePng = Write("x.png", jpegtest::Encode(8, 8, jpegtest::Texture(8, 8, 3)));
  const std::string corrupt = Write("corrupt.bmp", {'B', 'M', 1, 2, 3});
  const std::string missing = testing::TempDir() + "search_run_missing.bmp";
  EXPECT_FALSE(Check(fakePng));
  EXPECT_FALSE(Check(corrupt));
  EXPECT_FALSE(Check(missing));
  EXPECT_TRUE(ui_.errors.empty());

  c_.reportErrors = true;
  EXPECT_FALSE(Check(fakePng));  // no plug-in fallback for a rejected PNG
  EXPECT_FALSE(Check(missing));
  // An unknown type that no plug-in reads fails without a word.
  EXPECT_FALSE(Check(Write("a.xyz", {1, 2, 3})));
  ASSERT_EQ(ui_.errors.size(), 2u);
  EXPECT_EQ(ui_.errors[0], "PNG LoadStream: Not PNG Format : " + fakePng);
  EXPECT_NE(ui_.errors[1].find(" : " + missing), std::string::npos);
}

// A plug-in's file is measured by its header when its plug-in tells the
// size, and decoded only when it does not: a header over broken data
// passes, as a JPEG's does.
TEST_F(SearchRunTest, PlugInFilesAreMeasuredByTheirHeaderAndDecodedOnlyWithoutOne) {
  using File = FakePlugins::File;
  struct Case {
    const char* name;
    File file;
    bool accepted;
    int decodes;
    bool reported;
  };
  const Case cases[] = {
      {"header large enough", {true, 60, 50, false, 60, 50}, true, 0, false},
      {"header over broken data", {true, 60, 50, false, 0, 0}, true, 0, false},
      {"header too narrow", {true, 49, 80, false, 80, 80}, false, 0, false},
      {"header too low", {true, 80, 49, false, 80, 80}, false, 0, false},
      {"header that faults", {true, 80, 80, true, 80, 80}, false, 0, true},
      // No bitmap the host takes is that large (a 24-bit one of 512 MiB
      // at most): refused as its decode would be, and reported.
      {"header beyond the bitmap limit", {true, 100000, 100000, false, 80, 80}, false, 0, true},
      {"header just within the limit", {true, 16384, 10922, false, 80, 80}, true, 0, false},
      {"no header, decodes large", {false, 0, 0, false, 50, 50}, true, 1, false},
      {"no header, decodes small", {false, 0, 0, false, 50, 49}, false, 1, false},
      {"no header, broken data", {false, 0, 0, false, 0, 0}, false, 1, true},
  };
  c_.minWidth = c_.minHeight = 50;
  c_.reportErrors = true;
  int n = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    FakePlugins plugins;
    const std::string path = Write("p" + std::to_string(++n) + ".heic", {0, 0, 0, 0});
    plugins.files[path] = k.file;
    ui_.errors.clear();
    EXPECT_EQ(orv::CheckPictureFile(path, c_, ui_, &plugins), k.accepted);
    EXPECT_EQ(plugins.headerCalls, 1);
    EXPECT_EQ(plugins.decodes, k.decodes);
    EXPECT_EQ(ui_.errors.size(), k.reported ? 1u : 0u);
  }

  // The program's own types are measured by their own readers: the plug-ins
  // are not asked, however they would answer.
  FakePlugins plugins;
  const std::string bmp = Write("own.bmp", BmpBytes(60, 60));
  plugins.files[bmp] = File{true, 1, 1, false, 1, 1};
  EXPECT_TRUE(orv::CheckPictureFile(bmp, c_, ui_, &plugins));
  EXPECT_EQ(plugins.headerCalls + plugins.decodes, 0);
}

TEST_F(SearchRunTest, RunKeepsWalkOrderAndEndsCleanlyOnEveryPath) {
  c_.minWidth = 10, c_.minHeight = 10;
  Names candidates;
  for (int i = 0; i < 10; ++i)
    candidates.push_back(Write(std::to_string(i) + ".bmp", BmpBytes(i % 3 == 0 ? 5 : 20, 20)));
  tk::TStringList seenMask;
  Names seenPlugIns;
  orv::SearchServices s;
  s.walk = [&](tk::TStringList& list, const std::string&, const tk::TStringList& mask, bool,
               tk::TStringList&, std::vector<orv::EntryFacts>&) {
    seenMask = mask;
    for (const std::string& f : candidates) list.Add(f);
  };
  s.loadPlugIns = [&](const tk::TStringList& files) {
    seenPlugIns = files.Items();
    return std::string("*.PIC;*;");
  };

  // Cancel while the fifth candidate is checked: it is finished first.
  ui_.cancelAt = 4;
  c_.jpeg = false;
  c_.usePlugins = true;
  c_.pluginFolder = "P:";
  c_.pluginFiles = {"a.spi", "b.spi"};
  orv::SearchFolder("Pictures", c_, ui_, s);
  EXPECT_EQ(seenMask.Items(), (Names{".bmp", ".png", ".PIC"}));
  EXPECT_EQ(seenPlugIns, (Names{"P:\\a.spi", "P:\\b.spi"}));
  EXPECT_EQ(ui_.positions, (std::vector<int>{0, 0, 1, 2, 3, 4}));
  EXPECT_EQ(ui_.files, (Names{candidates[1], candidates[2], candidates[4]}));
  EXPECT_EQ(ui_.log, (Names{"wait", "show", "range 10", "cancel off", "list", "history Pictures",
                            "hide", "cursor back"}));

  // Plug-ins that throw while loading: the run still ends as normal.
  FakeUi ui2;
  s.loadPlugIns = [](const tk::TStringList&) -> std::string { throw std::runtime_error("x"); };
  orv::SearchFolder("Pictures", c_, ui2, s);
  EXPECT_EQ(ui2.log, (Names{"wait", "list", "history Pictures", "cursor back"}));

  // Rejected names change nothing.
  FakeUi ui3;
  orv::SearchFolder("", c_, ui3, s);
  orv::SearchFolder("0", c_, ui3, s);
  EXPECT_EQ(ui3.log, (Names{"reject", "reject"}));
}

// A Pictures folder kept by a cloud client: most files are placeholders
// whose data is not on this PC, and opening one downloads it. The search
// takes them by extension and the size of their folder entry without
// opening them (here they do not exist at all, so any open would fail and
// be reported); files on this PC are measured as before.
TEST_F(SearchRunTest, FilesKeptInTheCloudAreTakenWithoutBeingOpened) {
  c_.reportErrors = true;
  c_.sizeLimitKb = 10;
  c_.minWidth = 10, c_.minHeight = 10;
  const std::string local = Write("local.bmp", BmpBytes(20, 20));
  const std::string small = Write("small.bmp", BmpBytes(5, 5));
  struct Entry {
    std::string path;
    uint32_t attributes;
    int64_t size;
  } const entries[] = {
      {local, 0x20 /* archive */, 0},
      {small, 0x20, 0},
      {"C:\\cloud\\onDemand.jpg", 0x400000 | 0x20, 4000},  // recall on data access
      {"C:\\cloud\\onOpen.png", 0x40000, 100},              // recall on open
      {"C:\\cloud\\offline.bmp", 0x1000, 10 * 1024},        // offline, at the limit
      {"C:\\cloud\\tooBig.jpg", 0x400000, 10 * 1024 + 1},  // over the limit
      {"C:\\cloud\\pinned.jpg", 0x80000 /* pinned: on this PC */, 10},
  };
  orv::SearchServices s;
  s.walk = [&](tk::TStringList& list, const std::string&, const tk::TStringList&, bool,
               tk::TStringList&, std::vector<orv::EntryFacts>& facts) {
    for (const Entry& e : entries) {
      list.Add(e.path);
      orv::EntryFacts f;
      f.attributes = e.attributes;
      f.size = e.size;
      facts.push_back(f);
    }
  };
  orv::SearchFolder("C:\\cloud", c_, ui_, s);
  EXPECT_EQ(ui_.files, (Names{local, "C:\\cloud\\onDemand.jpg", "C:\\cloud\\onOpen.png",
                              "C:\\cloud\\offline.bmp"}));
  // Only the file that is on this PC and was opened is reported.
  ASSERT_EQ(ui_.errors.size(), 1u);
  EXPECT_NE(ui_.errors[0].find("pinned.jpg"), std::string::npos) << ui_.errors[0];

  // A walk that gives no facts (or not one per file) changes nothing.
  FakeUi plain;
  s.walk = [&](tk::TStringList& list, const std::string&, const tk::TStringList&, bool,
               tk::TStringList&, std::vector<orv::EntryFacts>& facts) {
    for (const Entry& e : entries) list.Add(e.path);
    facts.resize(2);
  };
  orv::SearchFolder("C:\\cloud", c_, plain, s);
  EXPECT_EQ(plain.files, (Names{local}));
  EXPECT_EQ(plain.errors.size(), 5u);
}

}  // namespace

// Measured in a decoder of its own: what it answers decides, a candidate
// whose decoder was lost is reported and the run goes on, the run waits
// through the progress window (so Cancel works while a decoder works), and
// nothing is opened here when the walk gave the entry's size.
TEST_F(SearchRunTest, ADecoderOfItsOwnMeasuresEveryCandidate) {
  using R = orv::MeasureResult;
  struct Case {
    const char* name;
    R answer;
    bool accepted;
    bool reported;
  };
  const Case cases[] = {
      {"a.heic", {R::kSized, 60, 50, ""}, true, false},
      {"b.bmp", {R::kSized, 49, 80, ""}, false, false},
      {"c.jpg", {R::kFailed, 0, 0, "JPEG datastream contains no image"}, false, true},
      {"d.pic", {R::kFailed, 0, 0, ""}, false, false},
      {"e.heic", {R::kLost, 0, 0, ""}, false, true},
      {"f.png", {R::kSized, 800, 600, ""}, true, false},
  };
  c_.minWidth = c_.minHeight = 50;
  c_.reportErrors = true;
  c_.typeExtensions = ".bmp,.jpg,.jpeg,.png";
  Names candidates;
  std::vector<orv::EntryFacts> facts;
  for (const Case& k : cases) {
    // Names only: nothing may open them.
    candidates.push_back(testing::TempDir() + "never_made_" + k.name);
    facts.push_back(orv::EntryFacts{0, 1234});
  }
  orv::SearchServices s;
  s.walk = [&](tk::TStringList& list, const std::string&, const tk::TStringList&, bool,
               tk::TStringList&, std::vector<orv::EntryFacts>& f) {
    for (const std::string& c : candidates) list.Add(c);
    f = facts;
  };
  Names asked;
  std::vector<uint64_t> sizes;
  s.measure = [&](const std::string& file, uint64_t bytes, const std::function<void()>& wait) {
    asked.push_back(file);
    sizes.push_back(bytes);
    wait();  // as a decoder that takes a moment
    wait();
    for (size_t i = 0; i < candidates.size(); ++i)
      if (candidates[i] == file) return cases[i].answer;
    return R{};
  };
  orv::SearchFolder("Pictures", c_, ui_, s);
  EXPECT_EQ(asked, candidates);
  EXPECT_EQ(sizes, std::vector<uint64_t>(candidates.size(), 1234));
  Names accepted, reported;
  for (size_t i = 0; i < std::size(cases); ++i) {
    if (cases[i].accepted) accepted.push_back(candidates[i]);
    if (cases[i].reported) reported.push_back(candidates[i]);
  }
  EXPECT_EQ(ui_.files, accepted);
  ASSERT_EQ(ui_.errors.size(), reported.size());
  EXPECT_EQ(ui_.errors[0], "JPEG datastream contains no image : " + reported[0]);
  EXPECT_EQ(ui_.errors[1], std::string(orv::kDecoderLostMessage) + " : " + reported[1]);
  // Every wait is a step of the progress window at that candidate.
  EXPECT_EQ(std::count(ui_.positions.begin(), ui_.positions.end(), 4), 3);

  // Cancel pressed while the third candidate is measured: the run ends at
  // once with what it had.
  FakeUi ui2;
  ui2.cancelAt = 2;
  asked.clear();
  orv::SearchFolder("Pictures", c_, ui2, s);
  EXPECT_EQ(asked.size(), 3u);
  EXPECT_EQ(ui2.files, (Names{candidates[0]}));
}
