#ifndef IFP_ANMDATA_H
#define IFP_ANMDATA_H

#include <cstdint>
#include <vector>

namespace ifp {

// An animation value list: the declared number of values (the element's
// "size" attribute) and the values of its text in document order.
template <class T>
struct ELE_anm_data {
  std::int32_t size = 0;
  std::vector<T> data;
};

}  // namespace ifp

#endif  // IFP_ANMDATA_H
