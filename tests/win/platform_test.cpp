// The program's strings are Shift-JIS bytes handed to the A functions, so
// every Windows test silently depends on the process running with the
// Japanese ANSI code page. These cases fail first, and clearly, when the
// test environment lost its locale (Wine falls back to code page 1252).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring ToWide(const std::string& s) {
  int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()),
                              nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), &w[0],
                        n);
  }
  return w;
}

std::string ToAnsi(const std::wstring& w) {
  int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr,
                              nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr,
                        nullptr);
  }
  return s;
}

std::wstring FromUtf16(const char16_t* s) {
  return std::wstring(s, s + std::char_traits<char16_t>::length(s));
}

}  // namespace

TEST(Platform, AnsiCodePageIsJapanese) {
  EXPECT_EQ(GetACP(), 932u);
  CPINFO info{};
  ASSERT_TRUE(GetCPInfo(CP_ACP, &info));
  EXPECT_EQ(info.MaxCharSize, 2u);
}

TEST(Platform, ShiftJisLiteralsRoundTrip) {
  // The title the configuration dialog looks for, as the compiler stored it.
  const std::string title = "画面のプロパティ";
  ASSERT_EQ(title.size(), 16u);
  EXPECT_EQ(static_cast<unsigned char>(title[0]), 0x89);
  EXPECT_EQ(static_cast<unsigned char>(title[1]), 0xE6);

  EXPECT_EQ(ToWide(title), FromUtf16(u"画面のプロパティ"));
  EXPECT_EQ(ToAnsi(FromUtf16(u"画面のプロパティ")), title);

  // Half-width katakana are single bytes in Shift-JIS.
  const std::string kana = "ｵﾙﾊﾞﾈﾙ";
  EXPECT_EQ(kana.size(), 6u);
  EXPECT_EQ(ToWide(kana), FromUtf16(u"ｵﾙﾊﾞﾈﾙ"));
}

TEST(Platform, TrailByteBackslashStaysInsideItsCharacter) {
  // "表" and "ソ" end in 0x5C, the backslash: path code must step by
  // character, which only works when the lead bytes are recognised.
  const std::string s = "表ソ\\x";
  ASSERT_EQ(s.size(), 6u);
  EXPECT_EQ(static_cast<unsigned char>(s[1]), 0x5C);
  EXPECT_TRUE(IsDBCSLeadByte(static_cast<BYTE>(s[0])));
  EXPECT_FALSE(IsDBCSLeadByte('x'));

  const char* p = s.c_str();
  const char* second = CharNextA(p);
  const char* slash = CharNextA(second);
  EXPECT_EQ(second - p, 2);
  EXPECT_EQ(slash - p, 4);
  EXPECT_EQ(*slash, '\\');
  EXPECT_EQ(ToWide(s), FromUtf16(u"表ソ\\x"));
}

TEST(Platform, JapaneseFileNamesSurviveTheFileSystem) {
  char tmp[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, tmp), 0u);
  std::string dir = std::string(tmp) + "orv_platform_" + std::to_string(GetCurrentProcessId());
  ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  const std::string name = "表示テスト.txt";
  const std::string path = dir + "\\" + name;

  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(h, "abc", 3, &written, nullptr));
  CloseHandle(h);

  WIN32_FIND_DATAA fd{};
  HANDLE f = FindFirstFileA((dir + "\\*.txt").c_str(), &fd);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  FindClose(f);
  EXPECT_EQ(std::string(fd.cFileName), name);
  EXPECT_EQ(fd.nFileSizeLow, 3u);

  EXPECT_TRUE(DeleteFileA(path.c_str()));
  EXPECT_TRUE(RemoveDirectoryA(dir.c_str()));
}

namespace {

WORD ImageCharacteristics(HMODULE m) {
  const auto* base = reinterpret_cast<const uint8_t*>(m);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  return nt->FileHeader.Characteristics;
}

// Built like the module: a 32-bit image gets all 4 GiB of address space on
// 64-bit Windows only when its header says it may.
TEST(Platform, ProgramsAndPlugInsAreLargeAddressAware) {
  EXPECT_TRUE(ImageCharacteristics(GetModuleHandleA(nullptr)) & IMAGE_FILE_LARGE_ADDRESS_AWARE);
  std::string dir = ORV_TEST_PLUGIN_DIR;
  if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
  for (char& c : dir)
    if (c == '/') c = '\\';
  HMODULE plugin = LoadLibraryExA((dir + "\\orvtest.spi").c_str(), nullptr,
                                  DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(plugin, nullptr);
  EXPECT_TRUE(ImageCharacteristics(plugin) & IMAGE_FILE_LARGE_ADDRESS_AWARE);
  FreeLibrary(plugin);
}

}  // namespace
