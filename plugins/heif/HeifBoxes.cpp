#include "plugins/heif/HeifBoxes.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace orvspi {

namespace {

// Big-endian fields of a box body; any read past the end fails the reader
// for good, so a parser checks `ok` once at the end of a box.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool ok() const { return ok_; }
  size_t left() const { return ok_ ? size_ - at_ : 0; }
  size_t at() const { return at_; }
  const uint8_t* here() const { return data_ + at_; }
  uint64_t U(int bytes) {
    if (!ok_ || bytes < 0 || size_t(bytes) > size_ - at_) {
      ok_ = false;
      return 0;
    }
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | data_[at_++];
    return v;
  }
  uint8_t U8() { return uint8_t(U(1)); }
  uint16_t U16() { return uint16_t(U(2)); }
  uint32_t U32() { return uint32_t(U(4)); }
  void Skip(size_t n) {
    if (!ok_ || n > size_ - at_) {
      ok_ = false;
      return;
    }
    at_ += n;
  }
  void Fail() { ok_ = false; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  bool ok_ = true;
};

struct Box {
  uint32_t type = 0;
  const uint8_t* body = nullptr;
  size_t size = 0;
};

// The boxes inside `r`'s remaining bytes; false when one runs past them.
bool ChildBoxes(Reader r, std::vector<Box>& out) {
  while (r.left() > 0) {
    const size_t start = r.at();
    uint64_t size = r.U32();
    const uint32_t type = r.U32();
    if (size == 1) size = r.U(8);
    if (!r.ok()) return false;
    const size_t header = r.at() - start;
    if (size == 0) size = header + r.left();
    if (size < header || size - header > r.left()) return false;
    out.push_back({type, r.here(), size_t(size - header)});
    r.Skip(size_t(size - header));
  }
  return true;
}

// A full box's version and flags.
struct Full {
  int version;
  uint32_t flags;
};
Full ReadFull(Reader& r) {
  const uint32_t v = r.U32();
  return {int(v >> 24), v & 0xFFFFFF};
}

HeifItem& ItemFor(HeifHeader& h, uint32_t id) {
  HeifItem& item = h.items[id];
  item.id = id;
  return item;
}

bool ParsePitm(Reader r, HeifHeader& h) {
  const Full f = ReadFull(r);
  h.primaryId = f.version == 0 ? r.U16() : r.U32();
  return r.ok();
}

bool ParseIinf(Reader r, HeifHeader& h) {
  const Full f = ReadFull(r);
  const uint32_t count = f.version == 0 ? r.U16() : r.U32();
  std::vector<Box> boxes;
  if (!r.ok() || !ChildBoxes(r, boxes) || boxes.size() < count) return false;
  for (const Box& b : boxes) {
    if (b.type != FourCC("infe")) continue;
    Reader e(b.body, b.size);
    const Full ef = ReadFull(e);
    // Versions 0 and 1 name no item type: such an item is no picture.
    if (ef.version < 2) continue;
    const uint32_t id = ef.version == 2 ? e.U16() : e.U32();
    e.U16();  // protection index
    const uint32_t type = e.U32();
    if (!e.ok()) return false;
    ItemFor(h, id).type = type;
  }
  return true;
}

bool ParseIloc(Reader r, HeifHeader& h) {
  const Full f = ReadFull(r);
  if (f.version > 2) return false;
  const uint8_t sizes1 = r.U8(), sizes2 = r.U8();
  const int offsetSize = sizes1 >> 4, lengthSize = sizes1 & 15, baseSize = sizes2 >> 4;
  const int indexSize = f.version >= 1 ? sizes2 & 15 : 0;
  for (int s : {offsetSize, lengthSize, baseSize, indexSize})
    if (s != 0 && s != 4 && s != 8) return false;
  const uint32_t count = f.version < 2 ? r.U16() : r.U32();
  for (uint32_t i = 0; i < count && r.ok(); ++i) {
    const uint32_t id = f.version < 2 ? r.U16() : r.U32();
    int method = 0;
    if (f.version >= 1) method = r.U16() & 15;
    r.U16();  // data reference index
    const uint64_t base = r.U(baseSize);
    const uint16_t extents = r.U16();
    if (!r.ok()) return false;
    HeifItem& item = ItemFor(h, id);
    item.constructionMethod = method;
    item.baseOffset = base;
    item.extents.clear();
    for (uint16_t e = 0; e < extents && r.ok(); ++e) {
      r.U(indexSize);
      HeifExtent x;
      x.offset = r.U(offsetSize);
      x.length = r.U(lengthSize);
      item.extents.push_back(x);
    }
  }
  return r.ok();
}

bool ParseIref(Reader r, HeifHeader& h) {
  const Full f = ReadFull(r);
  std::vector<Box> refs;
  if (!r.ok() || !ChildBoxes(r, refs)) return false;
  for (const Box& b : refs) {
    Reader e(b.body, b.size);
    const int idBytes = f.version == 0 ? 2 : 4;
    const uint32_t from = uint32_t(e.U(idBytes));
    const uint16_t count = e.U16();
    std::vector<uint32_t> to;
    for (uint16_t i = 0; i < count && e.ok(); ++i) to.push_back(uint32_t(e.U(idBytes)));
    if (!e.ok()) return false;
    if (b.type == FourCC("dimg")) {
      std::vector<uint32_t>& list = ItemFor(h, from).derivedFrom;
      list.insert(list.end(), to.begin(), to.end());
    } else if (b.type == FourCC("auxl")) {
      // `from` is an auxiliary picture of the items in `to`; whether it is
      // their alpha plane its `auxC` says.
      for (uint32_t id : to) h.auxiliaryOf.emplace_back(from, id);
    }
  }
  return true;
}

bool IsAlphaUrn(const uint8_t* text, size_t size) {
  static const char* const kUrns[] = {"urn:mpeg:hevc:2015:auxid:1",
                                      "urn:mpeg:mpegB:cicp:systems:auxiliary:alpha"};
  for (const char* urn : kUrns) {
    const size_t n = std::strlen(urn);
    if (size >= n + 1 && std::memcmp(text, urn, n) == 0 && text[n] == 0) return true;
  }
  return false;
}

// libheif's fractions, step for step: a clean aperture's edges are found
// with this arithmetic (its halving of large terms and its truncating
// divisions included), and a size that is to agree with its decode must be
// found the same way.
struct Fraction {
  int32_t num = 0, den = 1;
  static constexpr int32_t kMax = 0x10000;
  static Fraction Of32(int32_t n, int32_t d) {
    Fraction f;
    f.num = n;
    f.den = d;
    while (f.den > kMax || f.den < -kMax) f.num /= 2, f.den /= 2;
    while (f.den > 1 && (f.num > kMax || f.num < -kMax)) f.num /= 2, f.den /= 2;
    return f;
  }
  static Fraction Of64(int64_t n, int64_t d) {
    while (n < INT32_MIN || n > INT32_MAX || d < INT32_MIN || d > INT32_MAX) {
      n = (n + (n >= 0 ? 1 : -1)) / 2;
      d = (d + (d >= 0 ? 1 : -1)) / 2;
    }
    Fraction f;
    f.num = int32_t(n);
    f.den = int32_t(d);
    return f;
  }
  Fraction Plus(const Fraction& b, int sign) const {
    if (den == b.den) return Of64(int64_t(num) + sign * int64_t(b.num), den);
    return Of64(int64_t(num) * b.den + sign * int64_t(b.num) * den, int64_t(den) * b.den);
  }
  Fraction PlusInt(int v) const { return Of64(num + v * int64_t(den), den); }
  Fraction Over(int v) const { return Of64(num, int64_t(den) * v); }
  int32_t RoundDown() const { return num / den; }
  int32_t Round() const { return int32_t((num + int64_t(den) / 2) / den); }
};

// The size a clean aperture leaves of a picture `width` x `height`, or
// false when libheif would not decode it, or not at its declared size.
bool CleanApertureSize(Reader r, uint32_t width, uint32_t height, int& outW, int& outH) {
  uint32_t v[8];
  for (uint32_t& x : v) x = r.U32();
  if (!r.ok() || width == 0 || height == 0) return false;
  for (int i : {0, 1, 2, 3, 5, 7})
    if (v[i] > uint32_t(INT32_MAX)) return false;
  const Fraction cw = Fraction::Of32(int32_t(v[0]), int32_t(v[1]));
  const Fraction ch = Fraction::Of32(int32_t(v[2]), int32_t(v[3]));
  const Fraction ox = Fraction::Of32(int32_t(v[4]), int32_t(v[5]));
  const Fraction oy = Fraction::Of32(int32_t(v[6]), int32_t(v[7]));
  if (cw.den == 0 || ch.den == 0 || ox.den == 0 || oy.den == 0) return false;
  if (width - 1 > uint32_t(INT32_MAX) || height - 1 > uint32_t(INT32_MAX)) return false;
  const Fraction pcX = ox.Plus(Fraction::Of32(int32_t(width - 1), 2), 1);
  const Fraction pcY = oy.Plus(Fraction::Of32(int32_t(height - 1), 2), 1);
  int left = pcX.Plus(cw.PlusInt(-1).Over(2), -1).RoundDown();
  int right = cw.PlusInt(-1).PlusInt(left).Round();
  int top = pcY.Plus(ch.PlusInt(-1).Over(2), -1).Round();
  int bottom = ch.PlusInt(-1).PlusInt(top).Round();
  if (left < 0) left = 0;
  if (top < 0) top = 0;
  if (right < 0 || uint32_t(right) >= width) right = int(width - 1);
  if (bottom < 0 || uint32_t(bottom) >= height) bottom = int(height - 1);
  if (left > right || top > bottom) return false;
  outW = right - left + 1;
  outH = bottom - top + 1;
  // libheif declares the picture at the aperture's rounded size and crops
  // at the rounded edges; where the two differ the decode is refused
  // (its canvas is not the declared size), so there is no size to give.
  return outW == cw.Round() && outH == ch.Round();
}

bool ParseIprp(Reader r, HeifHeader& h) {
  std::vector<Box> boxes;
  if (!ChildBoxes(r, boxes)) return false;
  std::vector<Box> props;
  for (const Box& b : boxes) {
    if (b.type == FourCC("ipco") && !ChildBoxes(Reader(b.body, b.size), props)) return false;
  }
  std::vector<uint32_t> alphaPlanes;
  for (const Box& b : boxes) {
    if (b.type != FourCC("ipma")) continue;
    Reader e(b.body, b.size);
    const Full f = ReadFull(e);
    const uint32_t count = e.U32();
    for (uint32_t i = 0; i < count && e.ok(); ++i) {
      const uint32_t id = f.version < 1 ? e.U16() : e.U32();
      const uint8_t n = e.U8();
      if (!e.ok()) return false;
      HeifItem& item = ItemFor(h, id);
      for (uint8_t k = 0; k < n && e.ok(); ++k) {
        const uint32_t index = (f.flags & 1) ? (e.U16() & 0x7FFF) : (e.U8() & 0x7F);
        if (!e.ok()) return false;
        if (index == 0) continue;  // no property
        if (index > props.size()) return false;
        const Box& p = props[index - 1];
        Reader pr(p.body, p.size);
        if (p.type == FourCC("ispe")) {
          ReadFull(pr);
          item.width = pr.U32();
          item.height = pr.U32();
          if (!pr.ok()) return false;
          item.hasSize = true;
        } else if (p.type == FourCC("irot")) {
          HeifTransform t;
          t.quarterTurns = pr.U8() & 3;
          if (!pr.ok()) return false;
          item.transforms.push_back(t);
        } else if (p.type == FourCC("imir")) {
          HeifTransform t;
          t.kind = HeifTransform::kMirror;
          item.transforms.push_back(t);
        } else if (p.type == FourCC("clap")) {
          HeifTransform t;
          t.kind = HeifTransform::kCrop;
          // The aperture is measured on the picture as the transformations
          // before it left it: its box is sized once every `ispe` is read.
          t.property = index;
          item.transforms.push_back(t);
        } else if (p.type == FourCC("auxC")) {
          ReadFull(pr);
          if (pr.ok() && IsAlphaUrn(pr.here(), pr.left())) alphaPlanes.push_back(id);
        }
      }
    }
    if (!e.ok()) return false;
  }
  // Size the clean apertures now that every item's `ispe` is known.
  for (auto& entry : h.items) {
    HeifItem& item = entry.second;
    uint32_t w = item.width, hgt = item.height;
    for (HeifTransform& t : item.transforms) {
      if (t.kind == HeifTransform::kRotate && (t.quarterTurns & 1)) std::swap(w, hgt);
      if (t.kind != HeifTransform::kCrop) continue;
      const Box& p = props[size_t(t.property) - 1];
      int cw = 0, ch = 0;
      if (!item.hasSize || !CleanApertureSize(Reader(p.body, p.size), w, hgt, cw, ch)) {
        // libheif refuses to decode such a picture: it has no size.
        t.cropWidth = t.cropHeight = -1;
        continue;
      }
      t.cropWidth = cw;
      t.cropHeight = ch;
      w = uint32_t(cw);
      hgt = uint32_t(ch);
    }
  }
  for (uint32_t id : alphaPlanes) h.alphaPlanes.push_back(id);
  return true;
}

// Reads `meta`'s children into `h`.
bool ParseMeta(const uint8_t* body, size_t size, uint64_t metaBodyOffset, HeifHeader& h) {
  Reader r(body, size);
  ReadFull(r);
  std::vector<Box> boxes;
  if (!r.ok() || !ChildBoxes(r, boxes)) return false;
  bool pict = false, items = false;
  for (const Box& b : boxes) {
    Reader br(b.body, b.size);
    if (b.type == FourCC("hdlr")) {
      ReadFull(br);
      br.U32();  // pre-defined
      pict = br.U32() == FourCC("pict") && br.ok();
    } else if (b.type == FourCC("pitm")) {
      if (!ParsePitm(br, h)) return false;
    } else if (b.type == FourCC("iinf")) {
      if (!ParseIinf(br, h)) return false;
      items = true;
    } else if (b.type == FourCC("iloc")) {
      if (!ParseIloc(br, h)) return false;
    } else if (b.type == FourCC("iref")) {
      if (!ParseIref(br, h)) return false;
    } else if (b.type == FourCC("iprp")) {
      if (!ParseIprp(br, h)) return false;
    } else if (b.type == FourCC("idat")) {
      h.idatOffset = metaBodyOffset + uint64_t(b.body - body);
      h.idatSize = b.size;
    }
  }
  return pict && items && h.primaryId != 0;
}

uint32_t ReadU32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The first `n` bytes of an item's data (fewer when it has fewer); false
// when they lie outside the file or the item's construction is not one a
// derivation's data may use.
bool ReadItemData(ByteSource& src, const HeifHeader& h, const HeifItem& item, size_t n,
                  std::vector<uint8_t>& out) {
  out.clear();
  for (const HeifExtent& x : item.extents) {
    if (out.size() >= n) break;
    uint64_t start = 0, limit = 0;
    if (item.constructionMethod == 0) {
      start = item.baseOffset + x.offset;
      limit = src.Size();
    } else if (item.constructionMethod == 1) {
      if (item.baseOffset + x.offset > h.idatSize) return false;
      start = h.idatOffset + item.baseOffset + x.offset;
      limit = h.idatOffset + h.idatSize;
    } else {
      return false;
    }
    if (start < item.baseOffset || start > limit) return false;
    uint64_t length = x.length ? x.length : limit - start;
    if (length > limit - start) return false;
    const size_t take = size_t(std::min<uint64_t>(length, n - out.size()));
    const size_t at = out.size();
    out.resize(at + take);
    if (!src.Read(start, take, out.data() + at)) return false;
  }
  return true;
}

// A grid's or an overlay's canvas size, from its item data.
bool DerivedCanvas(ByteSource& src, const HeifHeader& h, const HeifItem& item, uint32_t& w,
                   uint32_t& ht, int& rows, int& columns) {
  std::vector<uint8_t> data;
  if (!ReadItemData(src, h, item, 32, data)) return false;
  Reader r(data.data(), data.size());
  r.U8();  // version
  const uint8_t flags = r.U8();
  const int field = (flags & 1) ? 4 : 2;
  rows = columns = 0;
  if (item.type == FourCC("grid")) {
    rows = r.U8() + 1;
    columns = r.U8() + 1;
  } else {
    r.Skip(8);  // the canvas fill value
  }
  w = uint32_t(r.U(field));
  ht = uint32_t(r.U(field));
  return r.ok();
}

struct Walk {
  ByteSource& src;
  const HeifHeader& h;
  uint64_t maxPixels;
  std::vector<uint32_t> path;  // the items on the way from the primary
  std::set<uint32_t> done;     // items already found sound

