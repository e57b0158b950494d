#ifndef IFP_PTRVECTOR_H
#define IFP_PTRVECTOR_H

#include <cstddef>
#include <utility>
#include <vector>

namespace ifp {

// An owning list of element records. A record whose pointer is appended
// belongs to the list from then on: every operation that drops entries
// (erase, pop_back, a shrinking resize, clear, assignment from another list,
// destruction) deletes their records. Entries may be null; they are skipped.
// The list moves its records along with it and cannot be copied, since
// copies would share the records and delete them twice.
template <class T>
class ptrvector : public std::vector<T*> {
  using base = std::vector<T*>;

 public:
  using iterator = typename base::iterator;
  using size_type = typename base::size_type;

  ptrvector() = default;
  ptrvector(const ptrvector&) = delete;
  ptrvector& operator=(const ptrvector&) = delete;
  ptrvector(ptrvector&& other) noexcept : base(std::move(static_cast<base&>(other))) {
    other.base::clear();
  }
  // The records held so far are deleted; the other list's are taken over.
  ptrvector& operator=(ptrvector&& other) noexcept {
    if (this != &other) {
      clear();
      base::swap(other);
    }
    return *this;
  }

  virtual ~ptrvector() { clear(); }

  // Deletes the records of [first, last) in index order, then removes the
  // range as the vector's own erase does.
  iterator erase(iterator first, iterator last) {
    for (iterator it = first; it != last; ++it) {
      delete *it;
    }
    return base::erase(first, last);
  }
  iterator erase(iterator position) { return erase(position, position + 1); }

  void pop_back() {
    delete base::back();
    base::pop_back();
  }

  // Shrinking deletes the records of the entries dropped; growing appends
  // null entries.
  void resize(size_type count) {
    if (count < base::size())
      erase(base::begin() + static_cast<std::ptrdiff_t>(count), base::end());
    base::resize(count);
  }

  void clear() noexcept { erase(base::begin(), base::end()); }
};

}  // namespace ifp

#endif  // IFP_PTRVECTOR_H
