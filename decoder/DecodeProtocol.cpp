#include "decoder/DecodeProtocol.h"

#include <cstring>

namespace orv {

namespace {

class Writer {
 public:
  explicit Writer(DecodeMessage kind) {
    U32(0);  // the frame's length, set by Done
    U32(static_cast<uint32_t>(kind));
  }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(uint8_t(v >> (8 * i)));
  }
  void U64(uint64_t v) {
    U32(uint32_t(v));
    U32(uint32_t(v >> 32));
  }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void Text(const std::string& s) {
    U32(uint32_t(s.size()));
    out_.insert(out_.end(), s.begin(), s.end());
  }
  std::vector<uint8_t> Done() {
    const uint32_t n = uint32_t(out_.size() - 4);
    for (int i = 0; i < 4; ++i) out_[size_t(i)] = uint8_t(n >> (8 * i));
    return std::move(out_);
  }

 private:
  std::vector<uint8_t> out_;
};

class Reader {
 public:
  explicit Reader(const std::vector<uint8_t>& p) : p_(p) {}
  uint32_t U32() {
    if (p_.size() - at_ < 4 || at_ > p_.size()) return Fail();
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | p_[at_ + size_t(i)];
    at_ += 4;
    return v;
  }
  uint64_t U64() {
    const uint64_t lo = U32();
    return lo | uint64_t(U32()) << 32;
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  std::string Text(size_t limit) {
    const uint32_t n = U32();
    if (!ok_ || n > limit || n > p_.size() - at_) {
      Fail();
      return std::string();
    }
    std::string s(p_.begin() + long(at_), p_.begin() + long(at_ + n));
    at_ += n;
    return s;
  }
  // Sound when every read succeeded and nothing is left over.
  bool Whole() const { return ok_ && at_ == p_.size(); }

 private:
  uint32_t Fail() {
    ok_ = false;
    at_ = p_.size();
    return 0;
  }
  const std::vector<uint8_t>& p_;
  size_t at_ = 0;
  bool ok_ = true;
};

constexpr uint32_t kMaxPlugins = 1024;

}  // namespace

std::vector<uint8_t> EncodeSetup(const DecodeSetup& setup) {
  Writer w(DecodeMessage::kSetup);
  w.Text(setup.extensions);
  w.U32(uint32_t(setup.pluginFiles.size()));
  for (const std::string& f : setup.pluginFiles) w.Text(f);
  return w.Done();
}

std::vector<uint8_t> EncodeRequest(const DecodeRequest& r) {
  Writer w(r.kind);
  w.U32(r.id);
  w.Text(r.path);
  w.I32(r.fitWidth);
  w.I32(r.fitHeight);
  w.U32(r.flags);
  w.U64(r.section);
  w.U64(r.sectionBytes);
  return w.Done();
}

std::vector<uint8_t> EncodeAnswer(const DecodeAnswer& a) {
  Writer w(DecodeMessage::kAnswer);
  w.U32(a.id);
  w.U32(static_cast<uint32_t>(a.status));
  w.I32(a.ownWidth);
  w.I32(a.ownHeight);
  w.I32(a.width);
  w.I32(a.height);
  w.I32(a.bitCount);
  w.U32(a.rowBytes);
  w.Text(a.message);
  return w.Done();
}

uint32_t FrameKind(const std::vector<uint8_t>& payload) {
  Reader r(payload);
  return r.U32();
}

bool ParseSetup(const std::vector<uint8_t>& payload, DecodeSetup& setup) {
  Reader r(payload);
  if (r.U32() != uint32_t(DecodeMessage::kSetup)) return false;
  DecodeSetup s;
  s.extensions = r.Text(4096);
  const uint32_t n = r.U32();
  if (n > kMaxPlugins) return false;
  for (uint32_t i = 0; i < n; ++i) s.pluginFiles.push_back(r.Text(kMaxDecodePath));
  if (!r.Whole()) return false;
  setup = std::move(s);
  return true;
}

bool ParseRequest(const std::vector<uint8_t>& payload, DecodeRequest& request) {
  Reader r(payload);
  const uint32_t kind = r.U32();
  if (kind != uint32_t(DecodeMessage::kDecode) && kind != uint32_t(DecodeMessage::kMeasure) &&
      kind != uint32_t(DecodeMessage::kFilter))
    return false;
  DecodeRequest q;
  q.kind = DecodeMessage(kind);
  q.id = r.U32();
  q.path = r.Text(kMaxDecodePath);
  q.fitWidth = r.I32();
  q.fitHeight = r.I32();
  q.flags = r.U32();
  q.section = r.U64();
  q.sectionBytes = r.U64();
  if (!r.Whole() || q.fitWidth < 0 || q.fitHeight < 0) return false;
  // Only the filter text is asked of no file.
  if (q.path.empty() && q.kind != DecodeMessage::kFilter) return false;
  if (q.kind == DecodeMessage::kDecode && (q.section == 0 || q.sectionBytes == 0)) return false;
  request = std::move(q);
  return true;
}

bool ParseAnswer(const std::vector<uint8_t>& payload, DecodeAnswer& answer) {
  Reader r(payload);
  if (r.U32() != uint32_t(DecodeMessage::kAnswer)) return false;
  DecodeAnswer a;
  a.id = r.U32();
  const uint32_t status = r.U32();
  a.ownWidth = r.I32();
  a.ownHeight = r.I32();
  a.width = r.I32();
  a.height = r.I32();
  a.bitCount = r.I32();
  a.rowBytes = r.U32();
  a.message = r.Text(kMaxFilterText);
  if (!r.Whole() || status > uint32_t(DecodeStatus::kTooLarge)) return false;
  a.status = DecodeStatus(status);
  answer = std::move(a);
  return true;
}

void FrameReader::Feed(const uint8_t* data, size_t size) {
  if (size) pending_.insert(pending_.end(), data, data + size);
}

bool FrameReader::Next(std::vector<uint8_t>& payload) {
  if (broken_ || pending_.size() < 4) return false;
  uint32_t n = 0;
  for (int i = 3; i >= 0; --i) n = n << 8 | pending_[size_t(i)];
  if (n > kMaxDecodeFrame) {
    broken_ = true;
    return false;
  }
  if (pending_.size() - 4 < n) return false;
  payload.assign(pending_.begin() + 4, pending_.begin() + 4 + long(n));
  pending_.erase(pending_.begin(), pending_.begin() + 4 + long(n));
  return true;
}

uint64_t DibRowBytes(int64_t width, int bitCount) {
  if (width <= 0 || bitCount <= 0) return 0;
  return (uint64_t(width) * uint64_t(bitCount) + 31) / 32 * 4;
}

uint32_t DecodeTimeBoundMs(uint64_t fileBytes) {
  if (fileBytes == 0) fileBytes = uint64_t(16) << 20;
  // 3 s to open and start, then a second for every 4 MB.
  const uint64_t ms = 3000 + fileBytes / (4u << 20) * 1000;
  return uint32_t(ms > 20000 ? 20000 : ms);
}

bool AnswerFits(const DecodeRequest& request, const DecodeAnswer& answer) {
  if (answer.id != request.id) return false;
  if (request.kind == DecodeMessage::kFilter) return answer.message.size() <= kMaxFilterText;
  if (answer.status != DecodeStatus::kDecoded) return true;
  if (answer.ownWidth <= 0 || answer.ownHeight <= 0) return false;
  if (request.kind == DecodeMessage::kMeasure) return true;
  if (answer.bitCount != 24 && answer.bitCount != 32) return false;
  if (answer.width <= 0 || answer.height <= 0) return false;
  // Never larger than the box asked for, when one was.
  if (request.fitWidth > 0 && request.fitHeight > 0 &&
      (answer.width > request.fitWidth || answer.height > request.fitHeight))
    return false;
  const uint64_t row = DibRowBytes(answer.width, answer.bitCount);
  if (row != answer.rowBytes) return false;
  return row * uint64_t(answer.height) <= request.sectionBytes;
}

}  // namespace orv
