#include "IntermediateFileParser/AnmDocReader.h"

namespace ifp {

void TAnmDocReader::ReadAnmDataSize(ELE_anm_data<int>& list, const TAttributes& attributes) const {
  for (const TAttribute& attribute : attributes) {
    if (attribute.first == "size") {
      list.size = ToInt(attribute);
    }
  }
}

}  // namespace ifp
