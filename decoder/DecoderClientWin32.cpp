#include "decoder/DecoderClientWin32.h"

#include <sddl.h>

#include <string>
#include <utility>
#include <vector>

#include "decoder/PipeWin32.h"
#include "toolkit/Win32Handles.h"

namespace orv {

namespace {

constexpr uint64_t kJobMemoryLimit = uint64_t(1) << 30;

void CloseIf(HANDLE& h) {
  if (h) CloseHandle(h);
  h = nullptr;
}

// The saver's own token, restricted: every privilege but change-notify
// dropped and, where Windows has integrity levels, at low integrity, so
// that a decoder taken over by a hostile file can read pictures but write
// nothing of the user's. Null when the token cannot be had.
HANDLE DecoderToken(DecoderLaunch& launch) {
  HANDLE own = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(),
                        TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT,
                        &own))
    return nullptr;
  HANDLE restricted = nullptr;
  if (!CreateRestrictedToken(own, DISABLE_MAX_PRIVILEGE, 0, nullptr, 0, nullptr, 0, nullptr,
                             &restricted)) {
    CloseHandle(own);
    return nullptr;
  }
  CloseHandle(own);
  launch.restrictedToken = true;
  PSID low = nullptr;
  if (ConvertStringSidToSidA("S-1-16-4096", &low)) {
    TOKEN_MANDATORY_LABEL label = {};
    label.Label.Attributes = SE_GROUP_INTEGRITY;
    label.Label.Sid = low;
    launch.lowIntegrity = SetTokenInformation(restricted, TokenIntegrityLevel, &label,
                                              DWORD(sizeof label + GetLengthSid(low))) != FALSE;
    LocalFree(low);
  }
  return restricted;
}

bool CreateDecoderProcess(HANDLE token, std::string& cmd, DWORD flags, PROCESS_INFORMATION& pi) {
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  if (token)
    return CreateProcessAsUserA(token, nullptr, &cmd[0], nullptr, nullptr, TRUE, flags, nullptr,
                                nullptr, &si, &pi) != FALSE;
  return CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, flags, nullptr, nullptr, &si,
                        &pi) != FALSE;
}

DecoderProcessCreator& Creator() {
  static DecoderProcessCreator creator;
  return creator;
}

bool Create(HANDLE token, std::string& cmd, DWORD flags, PROCESS_INFORMATION& pi) {
  return Creator() ? Creator()(token, cmd, flags, pi) : CreateDecoderProcess(token, cmd, flags, pi);
}

}  // namespace

void UseDecoderProcessCreator(DecoderProcessCreator creator) { Creator() = std::move(creator); }

DecodedDib::DecodedDib(HBITMAP bitmap, HANDLE section, void* bits)
    : bitmap_(bitmap), section_(section) {
  bits_ = static_cast<uint8_t*>(bits);
  tk::CountGdiObject(1);
}

DecodedDib::~DecodedDib() {
  if (bitmap_) DeleteObject(bitmap_);
  if (section_) CloseHandle(section_);
  tk::CountGdiObject(-1);
}

void AdoptDecoded(tk::TBitmap& picture, std::unique_ptr<DecodedDib> dib, const DecodeAnswer& answer) {
  picture.Clear();
  if (!dib || answer.status != DecodeStatus::kDecoded) return;
  picture.Adopt(std::move(dib), answer.width, answer.height,
                answer.bitCount == 32 ? tk::TPixelFormat::pf32bit : tk::TPixelFormat::pf24bit);
}

TDecoderClient::TDecoderClient(std::string module, DecodeSetup setup)
    : module_(std::move(module)), setup_(std::move(setup)) {}

TDecoderClient::~TDecoderClient() {
  Stop();
  if (watched_) UnmapViewOfFile(const_cast<long*>(watched_));
  CloseIf(watch_);
}

DWORD TDecoderClient::DecoderProcessId() const { return process_ ? GetProcessId(process_) : 0; }

