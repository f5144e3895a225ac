#include "search/Dirsearch.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

tk::TStringList Exts(std::initializer_list<const char*> items) {
  tk::TStringList list;
  for (const char* s : items) list.Add(s);
  return list;
}

// A fresh folder under the temporary folder, removed with everything in it.
class TempTree {
 public:
  TempTree() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string base(temp);
    if (!base.empty() && base.back() == '\\') base.pop_back();
    for (int i = 0;; ++i) {
      root_ = base + "\\orvds" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(i);
      if (CreateDirectoryA(root_.c_str(), nullptr)) break;
    }
  }
  ~TempTree() { Remove(root_); }
  const std::string& Root() const { return root_; }
  std::string Path(const std::string& rel) const { return root_ + "\\" + rel; }
  void Folder(const std::string& rel) const {
    ASSERT_TRUE(CreateDirectoryA(Path(rel).c_str(), nullptr));
  }
  void File(const std::string& rel, DWORD attributes = FILE_ATTRIBUTE_NORMAL) const {
    FileAt(Path(rel), attributes);
  }
  static void FileAt(const std::string& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    HANDLE h =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    CloseHandle(h);
  }

 private:
  static void Remove(const std::string& folder) {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = folder + "\\" + name;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        const bool link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !link) {
          Remove(path);
        } else if (!DeleteFileA(("\\\\?\\" + path).c_str())) {
          RemoveDirectoryA(path.c_str());
        }
      } while (FindNextFileA(h, &data));
      FindClose(h);
    }
    RemoveDirectoryA(folder.c_str());
  }
  std::string root_;
};

// The names in the platform's own enumeration order, which the functions
// must keep (Wine returns the host's directory order, not a sorted one).
Names RawOrder(const std::string& folder, bool folders) {
  Names names;
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const std::string name = data.cFileName;
    if (isFolder == folders && name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(h, &data));
  FindClose(h);
  return names;
}

