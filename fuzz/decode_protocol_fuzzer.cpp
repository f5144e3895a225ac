// Fuzz target of the records between the saver and its decoder process:
// the saver parses what a decoder it cannot trust writes. Any bytes, cut
// anywhere, must give frames that parse or are refused, and an answer the
// saver would use must fit what it asked for; never a crash, a hang or a
// read outside a buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "decoder/DecodeProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orv::FrameReader reader;
  // Fed in two pieces, as a pipe may cut them.
  const size_t half = size / 2;
  reader.Feed(data, half);
  std::vector<uint8_t> payload;
  orv::DecodeRequest asked;
  asked.id = 1;
  asked.path = "C:\\a.jpg";
  asked.fitWidth = 640;
  asked.fitHeight = 480;
  asked.section = 4;
  asked.sectionBytes = orv::DibRowBytes(640, 32) * 480;
  for (int round = 0; round < 2; ++round) {
    while (reader.Next(payload)) {
      orv::DecodeAnswer a;
      orv::DecodeRequest r;
      orv::DecodeSetup s;
      if (orv::ParseAnswer(payload, a) && a.status == orv::DecodeStatus::kDecoded &&
          orv::AnswerFits(asked, a)) {
        // What the saver would then make a DIB section of.
        if (orv::DibRowBytes(a.width, a.bitCount) * uint64_t(a.height) > asked.sectionBytes)
          std::abort();
      }
      (void)orv::ParseRequest(payload, r);
      (void)orv::ParseSetup(payload, s);
    }
    if (round == 0) reader.Feed(data + half, size - half);
  }
  return 0;
}
