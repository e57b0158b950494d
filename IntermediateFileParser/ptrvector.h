#ifndef IFP_PTRVECTOR_H
#define IFP_PTRVECTOR_H

#include <vector>

namespace ifp {

// An owning list of element records. A record whose pointer is appended
// belongs to the list from then on: it is deleted when its entry is erased or
// when the list is destroyed. Entries may be null; they are skipped.
template <class T>
class ptrvector : public std::vector<T*> {
  using base = std::vector<T*>;

 public:
  using iterator = typename base::iterator;

  ptrvector() = default;
  // Copies would share the records and delete them twice.
  ptrvector(const ptrvector&) = delete;
  ptrvector& operator=(const ptrvector&) = delete;

  virtual ~ptrvector() { erase(this->begin(), this->end()); }

  // Deletes the records of [first, last) in index order, then removes the
  // range as the vector's own erase does. Hides every inherited erase, so no
  // entry can leave the list without its record being deleted.
  iterator erase(iterator first, iterator last) {
    for (iterator it = first; it != last; ++it) {
      delete *it;
    }
    return base::erase(first, last);
  }
};

}  // namespace ifp

#endif  // IFP_PTRVECTOR_H