Names Sorted(Names v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST(Dirsearch, ExtensionsMatchCaseInsensitivelyOnTheLastPeriodOnly) {
  TempTree t;
  for (const char* f :
       {"a.BMP", "b.bmp", "c.Bmp", "d.bmpx", "e.bmp.txt", ".bmp", "g.jpg", "noext", "x.tar.BMP"}) {
    t.File(f);
  }
  // Only the long-path form keeps a trailing period in a new name.
  t.FileAt("\\\\?\\" + t.Path("dot."));
  t.Folder("f.bmp");
  tk::TStringList list;
  orv::FindFiles(list, t.Root(), Exts({".BmP"}));
  const std::string p = t.Root() + "\\";
  EXPECT_EQ(Sorted(list.Items()),
            Sorted({p + "a.BMP", p + "b.bmp", p + "c.Bmp", p + ".bmp", p + "x.tar.BMP"}));

  // Only an empty entry matches a name without a period; "." matches a
  // name ending in a period.
  tk::TStringList special;
  orv::FindFiles(special, t.Root(), Exts({""}));
  EXPECT_EQ(special.Items(), Names({p + "noext"}));
  special.Clear();
  orv::FindFiles(special, t.Root(), Exts({"."}));
  EXPECT_EQ(special.Items(), Names({p + "dot."}));
}

TEST(Dirsearch, KeepsEnumerationOrderAndOnlyAppends) {
  TempTree t;
  for (const char* f : {"m.jpg", "a.jpg", "z.png", "k.JPG", "q.txt"}) t.File(f);
  Names expected;
  for (const std::string& n : RawOrder(t.Root(), false)) {
    if (n != "q.txt") expected.push_back(t.Root() + "\\" + n);
  }
  tk::TStringList list;
  list.Add("kept");
  orv::FindFiles(list, t.Root(), Exts({".jpg", ".png"}));
  ASSERT_EQ(list.Count(), 5);
  EXPECT_EQ(list[0], "kept");
  EXPECT_EQ(Names(list.Items().begin() + 1, list.Items().end()), expected);

  // A second call appends every entry again.
  orv::FindFiles(list, t.Root(), Exts({".jpg", ".png"}));
  ASSERT_EQ(list.Count(), 9);
  EXPECT_EQ(Names(list.Items().begin() + 5, list.Items().end()), expected);

  // The caller's extension list is left as it was.
  tk::TStringList exts = Exts({".JPG"});
  orv::FindFiles(list, t.Root(), exts);
  EXPECT_EQ(exts[0], ".JPG");
}

TEST(Dirsearch, HiddenAndSystemFilesAndFoldersTakePart) {
  TempTree t;
  t.File("h.jpg", FILE_ATTRIBUTE_HIDDEN);
  t.File("s.jpg", FILE_ATTRIBUTE_SYSTEM);
  t.File("r.jpg", FILE_ATTRIBUTE_READONLY);
  t.Folder("hid");
  t.File("hid\\in.jpg");
  SetFileAttributesA(t.Path("hid").c_str(), FILE_ATTRIBUTE_HIDDEN);
  tk::TStringList list;
  orv::FindFilesRecursive(list, t.Root(), Exts({".jpg"}));
  EXPECT_EQ(Sorted(list.Items()),
            Sorted({t.Path("h.jpg"), t.Path("s.jpg"), t.Path("r.jpg"), t.Path("hid\\in.jpg")}));
  tk::TStringList folders;
  orv::FindSubFolders(folders, t.Root());
  EXPECT_EQ(folders.Items(), Names({t.Path("hid")}));
}

TEST(Dirsearch, SubFoldersSkipNamesEndingInAPeriod) {
  TempTree t;
  t.Folder("one");
  t.Folder("two.d");
  t.File("file.jpg");
  // Win32 strips a trailing period when creating, so "x." cannot be made
  // here; "." and ".." are the entries the rule exists for.
  tk::TStringList list;
  orv::FindSubFolders(list, t.Root());
  Names expected;
  for (const std::string& n : RawOrder(t.Root(), true)) expected.push_back(t.Path(n));
  EXPECT_EQ(list.Items(), expected);
  EXPECT_EQ(Sorted(list.Items()), Sorted({t.Path("one"), t.Path("two.d")}));
}

TEST(Dirsearch, TreeIsWalkedInPreOrderWithEachFoldersFilesFirst) {
  TempTree t;
  t.Folder("a");
  t.File("a\\1.jpg");
  t.Folder("a\\x");
  t.File("a\\x\\2.jpg");
  t.Folder("a\\x\\y");
  t.File("a\\x\\y\\3.jpg");
  t.Folder("a\\z");
  t.File("a\\z\\4.jpg");
  t.File("a\\z\\5.jpg");
  const std::string a = t.Path("a");

  // Expected order from the enumeration of each folder.
  Names expected;
  std::vector<std::string> stack{a};
  std::function<void(const std::string&)> walk = [&](const std::string& folder) {
    for (const std::string& n : RawOrder(folder, false)) expected.push_back(folder + "\\" + n);
    for (const std::string& n : RawOrder(folder, true)) walk(folder + "\\" + n);
  };
  walk(a);

  tk::TStringList list;
  orv::FindFilesRecursive(list, a, Exts({".jpg"}));
  EXPECT_EQ(list.Items(), expected);
  ASSERT_EQ(list.Count(), 5);
  // Whatever the sibling order, a folder's own files come before its
  // sub-folders' and 3.jpg directly follows 2.jpg.
  EXPECT_EQ(list[0], a + "\\1.jpg");
  const auto& items = list.Items();
  const auto two = std::find(items.begin(), items.end(), a + "\\x\\2.jpg");
  ASSERT_NE(two, items.end());
  ASSERT_NE(two + 1, items.end());
  EXPECT_EQ(*(two + 1), a + "\\x\\y\\3.jpg");
}

TEST(Dirsearch, MissingOrEmptyFoldersAddNothing) {
  TempTree t;
  t.Folder("empty");
  tk::TStringList list;
  list.Add("x");
  orv::FindFiles(list, t.Path("missing"), Exts({".jpg"}));
  orv::FindSubFolders(list, t.Path("missing"));
  orv::FindFilesRecursive(list, t.Path("missing"), Exts({".jpg"}));
  orv::FindFiles(list, t.Path("empty"), Exts({".jpg"}));
  orv::FindSubFolders(list, t.Path("empty"));
  orv::FindFilesRecursive(list, t.Path("empty"), Exts({".jpg"}));
  EXPECT_EQ(list.Items(), Names({"x"}));
}

TEST(Dirsearch, TrailingSeparatorIsJoinedAsGiven) {
  TempTree t;
  t.File("p.png");
  t.Folder("sub");
  tk::TStringList files;
  orv::FindFiles(files, t.Root() + "\\", Exts({".png"}));
  EXPECT_EQ(files.Items(), Names({t.Root() + "\\\\p.png"}));
  tk::TStringList folders;
  orv::FindSubFolders(folders, t.Root() + "\\");
  EXPECT_EQ(folders.Items(), Names({t.Root() + "\\\\sub"}));
}

TEST(Dirsearch, ManyFilesAreAllListed) {
  TempTree t;
  for (int i = 0; i < 300; ++i) t.File("f" + std::to_string(i) + (i % 3 ? ".jpg" : ".txt"));
  tk::TStringList list;
  orv::FindFiles(list, t.Root(), Exts({".jpg"}));
  EXPECT_EQ(list.Count(), 200);
}

// Under Wine, whose drives are host folders, a host symbolic link is a
// folder link (Wine's CreateSymbolicLink makes none), so the host's ln and
// rm make and remove them. Wine cannot wait for a host process: the callers
// wait for its effect instead.
typedef char*(CDECL* UnixNameProc)(LPCWSTR);

UnixNameProc WineUnixName() {
  return reinterpret_cast<UnixNameProc>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
}

std::string UnixPath(UnixNameProc unixName, const std::string& path) {
  // The name itself may be a link or missing: convert its folder only.
  const size_t slash = path.rfind('\\');
  WCHAR wide[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, path.substr(0, slash).c_str(), -1, wide, MAX_PATH);
  char* name = unixName(wide);
  std::string out = name ? name : "";
  if (name) HeapFree(GetProcessHeap(), 0, name);
  return out + "/" + path.substr(slash + 1);
}

void RunHost(const char* program, std::string command) {
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (CreateProcessA(program, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                     &pi)) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
}

bool WaitForAttributes(const std::string& path, bool folder) {
  for (int i = 0; i < 200; ++i) {
    const DWORD a = GetFileAttributesA(path.c_str());
    const bool isFolder = a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    if (isFolder == folder) return true;
    Sleep(50);
  }
  return false;
}

bool MakeFolderLink(const std::string& link, const std::string& target) {
  if (UnixNameProc unixName = WineUnixName()) {
    const std::string unixTarget = UnixPath(unixName, target + "\\.");
    RunHost("Z:\\bin\\ln", "ln -s \"" + unixTarget.substr(0, unixTarget.size() - 2) + "\" \"" +
                               UnixPath(unixName, link) + "\"");
  } else {
    typedef BOOLEAN(WINAPI * CreateLinkProc)(LPCSTR, LPCSTR, DWORD);
    auto create = reinterpret_cast<CreateLinkProc>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA")));
    if (create) create(link.c_str(), target.c_str(), 1 /* directory */);
  }
  return WaitForAttributes(link, true);
}

void RemoveFolderLink(const std::string& link) {
  if (RemoveDirectoryA(link.c_str())) return;
  if (UnixNameProc unixName = WineUnixName()) {
    RunHost("Z:\\bin\\rm", "rm -f \"" + UnixPath(unixName, link) + "\"");
    WaitForAttributes(link, false);
  }
}

TEST(Dirsearch, LinkBackToAnAncestorDoesNotLoop) {
  TempTree t;
  t.Folder("top");
  t.File("top\\1.jpg");
  t.Folder("top\\mid");
  t.File("top\\mid\\2.jpg");
  t.Folder("other");
  t.File("other\\3.jpg");
  if (!MakeFolderLink(t.Path("top\\mid\\up"), t.Path("top")) ||
      !MakeFolderLink(t.Path("top\\mid\\side"), t.Path("other"))) {
    GTEST_SKIP() << "no folder links on this system";
  }
  tk::TStringList list;
  orv::FindFilesRecursive(list, t.Path("top"), Exts({".jpg"}));
  // The link to an ancestor is skipped; the one to a folder off the path is
  // followed like any folder.
  EXPECT_EQ(Sorted(list.Items()), Sorted({t.Path("top\\1.jpg"), t.Path("top\\mid\\2.jpg"),
                                          t.Path("top\\mid\\side\\3.jpg")}));
  RemoveFolderLink(t.Path("top\\mid\\up"));
  RemoveFolderLink(t.Path("top\\mid\\side"));
}

}  // namespace

