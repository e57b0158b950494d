// The prefaulter faults in the pages of buffers while their owner fills
// them: what the owner writes stays as written, and no thread outlives it.

#include "platform/Prefaulter.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

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

// Whether the page holding `address` is resident.
bool Resident(const void* address) {
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  unsigned char state = 0;
  void* const start =
      reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(address) & ~(page - 1));
  return ::mincore(start, page, &state) == 0 && (state & 1) != 0;
}

TEST(PrefaulterTest, NothingPastARangeIsFaultedIn) {
  // Whether the system faults pages in at all; where it cannot, nothing is
  // faulted in anywhere, and only that is checked.
  const Mapping probe(std::size_t{1} << 20);
  const bool populates = ::madvise(probe.Data(), 4096, MADV_POPULATE_WRITE) == 0;
  // Ranges that end inside a larger mapping, away from the step of 2 MiB the
  // prefaulter works in: five and a half MiB, 4 MiB and one page.
  const struct {
    const char* what;
    bool follow;
    std::size_t offset;
    std::size_t bytes;
  } cases[] = {
      {"filled whole", false, 0, std::size_t{11} << 19},
      {"filled whole, at an odd offset", false, 4096 * 3, (std::size_t{4} << 20) + 4096},
      {"followed", true, 0, std::size_t{11} << 19},
      {"followed, at an odd offset", true, 4096 * 5, (std::size_t{4} << 20) + 4096},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Mapping mapping(std::size_t{16} << 20);
    ASSERT_NE(mapping.Data(), MAP_FAILED);
    // Never backed by huge pages, which would fault in their neighbours.
    ::madvise(mapping.Data(), std::size_t{16} << 20, MADV_NOHUGEPAGE);
    char* const begin = static_cast<char*>(mapping.Data()) + c.offset;
    char* const end = begin + c.bytes;
    {
      morv::os::TPrefaulter prefaulter;
      if (c.follow) {
        prefaulter.Follow(begin, c.bytes);  // within the window from its start
      } else {
        prefaulter.Populate(begin, c.bytes);
      }
      // Until the range's last page is in; the destructor then lets the
      // thread end the piece it is in.
      for (int tries = 0; populates && !Resident(end - 1) && tries < 1000; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    EXPECT_EQ(Resident(begin), populates);
    EXPECT_EQ(Resident(end - 1), populates);
    for (const char* page = end; page < end + (std::size_t{2} << 20); page += 4096) {
      ASSERT_FALSE(Resident(page)) << "page " << (page - end) / 4096 << " after the range";
    }
  }
}

}  // namespace
