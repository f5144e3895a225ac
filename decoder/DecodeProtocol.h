// What the saver and its decoder process say to each other: plain records,
// each sent as one frame (a 32-bit little-endian length, then the payload)
// over a pipe. The saver trusts nothing the decoder says: an answer is
// checked against what was asked (AnswerFits) before a single pixel of the
// shared section is used, because a decoder taken over by a hostile file
// may say anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orv {

enum class DecodeMessage : uint32_t {
  kSetup = 1,    // saver -> decoder, once: how files are told apart, plug-ins
  kDecode = 2,   // saver -> decoder: a picture into the section
  kMeasure = 3,  // saver -> decoder: a picture's upright size only (the search)
  kAnswer = 4,   // decoder -> saver
  kFilter = 5,   // saver -> decoder: the file patterns of its plug-ins (the search's mask)
};

// How the decoder tells files apart and which plug-ins it loads.
struct DecodeSetup {
  std::string extensions;                // ".bmp,.jpg,.jpeg,.png" as comma text
  std::vector<std::string> pluginFiles;  // full paths, in the order they are asked
};

enum DecodeFlags : uint32_t {
  kDecodeSkipMissingFile = 1,  // a file that does not exist is answered at once
};

struct DecodeRequest {
  DecodeMessage kind = DecodeMessage::kDecode;  // kDecode or kMeasure
  uint32_t id = 0;
  std::string path;
  // The box the picture is brought into when larger (0 x 0: its own size).
  int32_t fitWidth = 0, fitHeight = 0;
  uint32_t flags = 0;
  // kDecode: the section the pixels go to, as a handle value in the
  // decoder's own process, and its size in bytes.
  uint64_t section = 0;
  uint64_t sectionBytes = 0;
};

enum class DecodeStatus : uint32_t {
  kDecoded = 0,     // pixels in the section (kDecode) or the size (kMeasure)
  kNotDecoded = 1,  // no decoder took it, or it failed: not shown
  kMissing = 2,     // the file does not exist
  kTooLarge = 3,    // decoded, but it does not fit the section
};

struct DecodeAnswer {
  uint32_t id = 0;
  DecodeStatus status = DecodeStatus::kNotDecoded;
  int32_t ownWidth = 0, ownHeight = 0;  // the picture's upright size
  // kDecode: the DIB in the section, bottom-up rows of rowBytes bytes.
  int32_t width = 0, height = 0, bitCount = 0;
  uint32_t rowBytes = 0;
  std::string message;  // why it was not decoded, for the search's report;
                        // kFilter: the plug-ins' patterns ("*.heic;*.heif;...")
};

// Longest path a request carries (a Windows path is shorter).
constexpr size_t kMaxDecodePath = 32768;
// Longest filter text an answer to kFilter may carry.
constexpr size_t kMaxFilterText = 64 * 1024;
// Largest frame either side accepts; a longer one ends the conversation.
constexpr uint32_t kMaxDecodeFrame = 1u << 20;

std::vector<uint8_t> EncodeSetup(const DecodeSetup& setup);
std::vector<uint8_t> EncodeRequest(const DecodeRequest& request);
std::vector<uint8_t> EncodeAnswer(const DecodeAnswer& answer);

// The kind of a frame's payload, or 0 when it has none.
uint32_t FrameKind(const std::vector<uint8_t>& payload);
// Each parses one frame's payload; false when it is not a sound record of
// its kind (short, long, out of range).
bool ParseSetup(const std::vector<uint8_t>& payload, DecodeSetup& setup);
bool ParseRequest(const std::vector<uint8_t>& payload, DecodeRequest& request);
bool ParseAnswer(const std::vector<uint8_t>& payload, DecodeAnswer& answer);

// Gathers the bytes a pipe gives, in pieces of any size, into frames.
class FrameReader {
 public:
  void Feed(const uint8_t* data, size_t size);
  // Takes the next whole frame's payload; false when none is whole yet.
  bool Next(std::vector<uint8_t>& payload);
  // A frame that claimed more than kMaxDecodeFrame: the stream is not ours.
  bool Broken() const { return broken_; }

 private:
  std::vector<uint8_t> pending_;
  bool broken_ = false;
};

// The bytes of a bottom-up DIB row of `width` pixels at `bitCount` bits.
uint64_t DibRowBytes(int64_t width, int bitCount);

// How long a request may take before its decoder is ended: a few seconds
// for a phone photo, more for a large file, 20 s at most; `fileBytes` 0
// (not known) gives the bound of a 16 MB file.
uint32_t DecodeTimeBoundMs(uint64_t fileBytes);

// Whether `answer` to `request` may be used: it answers that request, and
// a decoded picture is a 24- or 32-bit DIB of sound size, within the box
// asked for, whose rows are DIB rows and fit the section.
bool AnswerFits(const DecodeRequest& request, const DecodeAnswer& answer);

}  // namespace orv
