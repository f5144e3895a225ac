// Heap storage of bitmap pixels for the native build.
#include <cstdlib>

#include "toolkit/Bitmap.h"
#include "toolkit/Exceptions.h"

namespace tk {

namespace {
class HeapPixelStore : public PixelStore {
 public:
  explicit HeapPixelStore(size_t bytes) {
    bits_ = static_cast<uint8_t*>(std::calloc(bytes ? bytes : 1, 1));
    if (!bits_) throw EOutOfResources("Out of system resources");
  }
  ~HeapPixelStore() override { std::free(bits_); }
};
}  // namespace

std::unique_ptr<PixelStore> NewPixelStore(int width, int height, TPixelFormat pf,
                                          const std::vector<TPalEntry>&) {
  return std::make_unique<HeapPixelStore>(
      static_cast<size_t>(RowBytes(width, PixelFormatBits(pf))) * static_cast<size_t>(height));
}

}  // namespace tk
