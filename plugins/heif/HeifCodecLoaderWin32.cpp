// The plug-ins' side of the codec DLL: it lies beside the plug-in under a
// name of our own, and is loaded from there by full path. A host that
// loads the plug-in with a plain LoadLibraryA, from any current folder,
// then still finds it (Windows does not look in a DLL's own folder for
// the DLLs it imports), and another program's libheif.dll in the same
// process is never taken for ours.
#include <windows.h>

#include <mutex>
#include <string>

#include "plugins/heif/HeifCodec.h"

namespace orvspi {

namespace {

constexpr wchar_t kCodecDll[] = L"orvheifcodec.dll";

// The folder of the module this code is linked into, with its backslash.
std::wstring OwnFolder() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&OwnFolder), &self))
    return std::wstring();
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(self, &path[0], DWORD(path.size()));
    if (n == 0) return std::wstring();
    // A path that filled the buffer may have been cut: try a larger one.
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    if (path.size() >= 32768) return std::wstring();
    path.resize(path.size() * 2);
  }
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

typedef const HeifCodecApi*(__cdecl* ApiProc)(uint32_t size);

const HeifCodecApi* Load() {
  const std::wstring folder = OwnFolder();
  if (folder.empty()) return nullptr;
  // The DLL's own imports are Windows' only; the altered search path
  // keeps even those from being looked for in the current folder first.
  HMODULE dll =
      LoadLibraryExW((folder + kCodecDll).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!dll) return nullptr;
  auto proc =
      reinterpret_cast<ApiProc>(reinterpret_cast<void*>(GetProcAddress(dll, "OrvHeifCodecApi")));
  const HeifCodecApi* api = proc ? proc(sizeof(HeifCodecApi)) : nullptr;
  if (!api) {
    FreeLibrary(dll);
    return nullptr;
  }
  // Kept loaded for as long as the plug-in is: libheif cannot be
  // unloaded cleanly once initialised.
  return api;
}

}  // namespace

const HeifCodecApi* HeifCodec() {
  static std::once_flag once;
  static const HeifCodecApi* api = nullptr;
  std::call_once(once, [] { api = Load(); });
  return api;
}

}  // namespace orvspi
