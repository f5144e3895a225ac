// Writing whole frames to the pipes between the saver and its decoder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace orv {

// Writes all of `bytes` to `out`; false when the other end is gone.
inline bool WriteAll(HANDLE out, const std::vector<uint8_t>& bytes) {
  size_t at = 0;
  while (at < bytes.size()) {
    DWORD wrote = 0;
    if (!WriteFile(out, bytes.data() + at, DWORD(bytes.size() - at), &wrote, nullptr) || !wrote)
      return false;
    at += wrote;
  }
  return true;
}

}  // namespace orv
