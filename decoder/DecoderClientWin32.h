// The saver's side of its decoder process: starts the module again with
// "/decode" in a job object (ended with the saver, no process of its own,
// a committed-memory limit) under a restricted, low-integrity token, gives
// it one request at a time and never waits for it: Check looks and
// returns. A decoder that dies, or outlives the request's time bound, is
// ended and the request counts as not decoded; the next Ask starts a
// fresh one.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "decoder/DecodeProtocol.h"
#include "search/SearchRun.h"
#include "toolkit/Bitmap.h"

namespace orv {

// How a decoder process was (to be) started, for the tests' eyes: what
// was asked of Windows and what it granted. Wine grants a job but does
// not enforce tokens or integrity levels; Windows does.
struct DecoderLaunch {
  std::string commandLine;
  DWORD jobLimitFlags = 0;
  uint64_t jobMemoryLimit = 0;
  DWORD activeProcessLimit = 0;
  bool restrictedToken = false;  // the token has no privileges but change-notify
  bool lowIntegrity = false;     // its integrity level was set to low
  bool inJob = false;            // the process was placed in the job
  bool started = false;
};

// Creates the decoder's process with `token` (null: the saver's own),
// inheriting handles, suspended. Tests put theirs in front to look at the
// token the process is given: Wine accepts it and enforces nothing, so
// only what is handed to Windows can be checked there. An empty one puts
// the default back.
using DecoderProcessCreator = std::function<bool(HANDLE token, std::string& commandLine,
                                                 DWORD flags, PROCESS_INFORMATION& pi)>;
void UseDecoderProcessCreator(DecoderProcessCreator creator);

// The picture a decode gave: a DIB section over the section the decoder
// wrote, which a tk::TBitmap can adopt as its pixels. Deleting it deletes
// the bitmap, then closes the section, in the order CreateDIBSection asks.
class DecodedDib : public tk::PixelStore {
 public:
  DecodedDib(HBITMAP bitmap, HANDLE section, void* bits);
  ~DecodedDib() override;
  DecodedDib(const DecodedDib&) = delete;
  DecodedDib& operator=(const DecodedDib&) = delete;
  HBITMAP Bitmap() const { return bitmap_; }
  void* Handle() const override { return bitmap_; }
  void Flush() const override { GdiFlush(); }

 private:
  HBITMAP bitmap_;
  HANDLE section_;
};

// Makes `picture` the picture a kDecode answer brought, without a copy
// (empty when there is none).
void AdoptDecoded(tk::TBitmap& picture, std::unique_ptr<DecodedDib> dib, const DecodeAnswer& answer);

class TDecoderClient {
 public:
  // `module`: the path of the module to start with "/decode".
  TDecoderClient(std::string module, DecodeSetup setup);
  ~TDecoderClient();
  TDecoderClient(const TDecoderClient&) = delete;
  TDecoderClient& operator=(const TDecoderClient&) = delete;

  // Hands a request to the decoder (starting one when there is none);
  // false while another is pending or when no decoder can be started. A
  // decode needs a box: the section is made for it. `fileBytes` (0 when
  // not known) sets the time bound (DecodeTimeBoundMs).
  bool Ask(DecodeMessage kind, const std::string& path, int fitWidth, int fitHeight, uint32_t flags,
           uint64_t fileBytes);

  enum class Result {
    kIdle,      // nothing asked
    kPending,   // asked, no answer yet
    kAnswered,  // `answer` holds it; `dib` the picture of a decoded kDecode
    kLost,      // the decoder died or ran over its time: ended, not decoded
  };
  // Never waits.
  Result Check(DecodeAnswer& answer, std::unique_ptr<DecodedDib>& dib);

  // Ends the decoder at once (its job with it).
  void Stop();

  const DecoderLaunch& LastLaunch() const { return launch_; }
  DWORD DecoderProcessId() const;
  // The plug-ins left out of this client's decoders because one died or
  // hung while loading them, in that order.
  const std::vector<std::string>& LeftOut() const { return left_out_; }

 private:
  // A plug-in that ends its decoder while loading is left out and the
  // question asked again, so many times for one question at most.
  static constexpr int kMaxRetries = 4;

  bool Start();
  bool Send(DecodeRequest q);
  bool LeaveOutAndRetry();
  void Abandon();

  std::string module_;
  DecodeSetup setup_;
  DecoderLaunch launch_;
  HANDLE job_ = nullptr;
  HANDLE process_ = nullptr;
  HANDLE toDecoder_ = nullptr;    // our end of its input
  HANDLE fromDecoder_ = nullptr;  // our end of its output
  FrameReader reader_;
  bool pending_ = false;
  DecodeRequest request_;
  HANDLE section_ = nullptr;
  DWORD askedAt_ = 0, bound_ = 0;
  HANDLE watch_ = nullptr;             // the page the decoder marks
  volatile long* watched_ = nullptr;   // its view here
  std::vector<std::string> left_out_;
  int retries_ = 0;
};

// The module a decoder is started from: this process's own (the saver's
// and the dialog's module), or what a test program says.
std::string DecoderModulePath();
void UseDecoderModule(std::string path);

// The search's measure through `client`, one candidate at a time: it asks,
// then checks every few milliseconds or at once when a message arrives,
// calling `wait` in between (the progress window's step, which throws
// EAbort for Cancel: the request is then abandoned with its decoder).
MeasureFunction MeasureThrough(TDecoderClient& client);

// The file patterns of the plug-ins `client`'s decoder loaded, as
// TSpiLib32::PFilter gives them ("" when it died or has none): what the
// search adds to its mask, read without loading a plug-in here.
std::string PlugInFilterThrough(TDecoderClient& client);

// `path` decoded at its own size through `client` (measured first), waited
// for: the tools' way, which have no show to keep going. False when no
// picture came, the decoder having refused it, died or run over its time.
bool DecodeOwnSizeThrough(TDecoderClient& client, const std::string& path, uint64_t fileBytes,
                          tk::TBitmap& picture);

}  // namespace orv
