#include "IntermediateFileParser/AnmDocReader.h"

namespace ifp {

void TAnmDocReader::ReadAnmDataSize(ELE_anm_data<int>& list, const TAttributes& attributes) const {
  for (const TAttribute& attribute : attributes) {
    if (attribute.first == "size") {
      list.size = ToInt(attribute);
      if (ReserveDeclared(list.data, list.size)) {
        PrepareFill(list.data.data(), list.data.capacity() * sizeof(int));
      }
    }
  }
}

}  // namespace ifp
