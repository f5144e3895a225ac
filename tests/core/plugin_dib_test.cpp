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
  EXPECT_EQ(Check(Header(2, 1, 16, 3, 0, 12, 52), 4), PluginDibError::kNone);
  // GDI takes the masks from bytes 40 to 51 after any header shorter than
  // that: headers of 41 to 51 bytes would have it read past our copy.
  for (uint32_t biSize : {41u, 44u, 48u, 51u}) {
    SCOPED_TRACE(biSize);
    EXPECT_EQ(Check(Header(2, 1, 16, 3, 0, 40, biSize), 4), PluginDibError::kBadHeaderSize);
    // Without bit fields there are no masks to read: such a header passes.
    EXPECT_EQ(Check(Header(2, 1, 24, 0, 0, 40, biSize), 8), PluginDibError::kNone);
  }
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
  EXPECT_EQ(Check(Header(1, 1, 24, 3), 4), PluginDibError::kBadCompression);
  EXPECT_EQ(Check(Header(1, 1, 24, 0, 100000), 4), PluginDibError::kColorTableTooLarge);
}

// Colour counts beyond the bit depth are clamped as GDI clamps them; the
// table then needs only the entries the depth can index.
TEST(PluginDib, ColourCountAboveTheDepthIsClamped) {
  struct Case {
    uint16_t bits;
    uint32_t clrUsed;
    size_t table;
    uint32_t colors;
  } cases[] = {{8, 257, 1024, 256}, {8, 100000, 1024, 256}, {4, 17, 64, 16},
               {1, 3, 8, 2},        {8, 0, 1024, 256},      {8, 5, 20, 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, biClrUsed " << c.clrUsed);
    PluginDibLayout layout;
    ASSERT_EQ(Check(Header(1, 1, c.bits, 0, c.clrUsed, c.table), 4, &layout),
              PluginDibError::kNone);
    EXPECT_EQ(layout.colors, c.colors);
    EXPECT_EQ(layout.headerBytes, 40 + c.table);
    EXPECT_EQ(Check(Header(1, 1, c.bits, 0, c.clrUsed, c.table - 1), 4),
              PluginDibError::kHeaderBlockTruncated);
  }
}

// Run-length data are as long as biSizeImage says, which must fit the block.
TEST(PluginDib, RunLengthPicturesFitTheirBlock) {
  auto rle = [](uint32_t compression, uint16_t bits, int32_t height, uint32_t sizeImage) {
    std::vector<uint8_t> h = Header(100, height, bits, compression, 0, bits == 8 ? 1024 : 64);
    for (int i = 0; i < 4; ++i) h[20 + i] = uint8_t(sizeImage >> (8 * i));
    return h;
  };
  struct Case {
    uint32_t compression;
    uint16_t bits;
    int32_t height;
    uint32_t sizeImage;
    size_t block;
    PluginDibError want;
  } cases[] = {
      {1, 8, 50, 300, 300, PluginDibError::kNone},  // far smaller than 100 x 50
      {2, 4, 50, 20, 4096, PluginDibError::kNone},
      {1, 8, 50, 301, 300, PluginDibError::kBadCompressedSize},
      {1, 8, 50, 0, 300, PluginDibError::kBadCompressedSize},
      {1, 8, -50, 300, 300, PluginDibError::kBadCompression},  // GDI: bottom-up only
      {1, 4, 50, 300, 300, PluginDibError::kBadCompression},
      {2, 8, 50, 300, 300, PluginDibError::kBadCompression},
      {1, 24, 50, 300, 300, PluginDibError::kBadCompression},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "compression " << c.compression << ", " << c.bits
                                    << " bits, height " << c.height << ", size "
                                    << c.sizeImage << ", block " << c.block);
    PluginDibLayout layout;
    EXPECT_EQ(Check(rle(c.compression, c.bits, c.height, c.sizeImage), c.block, &layout), c.want);
    if (c.want == PluginDibError::kNone) {
      EXPECT_EQ(layout.pixelBytes, c.sizeImage);
    }
  }
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
