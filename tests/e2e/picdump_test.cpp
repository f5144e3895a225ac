// picdump as a separate process: a plug-in that faults leaves the target
// empty and ends the tool with exit code 1, not a crash.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/plugins/TestPlugin.h"

namespace {

std::string WinPath(std::string p) {
  if (!p.empty() && p[0] == '/') p = "Z:" + p;
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

std::string Temp(const std::string& name) {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  return std::string(base) + "orv_picdump_" + std::to_string(GetCurrentProcessId()) + "_" + name;
}

void Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

std::vector<uint8_t> OrvPicture(uint32_t w, uint32_t h, uint32_t mode) {
  std::vector<uint8_t> v(ORV_TEST_MAGIC, ORV_TEST_MAGIC + 8);
  for (uint32_t x : {w, h, mode})
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
  v.resize(v.size() + size_t(w) * h * 3, 0x40);
  return v;
}

// picdump's exit code; -1 when it did not end within a minute.
long RunPicdump(const std::string& plugins, const std::string& input, const std::string& output) {
  std::string cmd = "\"" + WinPath(ORV_PICDUMP_PATH) + "\" --plugins \"" + plugins + "\" \"" +
                    input + "\" \"" + output + "\"";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return -2;
  long code = -1;
  if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) {
    DWORD c = 0;
    GetExitCodeProcess(pi.hProcess, &c);
    code = static_cast<long>(c);
  } else {
    TerminateProcess(pi.hProcess, 99);
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(Picdump, APlugInThatFaultsLeavesTheTargetEmptyAndExitsWithOne) {
  const std::string plugins = WinPath(ORV_TEST_PLUGIN_DIR);
  struct Case {
    const char* what;
    std::string folder;
    std::vector<uint8_t> bytes;
    long exit;
  } cases[] = {
      {"a good picture", plugins, OrvPicture(3, 2, kModeBottomUp), 0},
      {"a fault in IsSupported", plugins + "\\faulty", {'F', 'A', 'U', 'L', 'T'}, 1},
      {"an access violation in GetPicture", plugins, OrvPicture(3, 2, kModeFaultWrite), 1},
      {"a division by zero in GetPicture", plugins, OrvPicture(3, 2, kModeFaultDivide), 1},
      {"an illegal instruction in GetPicture", plugins, OrvPicture(3, 2, kModeFaultIllegal), 1},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string input = Temp(std::to_string(++n) + ".orv");
    const std::string output = Temp(std::to_string(n) + ".bmp");
    Write(input, c.bytes);
    DeleteFileA(output.c_str());
    EXPECT_EQ(RunPicdump(c.folder, input, output), c.exit);
    EXPECT_EQ(Exists(output), c.exit == 0);
    DeleteFileA(input.c_str());
    DeleteFileA(output.c_str());
  }
}

}  // namespace