  bool Sound(const HeifItem& item) const {
    return item.hasSize && item.width > 0 && item.height > 0 &&
           uint64_t(item.width) * item.height <= maxPixels;
  }

  SpiResult Visit(uint32_t id) {
    if (std::find(path.begin(), path.end(), id) != path.end()) return SpiResult::kBrokenData;
    if (done.count(id)) return SpiResult::kOk;
    if (int(path.size()) >= kMaxHeifDerivationDepth) return SpiResult::kBrokenData;
    const HeifItem* item = h.Find(id);
    if (!item || !Sound(*item)) return SpiResult::kBrokenData;
    const bool grid = item->type == FourCC("grid");
    const bool overlay = item->type == FourCC("iovl");
    const bool identity = item->type == FourCC("iden");
    // Every item's references are followed, not only those of the derived
    // kinds: libheif's own cycle check walks them all, without a bound on
    // its work, once it is given the file.
    if (grid || overlay || identity || !item->derivedFrom.empty()) {
      if (item->derivedFrom.empty()) return SpiResult::kBrokenData;
      if (identity && item->derivedFrom.size() != 1) return SpiResult::kBrokenData;
      uint32_t w = 0, ht = 0;
      int rows = 0, columns = 0;
      if (grid || overlay) {
        if (!DerivedCanvas(src, h, *item, w, ht, rows, columns)) return SpiResult::kBrokenData;
        // The canvas must be the size the item declares: that is the size
        // the host's budget was checked against.
        if (w != item->width || ht != item->height) return SpiResult::kBrokenData;
        if (grid && item->derivedFrom.size() != size_t(rows) * size_t(columns))
          return SpiResult::kBrokenData;
      }
      path.push_back(id);
      uint64_t layerPixels = 0;
      for (uint32_t from : item->derivedFrom) {
        const SpiResult r = Visit(from);
        if (r != SpiResult::kOk) return r;
        const HeifItem* part = h.Find(from);
        layerPixels += uint64_t(part->width) * part->height;
        if (overlay && layerPixels > maxPixels) return SpiResult::kBrokenData;
      }
      path.pop_back();
      if (grid) {
        // libheif lays tiles of the first tile's size; tiles that do not
        // reach the canvas's edge, or a row or column wholly outside it,
        // make work the picture does not show.
        const HeifItem* tile = h.Find(item->derivedFrom.front());
        const uint64_t tw = tile->width, th = tile->height;
        if (tw * uint64_t(columns) < w || th * uint64_t(rows) < ht ||
            tw * uint64_t(columns - 1) >= w || th * uint64_t(rows - 1) >= ht)
          return SpiResult::kBrokenData;
      }
    }
    done.insert(id);
    return SpiResult::kOk;
  }
};

}  // namespace

