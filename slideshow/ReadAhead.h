// Reads the next picture's file into memory on a thread of its own while
// the current one is shown, so that a slow folder (a network share) does
// not lengthen the pause before it. The decode itself stays where it was:
// this only moves the reading.
//
// One read at a time per object; Take waits for a read still under way,
// Abandon and the destructor never wait: the thread finishes on its own
// and drops what it read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orv {

class TReadAhead {
 public:
  // Files above this are not read ahead (the load step reads them as
  // before): a 100 MP photo is some 30 MiB.
  static constexpr size_t kDefaultMaxBytes = size_t(64) << 20;

  // Reads at most `maxBytes` of `path` into `out`; false when the file
  // cannot be read or is larger. Runs on the read-ahead thread.
  using Reader =
      std::function<bool(const std::string& path, size_t maxBytes, std::vector<uint8_t>& out)>;
  static bool ReadFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>& out);

  explicit TReadAhead(size_t maxBytes = kDefaultMaxBytes, Reader reader = ReadFile);
  ~TReadAhead();
  TReadAhead(const TReadAhead&) = delete;
  TReadAhead& operator=(const TReadAhead&) = delete;

  // Starts reading `path`; a read under way for another file is abandoned.
  // A thread that cannot be started leaves nothing to take.
  void Start(const std::string& path);
  // The bytes of `path` when a read of exactly that file was started and
  // succeeded, waiting for it if needed; false otherwise (the caller reads
  // the file itself). Either way nothing is left to take afterwards.
  bool Take(const std::string& path, std::vector<uint8_t>& bytes);
  // Drops the read under way without waiting for it.
  void Abandon();
  // The file being read or read, "" when none.
  const std::string& Pending() const { return pending_; }

 private:
  struct Job;
  size_t max_bytes_;
  Reader reader_;
  std::shared_ptr<Job> job_;
  std::string pending_;
};

}  // namespace orv
