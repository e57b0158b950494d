#ifndef MORV_OS_PREFAULTER_H
#define MORV_OS_PREFAULTER_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace morv::os {

// Faults in the pages of large buffers on a thread of its own, so that the
// system's clearing of fresh pages runs beside the work that fills them
// instead of in its way. Only page tables are touched (MADV_POPULATE_WRITE,
// Linux 5.14 and later): what a buffer holds never changes, so its owner
// fills it meanwhile. Where the system cannot do that, nothing is done and
// the writes fault the pages in, as they would anyway.
//
// Two kinds of buffer: one that will certainly be filled whole (Populate),
// faulted in whole, in the order handed over; and one that is being filled
// for as long as values keep coming (Follow), faulted in no more than a
// window ahead of how far its owner says it got (Reached), so that room
// reserved for more than ever arrives costs no more than the window. A new
// followed buffer replaces the one before: the owner fills one at a time.
//
// The thread starts with the first buffer and ends when the prefaulter goes;
// the destructor waits for it, so no thread outlives its owner on any path.
// Populating a range that is no longer mapped does nothing, and a range
// mapped anew is only faulted in, so a buffer freed early does no harm.
class TPrefaulter {
 public:
  // Buffers smaller than this are not worth a thread.
  static constexpr std::size_t kMinBytes = std::size_t{4} << 20;
  // How far ahead of its owner's writes a followed buffer is faulted in.
  static constexpr std::size_t kWindow = std::size_t{8} << 20;

  TPrefaulter() = default;
  ~TPrefaulter();
  TPrefaulter(const TPrefaulter&) = delete;
  TPrefaulter& operator=(const TPrefaulter&) = delete;

  // [buffer, buffer + bytes) will be filled whole.
  void Populate(void* buffer, std::size_t bytes);
  // The owner starts filling [buffer, buffer + bytes) from its start.
  void Follow(void* buffer, std::size_t bytes);
  // The owner has filled the followed buffer up to `end`.
  void Reached(const void* end);

 private:
  struct TRange {
    std::uintptr_t done;  // faulted in up to here
    std::uintptr_t end;
  };

  // Starts the thread if it is not running; false when there is none.
  bool Start();
  void Run();
  // The next piece of work under the lock, if any: a range to fault in.
  bool NextPiece(std::uintptr_t& first, std::uintptr_t& last);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<TRange> whole_;
  TRange followed_{0, 0};
  std::uintptr_t reached_ = 0;  // how far the owner has filled the followed buffer
  bool stopping_ = false;
  bool unsupported_ = false;
  std::thread thread_;
};

}  // namespace morv::os

#endif  // MORV_OS_PREFAULTER_H
