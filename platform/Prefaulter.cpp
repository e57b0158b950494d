#include "platform/Prefaulter.h"

#include <algorithm>
#include <system_error>

#include "platform/Memory.h"

namespace morv::os {
namespace {

// Pages are faulted in a huge page at a time, between looks at the queue.
constexpr std::uintptr_t kStep = std::uintptr_t{2} << 20;

}  // namespace

TPrefaulter::~TPrefaulter() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void TPrefaulter::Populate(void* buffer, std::size_t bytes) {
  if (buffer == nullptr || bytes < kMinBytes) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (unsupported_) return;
    const auto begin = reinterpret_cast<std::uintptr_t>(buffer);
    whole_.push_back({begin, begin + bytes});
  }
  if (Start()) wake_.notify_one();
}

void TPrefaulter::Follow(void* buffer, std::size_t bytes) {
  if (buffer == nullptr || bytes < kMinBytes) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (unsupported_) return;
    const auto begin = reinterpret_cast<std::uintptr_t>(buffer);
    followed_ = {begin, begin + bytes};
    reached_ = begin;
  }
  if (Start()) wake_.notify_one();
}

void TPrefaulter::Reached(const void* end) {
  const auto position = reinterpret_cast<std::uintptr_t>(end);
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (position <= reached_ || position > followed_.end) return;
    reached_ = position;
  }
  wake_.notify_one();
}

bool TPrefaulter::Start() {
  if (thread_.joinable()) return true;
  try {
    thread_ = std::thread([this] { Run(); });
    return true;
  } catch (const std::system_error&) {
    // No thread to be had: the writes fault the pages in themselves.
    const std::lock_guard<std::mutex> lock(mutex_);
    unsupported_ = true;
    whole_.clear();
    followed_ = {0, 0};
    return false;
  }
}

bool TPrefaulter::NextPiece(std::uintptr_t& first, std::uintptr_t& last) {
  while (!whole_.empty() && whole_.front().done >= whole_.front().end) whole_.pop_front();
  TRange* range = nullptr;
  std::uintptr_t limit = 0;
  if (!whole_.empty()) {
    range = &whole_.front();
    limit = range->end;
  } else if (followed_.done < followed_.end && followed_.done < reached_ + kWindow) {
    range = &followed_;
    limit = std::min(followed_.end, reached_ + kWindow);
  } else {
    return false;
  }
  first = range->done;
  last = std::min(limit, first + kStep);
  // Counted as done at once: a piece is faulted in only once, and a range
  // replaced meanwhile is simply left.
  range->done = last;
  return true;
}

void TPrefaulter::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    std::uintptr_t first = 0;
    std::uintptr_t last = 0;
    wake_.wait(lock, [&] { return stopping_ || NextPiece(first, last); });
    if (stopping_) return;
    lock.unlock();
    const bool supported = PopulatePages(first, last);
    lock.lock();
    if (!supported) {
      unsupported_ = true;
      return;
    }
  }
}

}  // namespace morv::os
