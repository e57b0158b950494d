// The prefaulter faults in the pages of buffers while their owner fills
// them: what the owner writes stays as written, and no thread outlives it.

#include "platform/Prefaulter.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <thread>

namespace {

std::size_t TaskCount() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator("/proc/self/task")) {
    ++count;
  }
  return count;
}

// The threads of this process once nothing is starting or ending. The first
// thread a process starts may bring a helper thread of a sanitizer's run-time
// with it, so one is started and joined first; a joined thread's task may
// linger for a moment, so the count is taken once it has settled.
std::size_t SettledThreadCount() {
  std::thread([] {}).join();
  std::size_t count = TaskCount();
  for (int same = 0, tries = 0; same < 3 && tries < 200; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const std::size_t now = TaskCount();
    same = now == count ? same + 1 : 0;
    count = now;
  }
  return count;
}

// True when the process is back to `count` threads within a second.
bool BackTo(std::size_t count) {
  for (int tries = 0; tries < 200; ++tries) {
    if (TaskCount() <= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// Fresh anonymous memory, unmapped at the end.
class Mapping {
 public:
  explicit Mapping(std::size_t bytes)
      : bytes_(bytes),
        data_(::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)) {}
  ~Mapping() { ::munmap(data_, bytes_); }
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  std::uint32_t* Words() const { return static_cast<std::uint32_t*>(data_); }
  std::size_t Count() const { return bytes_ / sizeof(std::uint32_t); }
  void* Data() const { return data_; }

 private:
  std::size_t bytes_;
  void* data_;
};

TEST(PrefaulterTest, WhatTheOwnerWritesStaysAndNoThreadOutlivesIt) {
  const std::size_t threads_before = SettledThreadCount();
  const Mapping followed(std::size_t{64} << 20);
  const Mapping whole(std::size_t{16} << 20);
  ASSERT_NE(followed.Data(), MAP_FAILED);
  ASSERT_NE(whole.Data(), MAP_FAILED);
  {
    morv::os::TPrefaulter prefaulter;
    prefaulter.Populate(whole.Data(), std::size_t{16} << 20);
    prefaulter.Follow(followed.Data(), std::size_t{64} << 20);
    // Only the first half is filled, in steps, as values would arrive.
    for (std::size_t i = 0; i < followed.Count() / 2; ++i) {
      followed.Words()[i] = static_cast<std::uint32_t>(i * 2654435761u);
      if (i % 65536 == 0) prefaulter.Reached(followed.Words() + i);
    }
    for (std::size_t i = 0; i < whole.Count(); ++i)
      whole.Words()[i] = static_cast<std::uint32_t>(~i);
  }
  EXPECT_TRUE(BackTo(threads_before));
  for (std::size_t i = 0; i < followed.Count() / 2; ++i) {
    ASSERT_EQ(followed.Words()[i], static_cast<std::uint32_t>(i * 2654435761u)) << i;
  }
  for (std::size_t i = followed.Count() / 2; i < followed.Count(); ++i) {
    ASSERT_EQ(followed.Words()[i], 0u) << i;
  }
  for (std::size_t i = 0; i < whole.Count(); ++i) {
    ASSERT_EQ(whole.Words()[i], static_cast<std::uint32_t>(~i)) << i;
  }
}

TEST(PrefaulterTest, GoingAtOnceOrFreeingABufferEarlyIsHarmless) {
  const std::size_t threads_before = SettledThreadCount();
  for (int round = 0; round < 20; ++round) {
    morv::os::TPrefaulter prefaulter;
    auto early = std::make_unique<Mapping>(std::size_t{32} << 20);
    prefaulter.Follow(early->Data(), std::size_t{32} << 20);
    prefaulter.Populate(early->Data(), std::size_t{32} << 20);
    early.reset();  // unmapped while it may still be faulted in
    const Mapping small(std::size_t{1} << 20);
    prefaulter.Populate(small.Data(), std::size_t{1} << 20);  // too small: ignored
  }
  EXPECT_TRUE(BackTo(threads_before));
}

}  // namespace
