// The search run on Windows: the real walk over a generated tree with a
// Japanese folder name, the progress window's Cancel, and the dialog it
// disables and enables again.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "config/SearchUi.h"
#include "decoder/DecoderClientWin32.h"
#include "imaging/SPILib.h"
#include "search/Dirsearch.h"
#include "tests/plugins/TestPlugin.h"
#include "tests/win/test_files.h"
#include "tests/win/test_form.h"
#include "toolkit/Bitmap.h"
#include "toolkit/Win32Handles.h"

namespace {

using Names = std::vector<std::string>;

std::string MakeTree() {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  static int counter = 0;
  // A folder no earlier run left behind: Wine gives a new process the
  // process id of an old one.
  std::string top;
  do {
    top = std::string(base) + "orv_search_" + std::to_string(GetCurrentProcessId()) + "_" +
          std::to_string(++counter);
  } while (!CreateDirectoryA(top.c_str(), nullptr) && counter < 100000);
  // "表" ends in the byte 0x5C, a backslash to any byte-wise code.
  const std::string root = top + "\\写真\x95\x5C";
  CreateDirectoryA(root.c_str(), nullptr);
  CreateDirectoryA((root + "\\sub").c_str(), nullptr);
  return root;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  tk::ScopedFileHandle h(
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD n = 0;
  WriteFile(h.Get(), bytes.data(), DWORD(bytes.size()), &n, nullptr);
}

void WriteBmp(const std::string& path, int w, int h) {
  tk::TBitmap b;
  b.Allocate(tk::TPixelFormat::pf24bit, w, h);
  b.SaveToFile(path);
}

orv::SearchServices RealWalk() {
  orv::SearchServices s;
  s.walk = [](tk::TStringList& list, const std::string& folder, const tk::TStringList& mask,
              bool recursive, tk::TStringList& unnamed, std::vector<orv::EntryFacts>& facts) {
    if (recursive)
      orv::FindFilesRecursive(list, folder, mask, &unnamed, &facts);
    else
      orv::FindFiles(list, folder, mask, &unnamed, &facts);
  };
  return s;
}

class SearchRunWin : public testing::Test {
 protected:
  void SetUp() override {
    tk::Application.Initialize();
    dialog_.CreateForm();
    ui_ = std::make_unique<orv::TSearchUi>(dialog_.Handle());
    ui_->OnSetFileNameList = [this](const tk::TStringList& l) { files_ = l.Items(); };
    ui_->OnEnterHistory = [this](const std::string& f) { history_.push_back(f); };
    ui_->OnReportError = [this](const std::string& e) { errors_.push_back(e); };
    c_.minWidth = c_.minHeight = 50;
    c_.subFolders = true;
  }

  orvtest::TestForm dialog_;
  std::unique_ptr<orv::TSearchUi> ui_;
  orv::SearchConditions c_;
  Names files_, history_, errors_;
};

TEST_F(SearchRunWin, AcceptsExactlyThePicturesThatPassInWalkOrder) {
  const std::string root = MakeTree();
  WriteBmp(root + "\\ok.bmp", 50, 50);
  WriteBmp(root + "\\narrow.bmp", 49, 200);
  WriteBmp(root + "\\flat.bmp", 200, 49);
  WriteBmp(root + "\\sub\\deep.BMP", 60, 60);
  WriteBytes(root + "\\corrupt.bmp", "BM broken");
  WriteBmp(root + "\\skipped.jpe", 60, 60);  // .jpe is no type of ours
  WriteBmp(root + "\\locked.bmp", 60, 60);
  // Held open without sharing by another program: fails, and is reported.
  tk::ScopedFileHandle lock(CreateFileA((root + "\\locked.bmp").c_str(), GENERIC_READ, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(lock);
  c_.reportErrors = true;
  orv::SearchFolder(root, c_, *ui_, RealWalk());

  tk::TStringList walked, mask;
  mask.SetCommaText(".bmp,.jpg,.jpeg,.png");
  orv::FindFilesRecursive(walked, root, mask);
  const std::set<std::string> pass = {root + "\\ok.bmp", root + "\\sub\\deep.BMP"};
  Names want;
  for (const std::string& f : walked.Items())
    if (pass.count(f)) want.push_back(f);
  EXPECT_EQ(want.size(), 2u);
  EXPECT_EQ(files_, want);
  EXPECT_EQ(history_, Names{root});
  ASSERT_EQ(errors_.size(), 2u);  // the corrupt and the locked file
  for (const std::string& e : errors_) EXPECT_NE(e.find(" : " + root + "\\"), std::string::npos);
  EXPECT_TRUE(IsWindowEnabled(dialog_.Handle()));
}

HWND g_cancel_button = nullptr;
void CALLBACK ClickCancel(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  SendMessageA(g_cancel_button, BM_CLICK, 0, 0);
}

TEST_F(SearchRunWin, CancelKeepsWhatWasAcceptedAndFreesTheDialog) {
  const std::string root = MakeTree();
  for (int i = 0; i < 300; ++i) WriteBmp(root + "\\p" + std::to_string(i) + ".bmp", 50, 50);
  bool disabledDuringRun = false;
  ui_->OnProgressShown = [&](orv::TProgressForm& form) {
    disabledDuringRun = !IsWindowEnabled(dialog_.Handle());
    // Pressed while candidates are being checked: the click is handled at
    // the next progress step, after at least one check.
    g_cancel_button = form.CancelButton();
    SetTimer(nullptr, 0, USER_TIMER_MINIMUM, ClickCancel);
  };
  orv::SearchFolder(root, c_, *ui_, RealWalk());
  EXPECT_TRUE(disabledDuringRun);
  tk::TStringList walked, mask;
  mask.Add(".bmp");
  orv::FindFilesRecursive(walked, root, mask);
  ASSERT_GT(files_.size(), 0u);
  ASSERT_LT(files_.size(), 300u);
  EXPECT_EQ(files_, Names(walked.Items().begin(), walked.Items().begin() + files_.size()));
  EXPECT_EQ(history_, Names{root});
  EXPECT_TRUE(IsWindowEnabled(dialog_.Handle()));

  // Esc before the walk: nothing is collected, the run still ends cleanly.
  ui_->OnProgressShown = [&](orv::TProgressForm& form) {
    PostMessageA(form.CancelButton(), WM_KEYDOWN, VK_ESCAPE, 0);
  };
  orv::SearchFolder(root, c_, *ui_, RealWalk());
  EXPECT_TRUE(files_.empty());
  EXPECT_EQ(history_.size(), 2u);
  EXPECT_TRUE(IsWindowEnabled(dialog_.Handle()));
}

std::string PluginPath(const std::string& name) {
  std::string dir = ORV_TEST_PLUGIN_DIR;
  if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
  for (char& c : dir)
    if (c == '/') c = '\\';
  return dir + "\\" + name + ".spi";
}

std::string OrvPicture(uint32_t w, uint32_t h, uint32_t mode) {
  std::string v = orvtest::FlatOrvPicture(w, h, mode);
  return v;
}

std::string ModulePath() {
  std::string p = ORV_SCR_PATH;
  std::replace(p.begin(), p.end(), '/', '\\');
  return p;
}

orv::TSpiLib32& LoadOne(orv::TSpiLib32& host, const std::string& plugin) {
  tk::TStringList l;
  l.Add(PluginPath(plugin));
  host.LoadPlugInFromList(l);
  return host;
}

// A plug-in that faults, in IsSupported, in GetPictureInfo or in the
// GetPicture a plug-in that cannot tell a size is asked, costs the decoder
// the run measures in: the file is reported as the dialog reports it, and
// the run goes on to the next file with a fresh decoder.
TEST_F(SearchRunWin, APlugInThatFaultsFailsItsCandidateAndTheRunGoesOn) {
  struct Case {
    const char* plugin;
    std::string bytes;
  } cases[] = {
      {"faulty\\orvfaultcheck", "FAULT"},
      {"orvtest", OrvPicture(60, 60, kModeInfoFault)},
      {"nosize\\orvnosize", OrvPicture(60, 60, kModeFaultWrite)},
      {"nosize\\orvnosize", OrvPicture(60, 60, kModeFaultIllegal)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.plugin);
    const std::string root = MakeTree();
    WriteBytes(root + "\\bad.orv", c.bytes);
    WriteBmp(root + "\\ok.bmp", 60, 60);
    WriteBmp(root + "\\sub\\after.bmp", 60, 60);
    orv::DecodeSetup setup;
    setup.extensions = ".bmp,.jpg,.jpeg,.png";
    setup.pluginFiles = {PluginPath(c.plugin)};
    orv::TDecoderClient client(ModulePath(), setup);
    orv::SearchServices s = RealWalk();
    s.loadPlugIns = [&client](const tk::TStringList&) { return orv::PlugInFilterThrough(client); };
    s.measure = orv::MeasureThrough(client);
    c_.usePlugins = true;
    c_.reportErrors = true;
    errors_.clear();
    orv::SearchFolder(root, c_, *ui_, s);
    Names accepted = files_;
    std::sort(accepted.begin(), accepted.end());
    EXPECT_EQ(accepted, (Names{root + "\\ok.bmp", root + "\\sub\\after.bmp"}));
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0], std::string(orv::kDecoderLostMessage) + " : " + root + "\\bad.orv");
    EXPECT_TRUE(IsWindowEnabled(dialog_.Handle()));
    EXPECT_EQ(GetModuleHandleA((std::string(c.plugin).substr(std::string(c.plugin).rfind('\\') + 1) +
                                ".spi").c_str()),
              nullptr)
        << "the plug-in ran in the dialog's process";
  }
}

// A plug-in's files are measured by the size the plug-in reads from their
// header: one whose data are broken passes (the show passes over it), one
// too small fails, and neither is decoded. Only a file whose plug-in cannot
// tell is decoded.
TEST_F(SearchRunWin, APlugInsFilesAreMeasuredByTheirHeaderWithoutADecode) {
  const std::string root = MakeTree();
  WriteBytes(root + "\\broken.orv", OrvPicture(60, 60, kModeDataBroken));
  WriteBytes(root + "\\narrow.orv", OrvPicture(49, 60, kModeBottomUp));
  WriteBytes(root + "\\untold.orv", OrvPicture(60, 60, kModeInfoError));
  WriteBytes(root + "\\untoldflat.orv", OrvPicture(60, 49, kModeInfoError));
  orv::TSpiLib32 host;
  LoadOne(host, "orvtest");
  orv::SearchServices s = RealWalk();
  s.loadPlugIns = [&host](const tk::TStringList&) { return host.PFilter(); };
  s.plugins = &host;
  c_.usePlugins = true;
  c_.reportErrors = true;
  OrvTestProbeData probe = {};
  HMODULE plugin = GetModuleHandleA(PluginPath("orvtest").c_str());
  ASSERT_NE(plugin, nullptr);
  reinterpret_cast<void(__stdcall*)()>(
      reinterpret_cast<void*>(GetProcAddress(plugin, "OrvTestResetProbe")))();
  orv::SearchFolder(root, c_, *ui_, s);
  reinterpret_cast<void(__stdcall*)(OrvTestProbeData*)>(
      reinterpret_cast<void*>(GetProcAddress(plugin, "OrvTestProbe")))(&probe);
  Names accepted = files_;
  std::sort(accepted.begin(), accepted.end());
  EXPECT_EQ(accepted, (Names{root + "\\broken.orv", root + "\\untold.orv"}));
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(probe.getPictureInfoCalls, 4);
  EXPECT_EQ(probe.getPictureCalls, 2) << "only the files whose size the header does not tell";
}

}  // namespace