namespace {

std::wstring WideOf(const std::string& ansi) {
  wchar_t w[MAX_PATH * 2] = {};
  MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, w, MAX_PATH * 2 - 1);
  return w;
}

void WriteWide(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  WriteFile(h, bytes.data(), DWORD(bytes.size()), &n, nullptr);
  CloseHandle(h);
}

std::string ReadAnsi(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<cannot open>";
  char buf[64] = {};
  DWORD n = 0;
  ReadFile(h, buf, sizeof buf, &n, nullptr);
  CloseHandle(h);
  return std::string(buf, n);
}

// The walk hands over what each file's folder entry says, one record per
// listed file, so the search can tell a cloud placeholder without opening
// it. Wine sets no cloud attributes; size and the attributes it keeps are
// what the entry says.
TEST(Dirsearch, EachListedFileComesWithItsEntrysSizeAndAttributes) {
  TempTree t;
  t.Folder("sub");
  const std::string big = t.Path("big.jpg"), hidden = t.Path("sub\\h.jpg");
  HANDLE h = CreateFileA(big.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::string data(70000, 'x');
  DWORD written = 0;
  WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  CloseHandle(h);
  t.File("sub\\h.jpg", FILE_ATTRIBUTE_HIDDEN);
  t.File("skip.txt");

  tk::TStringList list;
  std::vector<orv::EntryFacts> facts;
  orv::FindFilesRecursive(list, t.Root(), Exts({".jpg"}), nullptr, &facts);
  ASSERT_EQ(list.Count(), 2);
  ASSERT_EQ(facts.size(), 2u);
  for (int i = 0; i < list.Count(); ++i) {
    SCOPED_TRACE(list[i]);
    const orv::EntryFacts& f = facts[static_cast<size_t>(i)];
    EXPECT_FALSE(orv::IsNotOnThisPc(f.attributes));
    if (list[i] == big) {
      EXPECT_EQ(f.size, 70000);
    } else {
      EXPECT_EQ(list[i], hidden);
      EXPECT_EQ(f.size, 0);
      EXPECT_NE(f.attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
    }
  }
}

// One directory entry and the name the program should go by (none: `ok`
// false, and the output is left alone).
struct NameCase {
  const wchar_t* longName;
  const wchar_t* shortName;
  bool ok;
  const char* name;
};
template <size_t N>
void ExpectEntryNames(const NameCase (&cases)[N]) {
  for (const NameCase& c : cases) {
    std::string name = "untouched";
    EXPECT_EQ(orv::AnsiEntryName(c.longName, c.shortName, name), c.ok) << c.name;
    EXPECT_EQ(name, c.ok ? c.name : "untouched");
  }
}

// Which name of an entry the program goes by, in code page 932.
TEST(Dirsearch, ANameTheCodePageCannotCarryIsTakenByItsShortName) {
  const NameCase cases[] = {
      {L"photo.jpg", L"", true, "photo.jpg"},
      {L"\u5199\u771f\u8868.jpg", L"D8B2~1.JPG", true, "写真\x95\x5C.jpg"},  // 写真表
      {L"Caf\u00e9.jpg", L"CAFE~1.JPG", true, "CAFE~1.JPG"},  // best fit would say "Cafe"
      {L"\U0001F600.png", L"F600~1.PNG", true, "F600~1.PNG"},  // an emoji
      {L"\u00c5ngstr\u00f6m.bmp", nullptr, false, ""},
      {L"Caf\u00e9.jpg", L"", false, ""},
      {L"\u2460.jpg", L"\u2461~1.JPG", true, "\x87\x40.jpg"},  // ① is in code page 932
  };
  ExpectEntryNames(cases);
}

// With UTF-8 as the ANSI code page, every name the file system can hold is
// taken as it is (in UTF-8); a lone surrogate, which UTF-8 cannot carry, is
// still refused by the round trip and goes by its short name. The flags
// that code page 932 needs make the conversion fail there, for every name.
TEST(Dirsearch, WithUtf8AsTheCodePageNamesComeInUtf8) {
  const NameCase cases[] = {
      {L"photo.jpg", L"", true, "photo.jpg"},
      {L"\u5199\u771f.jpg", L"", true, "\xE5\x86\x99\xE7\x9C\x9F.jpg"},
      {L"Caf\u00e9.jpg", L"CAFE~1.JPG", true, "Caf\xC3\xA9.jpg"},
      {L"\U0001F600.png", L"", true, "\xF0\x9F\x98\x80.png"},
      {L"bad\xD800.jpg", L"BAD~1.JPG", true, "BAD~1.JPG"},
      {L"bad\xD800.jpg", L"", false, ""},
  };
  orv::UseAnsiCodePage(CP_UTF8);
  ExpectEntryNames(cases);
  std::string path;
  EXPECT_TRUE(orv::AnsiPath(L"C:\\\u5199\u771f\\a.jpg", path));
  EXPECT_EQ(path, "C:\\\xE5\x86\x99\xE7\x9C\x9F\\a.jpg");
  orv::UseAnsiCodePage(0);
}

TEST(Dirsearch, FilesAndFoldersNamedOutsideTheCodePageAreFoundUnderNamesThatOpenThem) {
  TempTree t;
  const std::wstring root = WideOf(t.Root());
  WriteWide(root + L"\\plain.jpg", "plain");
  WriteWide(root + L"\\Caf\u00e9.jpg", "cafe");
  WriteWide(root + L"\\\U0001F600.jpg", "emoji");
  ASSERT_TRUE(CreateDirectoryW((root + L"\\\u00dcber").c_str(), nullptr));
  WriteWide(root + L"\\\u00dcber\\deep.jpg", "deep");

  tk::TStringList list, unnamed;
  orv::FindFilesRecursive(list, t.Root(), Exts({".jpg"}), &unnamed);
  std::vector<std::string> contents;
  for (const std::string& path : list.Items()) {
    EXPECT_EQ(path.find('?'), std::string::npos) << path;
    contents.push_back(ReadAnsi(path));
  }
  std::sort(contents.begin(), contents.end());
  EXPECT_EQ(contents, Names({"cafe", "deep", "emoji", "plain"}));
  // Wine, like Windows on the system volume, keeps short names: nothing
  // is left out.
  EXPECT_EQ(unnamed.Count(), 0) << unnamed.GetText();

  // The folder picker's path goes the same way.
  std::string path;
  ASSERT_TRUE(orv::AnsiPath((root + L"\\\u00dcber\\deep.jpg").c_str(), path));
  EXPECT_EQ(ReadAnsi(path), "deep");
  ASSERT_TRUE(orv::AnsiPath(root.c_str(), path));
  EXPECT_EQ(path, t.Root());

  DeleteFileW((root + L"\\Caf\u00e9.jpg").c_str());
  DeleteFileW((root + L"\\\U0001F600.jpg").c_str());
  DeleteFileW((root + L"\\\u00dcber\\deep.jpg").c_str());
  RemoveDirectoryW((root + L"\\\u00dcber").c_str());
}

}  // namespace
