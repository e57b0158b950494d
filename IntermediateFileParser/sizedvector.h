#ifndef IFP_SIZEDVECTOR_H
#define IFP_SIZEDVECTOR_H

#include <cstddef>
#include <vector>

namespace ifp {

// A list with room for N values reserved at construction. N is not a limit:
// appending beyond it grows the list as any vector grows.
template <class T, std::size_t N>
class sizedvector : public std::vector<T> {
 public:
  sizedvector() { this->reserve(N); }
  virtual ~sizedvector() = default;
};

}  // namespace ifp

#endif  // IFP_SIZEDVECTOR_H
