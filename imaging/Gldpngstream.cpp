#include "imaging/Gldpngstream.h"

#include "toolkit/Exceptions.h"

namespace orv {

const char* PngErrorText(PngError error) {
  switch (error) {
    case PngError::NotPng:
      return "PNG LoadStream: Not PNG Format";
    case PngError::TwoHeaders:
      return "Read Header(PNG): appear two IHDR";
    case PngError::BadColorType:
      return "Read Header(PNG): Error ColorType";
    case PngError::BadCompression:
      return "Read Header(PNG): not support Compression";
    case PngError::BadFilterMethod:
      return "Read Header(PNG): not supprt Filter";
    case PngError::BadInterlace:
      return "Read Header(PNG): not interlace type";
    case PngError::AlphaAtLowDepth:
      return "Read Header(PNG): not Use AlphaChannel";
    case PngError::BadGrayDepth:
      return "Read Header(PNG): Error Bitdepth";
    case PngError::BadColorDepth:
      return "Read Header(PNG): Error BitDepth";
    case PngError::ZlibSetup:
      return "PNG LoadStream: Error ZLIB";
    case PngError::ReadImage:
      return "Read Image (PNG): Read Error";
    case PngError::BadHeaderLength:
      return "Read Header(PNG): Error Header Length";
    case PngError::BadSize:
      return "Read Header(PNG): Error Image Size";
    case PngError::ImageTooLarge:
      return "Read Header(PNG): Image Too Large";
    case PngError::ImageBeforeHeader:
      return "Read Image (PNG): IDAT before IHDR";
    case PngError::ChunkTooLong:
      return "PNG LoadStream: Error Chunk Length";
    case PngError::IDATSizeParam:
      return "PNG Param: Err IDAT Size(min:256  max:100000)";
    case PngError::WriterIDATSizeParam:
      return "Write PNG Param: Err IDAT Size(min:256  max:100000)";
    case PngError::WriteImage:
      return "Write Image (PNG): Write Error";
    case PngError::EmptyImage:
      return "Write Image (PNG): Empty Image";
  }
  return "PNG: Error";
}

void RaisePng(PngError error) { throw EGLDPNG(PngErrorText(error)); }

}  // namespace orv
