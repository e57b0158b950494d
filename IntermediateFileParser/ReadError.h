#ifndef IFP_READERROR_H
#define IFP_READERROR_H

#include <stdexcept>

namespace ifp {

// Ends a read from inside the parse: a count check that failed, an input that
// cannot be opened or read, an external resource that is refused. `Read`
// catches it, like every other exception of a parse, and answers false.
class TReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace ifp

#endif  // IFP_READERROR_H