bool TDecoderClient::Start() {
  launch_ = DecoderLaunch();
  // Pipes whose decoder ends alone are inherited.
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE childIn = nullptr, childOut = nullptr;
  if (!CreatePipe(&childIn, &toDecoder_, &inherit, 64 * 1024)) return false;
  if (!CreatePipe(&fromDecoder_, &childOut, &inherit, 64 * 1024)) {
    CloseHandle(childIn);
    CloseIf(toDecoder_);
    return false;
  }
  SetHandleInformation(toDecoder_, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(fromDecoder_, HANDLE_FLAG_INHERIT, 0);

  if (!watch_) {
    // One page the decoder marks while it loads plug-ins: which one it is
    // in. Made once, inherited by every decoder of this client.
    watch_ = CreateFileMappingA(INVALID_HANDLE_VALUE, &inherit, PAGE_READWRITE, 0, 4096, nullptr);
    if (watch_)
      watched_ = static_cast<volatile long*>(MapViewOfFile(watch_, FILE_MAP_WRITE, 0, 0, 4096));
    if (!watched_) CloseIf(watch_);
  }
  if (watched_) *watched_ = 0;
  launch_.commandLine = "\"" + module_ + "\" /decode " +
                        std::to_string(reinterpret_cast<uintptr_t>(childIn)) + " " +
                        std::to_string(reinterpret_cast<uintptr_t>(childOut)) + " " +
                        std::to_string(reinterpret_cast<uintptr_t>(watch_));
  job_ = CreateJobObjectA(nullptr, nullptr);
  if (job_) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION |
        JOB_OBJECT_LIMIT_PROCESS_MEMORY | JOB_OBJECT_LIMIT_ACTIVE_PROCESS;
    limits.BasicLimitInformation.ActiveProcessLimit = 1;
    limits.ProcessMemoryLimit = SIZE_T(kJobMemoryLimit);
    if (SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
      launch_.jobLimitFlags = limits.BasicLimitInformation.LimitFlags;
      launch_.jobMemoryLimit = kJobMemoryLimit;
      launch_.activeProcessLimit = 1;
    }
  }
  PROCESS_INFORMATION pi = {};
  std::string cmd = launch_.commandLine;
  const DWORD flags = CREATE_SUSPENDED | CREATE_NO_WINDOW;
  HANDLE token = DecoderToken(launch_);
  bool made = false;
  if (token) {
    made = Create(token, cmd, flags, pi);
    CloseHandle(token);
  }
  if (!made) {
    // Without the restricted token (a Windows that refuses it) the decoder
    // still runs in its job: pictures are better shown than not.
    launch_.restrictedToken = launch_.lowIntegrity = false;
    cmd = launch_.commandLine;
    made = Create(nullptr, cmd, flags, pi);
  }
  CloseHandle(childIn);
  CloseHandle(childOut);
  if (!made) {
    Abandon();
    return false;
  }
  launch_.inJob = job_ && AssignProcessToJobObject(job_, pi.hProcess);
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);
  process_ = pi.hProcess;
  launch_.started = true;
  reader_ = FrameReader();
  if (!WriteAll(toDecoder_, EncodeSetup(setup_))) {
    Abandon();
    return false;
  }
  return true;
}

bool TDecoderClient::Ask(DecodeMessage kind, const std::string& path, int fitWidth, int fitHeight,
                         uint32_t flags, uint64_t fileBytes) {
  if (pending_) return false;
  if (kind == DecodeMessage::kDecode && (fitWidth <= 0 || fitHeight <= 0)) return false;
  // A decoder that ended after its last answer is replaced.
  if (process_ && WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) Abandon();
  if (!process_ && !Start()) return false;
  DecodeRequest q;
  q.kind = kind;
  q.id = request_.id + 1;
  q.path = path;
  q.fitWidth = fitWidth;
  q.fitHeight = fitHeight;
  q.flags = flags;
  if (kind == DecodeMessage::kDecode) {
    // Room for the whole box at 32 bits: the decoder writes no more.
    q.sectionBytes = DibRowBytes(fitWidth, 32) * uint64_t(fitHeight);
    section_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                  DWORD(q.sectionBytes >> 32), DWORD(q.sectionBytes), nullptr);
    if (!section_) return false;
  }
  bound_ = DecodeTimeBoundMs(fileBytes);
  retries_ = 0;
  return Send(q);
}

