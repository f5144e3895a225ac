// Writes small HEIF files item by item, for the tests of what hostile
// files may not make a decoder do: derivations that reach themselves,
// grids that paint a canvas other than the one they declare, and files
// whose header says more than their data holds. A coded picture can be
// lifted from a real file (LiftPrimary), so that a hostile structure is
// built round data libheif really decodes.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "plugins/common/ByteSource.h"
#include "plugins/heif/HeifBoxes.h"

namespace orvtest {

using Bytes = std::vector<uint8_t>;

inline void Put(Bytes& b, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}
inline void PutText(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

inline Bytes Box(const std::string& type, const Bytes& body) {
  Bytes b;
  Put(b, body.size() + 8, 4);
  PutText(b, type);
  b.insert(b.end(), body.begin(), body.end());
  return b;
}
inline Bytes FullBox(const std::string& type, int version, uint32_t flags, const Bytes& body) {
  Bytes full;
  Put(full, uint32_t(version) << 24 | flags, 4);
  full.insert(full.end(), body.begin(), body.end());
  return Box(type, full);
}
inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes Ispe(uint32_t w, uint32_t h) {
  Bytes b;
  Put(b, w, 4);
  Put(b, h, 4);
  return FullBox("ispe", 0, 0, b);
}
inline Bytes Irot(int quarterTurns) { return Box("irot", Bytes{uint8_t(quarterTurns & 3)}); }
inline Bytes Clap(uint32_t wn, uint32_t wd, uint32_t hn, uint32_t hd, int32_t xn, uint32_t xd,
                  int32_t yn, uint32_t yd) {
  Bytes b;
  for (uint32_t v : {wn, wd, hn, hd, uint32_t(xn), xd, uint32_t(yn), yd}) Put(b, v, 4);
  return Box("clap", b);
}

// A grid item's data: rows x columns tiles painting `w` x `h`.
inline Bytes GridData(int rows, int columns, uint32_t w, uint32_t h) {
  const bool wide = w > 0xFFFF || h > 0xFFFF;
  Bytes b = {0, uint8_t(wide ? 1 : 0), uint8_t(rows - 1), uint8_t(columns - 1)};
  Put(b, w, wide ? 4 : 2);
  Put(b, h, wide ? 4 : 2);
  return b;
}

struct BuildItem {
  uint32_t id = 0;
  std::string type;                   // "hvc1", "av01", "grid", "iden", ...
  std::vector<Bytes> properties;      // boxes for ipco, associated in this order
  std::vector<uint32_t> derivedFrom;  // dimg
  Bytes data;                         // in `mdat`, or `idat` when inIdat
  bool inIdat = false;
  // Non-zero: the item has the properties, or the data, of that earlier
  // item (the same ipco entries, the same bytes of mdat), as a grid's
  // tiles of one picture may, at a few bytes a tile.
  uint32_t propertiesOf = 0;
  uint32_t dataOf = 0;
};

// A whole file: ftyp, meta (hdlr pict, pitm, iinf, iloc, iref, iprp,
// idat), then mdat with the items' data.
inline Bytes HeifFile(const std::string& brand, uint32_t primary,
                      const std::vector<BuildItem>& items) {
  Bytes ftyp;
  PutText(ftyp, brand);
  Put(ftyp, 0, 4);
  PutText(ftyp, "mif1" + brand);
  Bytes hdlrBody(4, 0);
  PutText(hdlrBody, "pict");
  hdlrBody.resize(hdlrBody.size() + 13, 0);
  Bytes pitm;
  Put(pitm, primary, 2);
  Bytes iinf;
  Put(iinf, items.size(), 2);
  for (const BuildItem& it : items) {
    Bytes infe;
    Put(infe, it.id, 2);
    Put(infe, 0, 2);
    PutText(infe, it.type);
    infe.push_back(0);
    iinf = Concat({iinf, FullBox("infe", 2, 0, infe)});
  }
  Bytes irefBody;
  for (const BuildItem& it : items) {
    if (it.derivedFrom.empty()) continue;
    Bytes r;
    Put(r, it.id, 2);
    Put(r, it.derivedFrom.size(), 2);
    for (uint32_t to : it.derivedFrom) Put(r, to, 2);
    irefBody = Concat({irefBody, Box("dimg", r)});
  }
  Bytes ipco, ipma;
  Put(ipma, items.size(), 4);
  uint32_t index = 0;
  std::map<uint32_t, std::vector<uint32_t>> indices;
  for (const BuildItem& it : items) {
    std::vector<uint32_t>& mine = indices[it.id];
    if (it.propertiesOf) {
      mine = indices[it.propertiesOf];
    } else {
      for (const Bytes& p : it.properties) {
        ipco = Concat({ipco, p});
        mine.push_back(++index);
      }
    }
    Put(ipma, it.id, 2);
    ipma.push_back(uint8_t(mine.size()));
    // 15-bit indices (flags bit 0), with the essential bit.
    for (uint32_t i : mine) Put(ipma, 0x8000 | i, 2);
  }
  Bytes idat;
  for (const BuildItem& it : items)
    if (it.inIdat) idat.insert(idat.end(), it.data.begin(), it.data.end());

  // iloc with 4-byte offsets and lengths; file offsets are known only once
  // the meta box's size is, so it is built twice.
  auto build = [&](uint64_t mdatDataStart) {
    Bytes iloc = {0x44, 0x00};
    Put(iloc, items.size(), 2);
    uint64_t inMdat = 0, inIdat = 0;
    std::map<uint32_t, std::pair<uint64_t, uint64_t>> placed;  // offset, length
    for (const BuildItem& it : items) {
      Put(iloc, it.id, 2);
      Put(iloc, it.inIdat ? 1 : 0, 2);
      Put(iloc, 0, 2);
      Put(iloc, 1, 2);
      std::pair<uint64_t, uint64_t>& at = placed[it.id];
      if (it.dataOf) {
        at = placed[it.dataOf];
      } else if (it.inIdat) {
        at = {inIdat, it.data.size()};
        inIdat += it.data.size();
      } else {
        at = {mdatDataStart + inMdat, it.data.size()};
        inMdat += it.data.size();
      }
      Put(iloc, at.first, 4);
      Put(iloc, at.second, 4);
    }
    Bytes meta = Concat({FullBox("hdlr", 0, 0, hdlrBody), FullBox("pitm", 0, 0, pitm),
                         FullBox("iinf", 0, 0, iinf), FullBox("iloc", 1, 0, iloc)});
    if (!irefBody.empty()) meta = Concat({meta, FullBox("iref", 0, 0, irefBody)});
    meta = Concat({meta, Box("iprp", Concat({Box("ipco", ipco), FullBox("ipma", 0, 1, ipma)}))});
    if (!idat.empty()) meta = Concat({meta, Box("idat", idat)});
    return Concat({Box("ftyp", ftyp), FullBox("meta", 0, 0, meta)});
  };
  const uint64_t start = build(0).size() + 8;
  Bytes mdat;
  for (const BuildItem& it : items)
    if (!it.inIdat) mdat.insert(mdat.end(), it.data.begin(), it.data.end());
  return Concat({build(start), Box("mdat", mdat)});
}

// The primary coded picture (or the one tile of its grid) of a real
// single-picture file: its type, its
// decoder configuration property (hvcC or av1C) and its data, to be put
// into a file of the test's own making.
struct LiftedPicture {
  std::string type;
  Bytes config;
  Bytes data;
  uint32_t width = 0, height = 0;
};

inline bool LiftPrimary(const Bytes& file, LiftedPicture& out) {
  orvspi::MemorySource src(file.data(), file.size());
  orvspi::HeifHeader h;
  if (orvspi::ReadHeifHeader(src, h) != orvspi::HeifHeaderStatus::kOk) return false;
  const orvspi::HeifItem* item = h.Find(h.primaryId);
  // An encoder may wrap a picture of odd size in a grid of one tile.
  if (item && item->type == orvspi::FourCC("grid") && item->derivedFrom.size() == 1)
    item = h.Find(item->derivedFrom[0]);
  if (!item || item->constructionMethod != 0 || item->extents.size() != 1) return false;
  out.type.clear();
  for (int s = 24; s >= 0; s -= 8) out.type.push_back(char(item->type >> s));
  out.width = item->width;
  out.height = item->height;
  const uint64_t at = item->baseOffset + item->extents[0].offset;
  const uint64_t n = item->extents[0].length;
  if (at + n > file.size()) return false;
  out.data.assign(file.begin() + long(at), file.begin() + long(at + n));
  // The configuration box, found by its type among the file's bytes.
  const std::string config = out.type == "av01" ? "av1C" : "hvcC";
  for (size_t i = 4; i + 4 <= file.size(); ++i) {
    if (std::memcmp(&file[i], config.data(), 4) != 0) continue;
    const uint32_t size = uint32_t(file[i - 4]) << 24 | uint32_t(file[i - 3]) << 16 |
                          uint32_t(file[i - 2]) << 8 | file[i - 1];
    if (size < 8 || i - 4 + size > file.size()) return false;
    out.config.assign(file.begin() + long(i - 4), file.begin() + long(i - 4 + size));
    return true;
  }
  return false;
}

// An identity item that derives from itself: the 222-byte kind of file
// that made an older libheif recurse until its stack ran out.
inline Bytes SelfDerivedIdentity() {
  BuildItem iden;
  iden.id = 1;
  iden.type = "iden";
  iden.properties = {Ispe(64, 64)};
  iden.derivedFrom = {1};
  return HeifFile("heic", 1, {iden});
}

// A grid of `columns` x `rows` tiles of one real picture, each tile an
// item of its own (libheif refuses a grid that names one item twice)
// sharing the picture's bytes and properties, declared `declaredW` x
// `declaredH` and painting `canvasW` x `canvasH`.
inline Bytes TiledGrid(const LiftedPicture& tile, int columns, int rows, uint32_t declaredW,
                       uint32_t declaredH, uint32_t canvasW, uint32_t canvasH) {
  BuildItem grid;
  grid.id = 1;
  grid.type = "grid";
  grid.properties = {Ispe(declaredW, declaredH)};
  grid.data = GridData(rows, columns, canvasW, canvasH);
  grid.inIdat = true;
  std::vector<BuildItem> items = {grid};
  for (int i = 0; i < rows * columns; ++i) {
    BuildItem t;
    t.id = uint32_t(2 + i);
    t.type = tile.type;
    if (i == 0) {
      t.properties = {tile.config, Ispe(tile.width, tile.height)};
      t.data = tile.data;
    } else {
      t.propertiesOf = 2;
      t.dataOf = 2;
    }
    items[0].derivedFrom.push_back(t.id);
    items.push_back(t);
  }
  return HeifFile(tile.type == "av01" ? "avif" : "heic", 1, items);
}

// A grid declared `declared` x `declared` that paints a canvas of `canvas`
// x `canvas` from one real tile, repeated.
inline Bytes GridBomb(const LiftedPicture& tile, uint32_t declared, uint32_t canvas) {
  const int columns = int((canvas + tile.width - 1) / tile.width);
  const int rows = int((canvas + tile.height - 1) / tile.height);
  return TiledGrid(tile, columns, rows, declared, declared, canvas, canvas);
}

}  // namespace orvtest
