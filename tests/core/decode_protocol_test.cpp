// The records between the saver and its decoder process: every record
// comes back as it went out whatever pieces the pipe cuts it into, a
// payload that is not a sound record is refused, and an answer the saver
// may use is one that fits what it asked for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoder/DecodeProtocol.h"

namespace orv {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Payload(const Bytes& frame) { return Bytes(frame.begin() + 4, frame.end()); }

DecodeRequest Decode(uint32_t id, int w, int h, uint64_t sectionBytes) {
  DecodeRequest r;
  r.id = id;
  r.path = "C:\\写真\\IMG_0001.HEIC";
  r.fitWidth = w;
  r.fitHeight = h;
  r.flags = kDecodeSkipMissingFile;
  r.section = 0x1234;
  r.sectionBytes = sectionBytes;
  return r;
}

DecodeAnswer Decoded(uint32_t id, int w, int h, int bits) {
  DecodeAnswer a;
  a.id = id;
  a.status = DecodeStatus::kDecoded;
  a.ownWidth = 4032;
  a.ownHeight = 3024;
  a.width = w;
  a.height = h;
  a.bitCount = bits;
  a.rowBytes = uint32_t(DibRowBytes(w, bits));
  return a;
}

TEST(DecodeProtocol, RecordsSurviveAnyCutOfTheStream) {
  DecodeSetup setup;
  setup.extensions = ".bmp,.jpg,.jpeg,.png";
  setup.pluginFiles = {"C:\\saver\\plugins\\orvheif.spi", "C:\\saver\\plugins\\orvwebp.spi"};
  DecodeRequest measure = Decode(8, 0, 0, 0);
  measure.kind = DecodeMessage::kMeasure;
  measure.section = 0;
  DecodeAnswer failed;
  failed.id = 9;
  failed.message = "Susie Plugin orvheif.spi が異常終了しました";
  Bytes stream;
  for (const Bytes& f :
       {EncodeSetup(setup), EncodeRequest(Decode(7, 1920, 1080, 1 << 23)), EncodeRequest(measure),
        EncodeAnswer(Decoded(7, 1440, 1080, 24)), EncodeAnswer(failed)})
    stream.insert(stream.end(), f.begin(), f.end());
  for (size_t piece : {size_t(1), size_t(3), size_t(7), size_t(64), stream.size()}) {
    SCOPED_TRACE(piece);
    FrameReader reader;
    std::vector<Bytes> frames;
    for (size_t at = 0; at < stream.size(); at += piece) {
      reader.Feed(stream.data() + at, std::min(piece, stream.size() - at));
      Bytes p;
      while (reader.Next(p)) frames.push_back(p);
    }
    ASSERT_EQ(frames.size(), 5u);
    DecodeSetup s;
    ASSERT_TRUE(ParseSetup(frames[0], s));
    EXPECT_EQ(s.extensions, setup.extensions);
    EXPECT_EQ(s.pluginFiles, setup.pluginFiles);
    DecodeRequest r;
    ASSERT_TRUE(ParseRequest(frames[1], r));
    EXPECT_EQ(r.kind, DecodeMessage::kDecode);
    EXPECT_EQ(r.id, 7u);
    EXPECT_EQ(r.path, Decode(7, 0, 0, 0).path);
    EXPECT_EQ(r.fitWidth, 1920);
    EXPECT_EQ(r.fitHeight, 1080);
    EXPECT_EQ(r.flags, uint32_t(kDecodeSkipMissingFile));
    EXPECT_EQ(r.section, 0x1234u);
    EXPECT_EQ(r.sectionBytes, uint64_t(1) << 23);
    ASSERT_TRUE(ParseRequest(frames[2], r));
    EXPECT_EQ(r.kind, DecodeMessage::kMeasure);
    DecodeAnswer a;
    ASSERT_TRUE(ParseAnswer(frames[3], a));
    EXPECT_EQ(a.width, 1440);
    EXPECT_EQ(a.ownWidth, 4032);
    EXPECT_EQ(a.rowBytes, 4320u);
    ASSERT_TRUE(ParseAnswer(frames[4], a));
    EXPECT_EQ(a.status, DecodeStatus::kNotDecoded);
    EXPECT_EQ(a.message, failed.message);
    EXPECT_EQ(FrameKind(frames[4]), uint32_t(DecodeMessage::kAnswer));
  }
}

TEST(DecodeProtocol, PayloadsThatAreNoSoundRecordAreRefused) {
  const Bytes request = Payload(EncodeRequest(Decode(1, 100, 100, 40000)));
  const Bytes answer = Payload(EncodeAnswer(Decoded(1, 100, 100, 24)));
  auto cut = [](Bytes b, size_t n) {
    b.resize(b.size() - n);
    return b;
  };
  auto longer = [](Bytes b) {
    b.push_back(0);
    return b;
  };
  auto with = [](Bytes b, size_t at, uint8_t v) {
    b[at] = v;
    return b;
  };
  DecodeRequest r;
  DecodeAnswer a;
  DecodeSetup s;
  EXPECT_TRUE(ParseRequest(request, r));
  EXPECT_FALSE(ParseRequest(cut(request, 1), r)) << "cut short";
  EXPECT_FALSE(ParseRequest(longer(request), r)) << "bytes left over";
  EXPECT_FALSE(ParseRequest(with(request, 0, 4), r)) << "an answer is no request";
  EXPECT_FALSE(ParseRequest(with(request, 11, 0x7F), r)) << "a path longer than the payload";
  EXPECT_FALSE(ParseRequest(Payload(EncodeRequest(Decode(1, -1, 100, 1))), r)) << "a negative box";
  DecodeRequest noSection = Decode(1, 10, 10, 0);
  EXPECT_FALSE(ParseRequest(Payload(EncodeRequest(noSection)), r)) << "a decode into nothing";
  DecodeRequest noPath = Decode(1, 10, 10, 100);
  noPath.path.clear();
  EXPECT_FALSE(ParseRequest(Payload(EncodeRequest(noPath)), r)) << "no path";
  // The plug-ins' patterns are asked of no file.
  DecodeRequest filter;
  filter.kind = DecodeMessage::kFilter;
  filter.id = 3;
  EXPECT_TRUE(ParseRequest(Payload(EncodeRequest(filter)), r));
  EXPECT_EQ(r.kind, DecodeMessage::kFilter);
  EXPECT_FALSE(ParseRequest(with(Payload(EncodeRequest(filter)), 0, 6), r)) << "a kind there is not";
  EXPECT_TRUE(ParseAnswer(answer, a));
  EXPECT_FALSE(ParseAnswer(cut(answer, 1), a));
  EXPECT_FALSE(ParseAnswer(with(answer, 8, 9), a)) << "a status there is not";
  EXPECT_FALSE(ParseSetup(answer, s));
  EXPECT_FALSE(ParseSetup(Bytes{}, s));
  EXPECT_EQ(FrameKind(Bytes{1, 2}), 0u);

  // A frame that claims more than either side takes ends the stream.
  FrameReader reader;
  const uint8_t huge[] = {0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3};
  reader.Feed(huge, sizeof huge);
  Bytes p;
  EXPECT_FALSE(reader.Next(p));
  EXPECT_TRUE(reader.Broken());
}

// The saver uses the section only for an answer that fits its question.
TEST(DecodeProtocol, OnlyAnAnswerThatFitsWhatWasAskedIsUsed) {
  const DecodeRequest box = Decode(5, 1920, 1080, uint64_t(1920) * 1080 * 4);
  DecodeRequest measure = box;
  measure.kind = DecodeMessage::kMeasure;
  auto with = [](DecodeAnswer a, void (*change)(DecodeAnswer&)) {
    change(a);
    return a;
  };
  struct Case {
    const char* what;
    DecodeRequest request;
    DecodeAnswer answer;
    bool fits;
  } cases[] = {
      {"a picture within the box", box, Decoded(5, 1440, 1080, 24), true},
      {"the whole box at 32 bits", box, Decoded(5, 1920, 1080, 32), true},
      {"an answer to another request", box, Decoded(6, 1440, 1080, 24), false},
      {"wider than the box", box, Decoded(5, 1921, 1080, 24), false},
      {"higher than the box", box, Decoded(5, 100, 1081, 24), false},
      {"8 bits", box, Decoded(5, 100, 100, 8), false},
      {"no width", box, Decoded(5, 0, 100, 24), false},
      {"rows that are not DIB rows", box,
       with(Decoded(5, 101, 100, 24), [](DecodeAnswer& a) { a.rowBytes = 303; }), false},
      {"more rows than the section holds", Decode(5, 0, 0, 1000), Decoded(5, 100, 100, 24), false},
      {"no own size", box, with(Decoded(5, 10, 10, 24), [](DecodeAnswer& a) { a.ownWidth = 0; }),
       false},
      {"a measure needs no pixels", measure,
       with(Decoded(5, 0, 0, 0), [](DecodeAnswer& a) { a.rowBytes = 0; }), true},
      {"a failure says nothing more", box,
       with(Decoded(5, 99999, 99999, 1),
            [](DecodeAnswer& a) { a.status = DecodeStatus::kNotDecoded; }),
       true},
  };
  for (const Case& c : cases) EXPECT_EQ(AnswerFits(c.request, c.answer), c.fits) << c.what;
  // The plug-ins' patterns: any text a host could use, none that floods it.
  DecodeRequest filter;
  filter.kind = DecodeMessage::kFilter;
  filter.id = 4;
  DecodeAnswer patterns;
  patterns.id = 4;
  patterns.message = "*.heic;*.heif;*.avif;";
  EXPECT_TRUE(AnswerFits(filter, patterns));
  patterns.message.assign(kMaxFilterText + 1, ';');
  EXPECT_FALSE(AnswerFits(filter, patterns)) << "a filter text past its limit";
  patterns.id = 5;
  patterns.message = "*.heic;";
  EXPECT_FALSE(AnswerFits(filter, patterns)) << "a filter answering another request";
  EXPECT_EQ(DibRowBytes(101, 24), 304u);
  const struct {
    uint64_t bytes;
    uint32_t ms;
  } bounds[] = {{1, 3000}, {3u << 20, 3000},   {4u << 20, 4000},   {5u << 20, 4000},
                {0, 7000}, {40u << 20, 13000}, {68u << 20, 20000}, {uint64_t(1) << 40, 20000}};
  for (const auto& b : bounds) EXPECT_EQ(DecodeTimeBoundMs(b.bytes), b.ms) << b.bytes;
  EXPECT_EQ(DibRowBytes(101, 32), 404u);
  EXPECT_EQ(DibRowBytes(0, 24), 0u);
}

}  // namespace
}  // namespace orv