bool TDecoderClient::Send(DecodeRequest q) {
  if (q.kind == DecodeMessage::kDecode) {
    HANDLE remote = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), section_, process_, &remote, FILE_MAP_WRITE, FALSE,
                         0)) {
      CloseIf(section_);
      return false;
    }
    q.section = uint64_t(reinterpret_cast<uintptr_t>(remote));
  }
  if (!WriteAll(toDecoder_, EncodeRequest(q))) {
    CloseIf(section_);
    Abandon();
    return false;
  }
  request_ = q;
  pending_ = true;
  askedAt_ = GetTickCount();
  return true;
}

bool TDecoderClient::LeaveOutAndRetry() {
  const long mark = watched_ ? *watched_ : 0;
  if (mark <= 0 || size_t(mark) > setup_.pluginFiles.size() || retries_ >= kMaxRetries)
    return false;
  // The decoder ended, or hung, while it loaded this plug-in: the next
  // decoders do without it, and the question goes to one at once.
  left_out_.push_back(setup_.pluginFiles[size_t(mark - 1)]);
  setup_.pluginFiles.erase(setup_.pluginFiles.begin() + (mark - 1));
  ++retries_;
  Abandon();
  return Start() && Send(request_);
}

TDecoderClient::Result TDecoderClient::Check(DecodeAnswer& answer,
                                             std::unique_ptr<DecodedDib>& dib) {
  dib.reset();
  if (!pending_) return Result::kIdle;
  DWORD available = 0;
  if (PeekNamedPipe(fromDecoder_, nullptr, 0, nullptr, &available, nullptr) && available) {
    std::vector<uint8_t> bytes(available);
    DWORD got = 0;
    if (ReadFile(fromDecoder_, bytes.data(), available, &got, nullptr))
      reader_.Feed(bytes.data(), got);
    std::vector<uint8_t> payload;
    if (reader_.Next(payload)) {
      pending_ = false;
      DecodeAnswer a;
      // An answer that does not parse, or does not fit the question, is a
      // decoder not to be trusted with the next one.
      if (!ParseAnswer(payload, a) || !AnswerFits(request_, a)) {
        CloseIf(section_);
        Abandon();
        return Result::kLost;
      }
      if (request_.kind == DecodeMessage::kDecode) {
        // The decoder's duplicate of the section is of no more use there.
        DuplicateHandle(process_, reinterpret_cast<HANDLE>(uintptr_t(request_.section)), nullptr,
                        nullptr, 0, FALSE, DUPLICATE_CLOSE_SOURCE);
        if (a.status == DecodeStatus::kDecoded) {
          BITMAPINFO info = {};
          info.bmiHeader.biSize = sizeof info.bmiHeader;
          info.bmiHeader.biWidth = a.width;
          info.bmiHeader.biHeight = a.height;
          info.bmiHeader.biPlanes = 1;
          info.bmiHeader.biBitCount = WORD(a.bitCount);
          info.bmiHeader.biCompression = BI_RGB;
          void* bits = nullptr;
          HBITMAP b = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, section_, 0);
          if (!b) {
            a.status = DecodeStatus::kNotDecoded;
            CloseIf(section_);
          } else {
            dib = std::make_unique<DecodedDib>(b, section_, bits);
            section_ = nullptr;
          }
        } else {
          CloseIf(section_);
        }
      }
      answer = a;
      return Result::kAnswered;
    }
    if (reader_.Broken()) {
      pending_ = false;
      CloseIf(section_);
      Abandon();
      return Result::kLost;
    }
  }
  const bool died = WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
  if (died || GetTickCount() - askedAt_ > bound_) {
    if (LeaveOutAndRetry()) return Result::kPending;
    pending_ = false;
    CloseIf(section_);
    Abandon();
    return Result::kLost;
  }
  return Result::kPending;
}

