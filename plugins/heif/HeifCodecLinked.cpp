// Natively the wrappers are linked into the program itself.
#include "plugins/heif/HeifCodec.h"

namespace orvspi {

const HeifCodecApi* HeifCodec() { return LinkedHeifCodec(); }

}  // namespace orvspi
