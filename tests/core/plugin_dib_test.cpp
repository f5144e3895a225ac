#include "imaging/PluginDib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using orv::CheckPluginDib;
using orv::PluginDibError;
using orv::PluginDibLayout;

// A BITMAPINFOHEADER (40 bytes, little-endian) followed by `extra` bytes.
std::vector<uint8_t> Header(int32_t width, int32_t height, uint16_t bits, uint32_t compression = 0,
                            uint32_t clrUsed = 0, size_t extra = 0, uint32_t biSize = 40) {
  std::vector<uint8_t> h(40 + extra, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) h[at + i] = uint8_t(v >> (8 * i));
  };
  put32(0, biSize);
  put32(4, uint32_t(width));
  put32(8, uint32_t(height));
  h[12] = 1;
  h[14] = uint8_t(bits);
  h[15] = uint8_t(bits >> 8);
  put32(16, compression);
  put32(32, clrUsed);
  return h;
}

PluginDibError Check(const std::vector<uint8_t>& h, size_t pixelBlock,
                     PluginDibLayout* out = nullptr) {
  PluginDibLayout layout;
  const PluginDibError e = CheckPluginDib(h.data(), h.size(), pixelBlock, layout);
  if (out) *out = layout;
  return e;
}

TEST(PluginDib, AcceptsPlainPicturesAndMeasuresThem) {
  PluginDibLayout layout;
  // 3 pixels of 24 bits: 9 bytes, padded to 12 per row.
  ASSERT_EQ(Check(Header(3, 2, 24), 24, &layout), PluginDibError::kNone);
  EXPECT_EQ(layout.width, 3);
  EXPECT_EQ(layout.height, 2);
  EXPECT_FALSE(layout.topDown);
  EXPECT_EQ(layout.bitCount, 24);
  EXPECT_EQ(layout.headerBytes, 40u);
  EXPECT_EQ(layout.pixelBytes, 24u);

  ASSERT_EQ(Check(Header(5, -7, 32), 5 * 4 * 7, &layout), PluginDibError::kNone);
  EXPECT_EQ(layout.height, 7);
  EXPECT_TRUE(layout.topDown);

  // 1-bit, 33 pixels wide: 5 bytes, padded to 8.
  ASSERT_EQ(Check(Header(33, 1, 1, 0, 0, 8), 8, &layout), PluginDibError::kNone);
  EXPECT_EQ(layout.pixelBytes, 8u);
}

TEST(PluginDib, PixelBlockMustHoldEveryRow) {
  EXPECT_EQ(Check(Header(3, 2, 24), 23), PluginDibError::kPixelBlockTruncated);
  EXPECT_EQ(Check(Header(3, -2, 24), 23), PluginDibError::kPixelBlockTruncated);
  EXPECT_EQ(Check(Header(3, 2, 24), 0), PluginDibError::kPixelBlockTruncated);
}

TEST(PluginDib, HeaderBlockMustHoldHeaderMasksAndColourTable) {
  PluginDibLayout layout;
  EXPECT_EQ(Check(std::vector<uint8_t>(39, 0), 100), PluginDibError::kHeaderBlockTooSmall);
  EXPECT_EQ(CheckPluginDib(nullptr, 0, 100, layout), PluginDibError::kHeaderBlockTooSmall);

  // 8 bits without biClrUsed means 256 entries.
  EXPECT_EQ(Check(Header(4, 1, 8, 0, 0, 1023), 4), PluginDibError::kHeaderBlockTruncated);
  ASSERT_EQ(Check(Header(4, 1, 8, 0, 0, 1024), 4, &layout), PluginDibError::kNone);
  EXPECT_EQ(layout.headerBytes, 40u + 1024u);
  // biClrUsed 2 needs only 8 bytes of table.
  EXPECT_EQ(Check(Header(4, 1, 8, 0, 2, 8), 4), PluginDibError::kNone);
  EXPECT_EQ(Check(Header(4, 1, 8, 0, 2, 7), 4), PluginDibError::kHeaderBlockTruncated);

  // Bit fields after a plain header take three masks.
  EXPECT_EQ(Check(Header(2, 1, 16, 3, 0, 11), 4), PluginDibError::kHeaderBlockTruncated);
  EXPECT_EQ(Check(Header(2, 1, 16, 3, 0, 12), 4), PluginDibError::kNone);
  // A larger header version carries them inside.
  EXPECT_EQ(Check(Header(2, 1, 32, 3, 0, 68, 108), 8), PluginDibError::kNone);
}

TEST(PluginDib, RejectsNonsenseHeaders) {
  EXPECT_EQ(Check(Header(1, 1, 24, 0, 0, 0, 39), 4), PluginDibError::kBadHeaderSize);
  EXPECT_EQ(Check(Header(1, 1, 24, 0, 0, 0, 1000), 4), PluginDibError::kBadHeaderSize);
  EXPECT_EQ(Check(Header(0, 1, 24), 4), PluginDibError::kBadDimensions);
  EXPECT_EQ(Check(Header(-1, 1, 24), 4), PluginDibError::kBadDimensions);
  EXPECT_EQ(Check(Header(1, 0, 24), 4), PluginDibError::kBadDimensions);
  EXPECT_EQ(Check(Header(1, INT32_MIN, 24), 4), PluginDibError::kBadDimensions);
  EXPECT_EQ(Check(Header(1, 1, 7), 4), PluginDibError::kBadBitCount);
  EXPECT_EQ(Check(Header(1, 1, 0), 4), PluginDibError::kBadBitCount);
  EXPECT_EQ(Check(Header(1, 1, 8, 1 /* RLE8 */, 0, 1024), 4), PluginDibError::kBadCompression);
  EXPECT_EQ(Check(Header(1, 1, 24, 3), 4), PluginDibError::kBadCompression);
  EXPECT_EQ(Check(Header(1, 1, 8, 0, 257, 2000), 4), PluginDibError::kColorTableTooLarge);
  EXPECT_EQ(Check(Header(1, 1, 4, 0, 17, 2000), 4), PluginDibError::kColorTableTooLarge);
  EXPECT_EQ(Check(Header(1, 1, 24, 0, 100000), 4), PluginDibError::kColorTableTooLarge);
}

TEST(PluginDib, AbsurdSizesFailWithoutWrappingAround) {
  // The byte count of these would wrap a 64-bit product or a 32-bit size;
  // a pixel block claiming to be huge must still not pass them.
  const size_t huge = SIZE_MAX;
  EXPECT_EQ(Check(Header(INT32_MAX, INT32_MAX, 32), huge), PluginDibError::kPictureTooLarge);
  EXPECT_EQ(Check(Header(100000, 100000, 24), huge), PluginDibError::kPictureTooLarge);
  EXPECT_EQ(Check(Header(1, -INT32_MAX, 32), huge), PluginDibError::kPictureTooLarge);
  // Just inside the limit is fine when the block really is that large.
  EXPECT_EQ(Check(Header(8192, 16384, 32), size_t(8192) * 4 * 16384), PluginDibError::kNone);
}

}  // namespace
