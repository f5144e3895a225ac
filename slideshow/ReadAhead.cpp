#include "slideshow/ReadAhead.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>

namespace orv {

struct TReadAhead::Job {
  std::mutex mutex;
  std::condition_variable done_cv;
  bool done = false;
  bool ok = false;
  std::vector<uint8_t> bytes;
};

bool TReadAhead::ReadFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>& out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  bool ok = std::fseek(f, 0, SEEK_END) == 0;
  const long size = ok ? std::ftell(f) : -1;
  ok = ok && size >= 0 && static_cast<unsigned long>(size) <= maxBytes &&
       std::fseek(f, 0, SEEK_SET) == 0;
  if (ok) {
    try {
      out.resize(static_cast<size_t>(size));
      ok = std::fread(out.data(), 1, out.size(), f) == out.size();
    } catch (const std::bad_alloc&) {
      ok = false;
    }
  }
  std::fclose(f);
  if (!ok) out.clear();
  return ok;
}

TReadAhead::TReadAhead(size_t maxBytes, Reader reader)
    : max_bytes_(maxBytes), reader_(std::move(reader)) {}

TReadAhead::~TReadAhead() { Abandon(); }

void TReadAhead::Start(const std::string& path) {
  Abandon();
  auto job = std::make_shared<Job>();
  // The thread holds its own share of the job and of the reader, so either
  // side may go first.
  try {
    std::thread([job, reader = reader_, path, max = max_bytes_] {
      std::vector<uint8_t> bytes;
      bool ok = false;
      try {
        ok = reader(path, max, bytes);
      } catch (...) {
        ok = false;
      }
      std::lock_guard<std::mutex> lock(job->mutex);
      job->ok = ok;
      job->bytes = std::move(bytes);
      job->done = true;
      job->done_cv.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return;
  }
  job_ = std::move(job);
  pending_ = path;
}

bool TReadAhead::Take(const std::string& path, std::vector<uint8_t>& bytes) {
  std::shared_ptr<Job> job = std::move(job_);
  const bool same = job && pending_ == path;
  pending_.clear();
  if (!same) return false;
  std::unique_lock<std::mutex> lock(job->mutex);
  job->done_cv.wait(lock, [&] { return job->done; });
  if (!job->ok) return false;
  bytes = std::move(job->bytes);
  return true;
}

void TReadAhead::Abandon() {
  job_.reset();
  pending_.clear();
}

}  // namespace orv