const HeifItem* HeifHeader::Find(uint32_t id) const {
  const auto it = items.find(id);
  return it == items.end() ? nullptr : &it->second;
}

HeifHeaderStatus ReadHeifHeader(ByteSource& src, HeifHeader& header) {
  header = HeifHeader();
  const uint64_t size = src.Size();
  uint64_t at = 0;
  bool first = true;
  while (at + 8 <= size) {
    uint8_t head[16];
    if (!src.Read(at, 8, head)) return HeifHeaderStatus::kBroken;
    uint64_t boxSize = ReadU32(head);
    const uint32_t type = ReadU32(head + 4);
    uint64_t headerSize = 8;
    if (boxSize == 1) {
      if (!src.Read(at + 8, 8, head + 8)) return HeifHeaderStatus::kBroken;
      boxSize = uint64_t(ReadU32(head + 8)) << 32 | ReadU32(head + 12);
      headerSize = 16;
    } else if (boxSize == 0) {
      boxSize = size - at;
    }
    if (first && type != FourCC("ftyp")) return HeifHeaderStatus::kNotHeif;
    first = false;
    if (boxSize < headerSize || boxSize > size - at) return HeifHeaderStatus::kBroken;
    if (type == FourCC("meta")) {
      const uint64_t bodySize = boxSize - headerSize;
      if (bodySize > kMaxHeifMetaBytes) return HeifHeaderStatus::kBroken;
      std::vector<uint8_t> body(static_cast<size_t>(bodySize));
      if (!src.Read(at + headerSize, body.size(), body.data())) return HeifHeaderStatus::kBroken;
      if (!ParseMeta(body.data(), body.size(), at + headerSize, header))
        return HeifHeaderStatus::kBroken;
      // An item has alpha when an alpha plane (so its `auxC` says) refers
      // to it.
      for (const auto& ref : header.auxiliaryOf) {
        const auto& planes = header.alphaPlanes;
        if (std::find(planes.begin(), planes.end(), ref.first) == planes.end()) continue;
        auto item = header.items.find(ref.second);
        if (item != header.items.end()) item->second.alpha = true;
      }
      return header.Find(header.primaryId) ? HeifHeaderStatus::kOk : HeifHeaderStatus::kBroken;
    }
    at += boxSize;
  }
  return first ? HeifHeaderStatus::kNotHeif : HeifHeaderStatus::kBroken;
}

bool HeifPrimarySize(const HeifHeader& header, int& width, int& height) {
  const HeifItem* item = header.Find(header.primaryId);
  if (!item || !item->hasSize || item->width == 0 || item->height == 0 ||
      item->width > 0x7FFFFFFF || item->height > 0x7FFFFFFF)
    return false;
  int w = int(item->width), h = int(item->height);
  for (const HeifTransform& t : item->transforms) {
    if (t.kind == HeifTransform::kRotate && (t.quarterTurns & 1)) std::swap(w, h);
    if (t.kind == HeifTransform::kCrop) {
      if (t.cropWidth <= 0 || t.cropHeight <= 0) return false;
      w = t.cropWidth;
      h = t.cropHeight;
    }
  }
  width = w;
  height = h;
  return true;
}

SpiResult CheckHeifDerivation(ByteSource& src, const HeifHeader& header, uint64_t maxPixels) {
  Walk walk{src, header, maxPixels, {}, {}};
  return walk.Visit(header.primaryId);
}

}  // namespace orvspi