void TDecoderClient::Abandon() {
  // Ending the job ends the decoder whatever it is doing; closing it would
  // too (kill on close), but not before the handle is gone.
  if (job_) TerminateJobObject(job_, 1);
  if (process_) TerminateProcess(process_, 1);
  CloseIf(process_);
  CloseIf(job_);
  CloseIf(toDecoder_);
  CloseIf(fromDecoder_);
  pending_ = false;
}

std::string& ModuleOverride() {
  static std::string path;
  return path;
}

std::string DecoderModulePath() {
  if (!ModuleOverride().empty()) return ModuleOverride();
  char path[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  return n && n < sizeof path ? std::string(path, n) : std::string();
}

void UseDecoderModule(std::string path) { ModuleOverride() = std::move(path); }

namespace {

// Asks, then checks every few milliseconds or at once when a message
// arrives, calling `wait` in between; whatever `wait` throws (Cancel)
// abandons the request with its decoder. kIdle when it could not be asked.
TDecoderClient::Result AskAndAwait(TDecoderClient& client, DecodeMessage kind,
                                   const std::string& path, uint64_t bytes,
                                   const std::function<void()>& wait, DecodeAnswer& answer,
                                   int fitWidth = 0, int fitHeight = 0,
                                   std::unique_ptr<DecodedDib>* picture = nullptr) {
  if (!client.Ask(kind, path, fitWidth, fitHeight, 0, bytes)) return TDecoderClient::Result::kIdle;
  try {
    for (;;) {
      std::unique_ptr<DecodedDib> dib;
      const TDecoderClient::Result r = client.Check(answer, dib);
      if (picture) *picture = std::move(dib);
      if (r != TDecoderClient::Result::kPending) return r;
      if (wait) wait();
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
  } catch (...) {
    // Cancel: the decoder may still be at it; a fresh one takes the next.
    client.Stop();
    throw;
  }
}

}  // namespace

MeasureFunction MeasureThrough(TDecoderClient& client) {
  return [&client](const std::string& file, uint64_t bytes, const std::function<void()>& wait) {
    MeasureResult r;
    DecodeAnswer a;
    if (AskAndAwait(client, DecodeMessage::kMeasure, file, bytes, wait, a) !=
        TDecoderClient::Result::kAnswered) {
      r.kind = MeasureResult::kLost;
    } else if (a.status == DecodeStatus::kDecoded) {
      r.kind = MeasureResult::kSized;
      r.width = a.ownWidth;
      r.height = a.ownHeight;
    } else {
      r.kind = MeasureResult::kFailed;
      r.message = a.message;
    }
    return r;
  };
}

std::string PlugInFilterThrough(TDecoderClient& client) {
  DecodeAnswer a;
  // A size of one byte: the bound of the smallest file, a few seconds.
  if (AskAndAwait(client, DecodeMessage::kFilter, std::string(), 1, nullptr, a) !=
          TDecoderClient::Result::kAnswered ||
      a.status != DecodeStatus::kDecoded)
    return std::string();
  return a.message;
}

bool DecodeOwnSizeThrough(TDecoderClient& client, const std::string& path, uint64_t fileBytes,
                          tk::TBitmap& picture) {
  picture.Clear();
  DecodeAnswer size;
  if (AskAndAwait(client, DecodeMessage::kMeasure, path, fileBytes, nullptr, size) !=
          TDecoderClient::Result::kAnswered ||
      size.status != DecodeStatus::kDecoded)
    return false;
  DecodeAnswer a;
  std::unique_ptr<DecodedDib> dib;
  if (AskAndAwait(client, DecodeMessage::kDecode, path, fileBytes, nullptr, a, size.ownWidth,
                  size.ownHeight, &dib) != TDecoderClient::Result::kAnswered)
    return false;
  AdoptDecoded(picture, std::move(dib), a);
  return !picture.Empty();
}

void TDecoderClient::Stop() {
  CloseIf(section_);
  Abandon();
}

}  // namespace orv
