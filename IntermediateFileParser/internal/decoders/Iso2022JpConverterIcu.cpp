#include "IntermediateFileParser/internal/decoders/Iso2022JpConverter.h"

namespace ifp::internal {

// ICU decodes ISO-2022-JP under all its names by itself.
bool RegisterIso2022JpConverter() { return false; }

}  // namespace ifp::internal
