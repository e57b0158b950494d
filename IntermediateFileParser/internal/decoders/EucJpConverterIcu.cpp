#include "IntermediateFileParser/internal/decoders/EucJpConverter.h"

namespace ifp::internal {

// ICU decodes EUC-JP under all its names by itself.
bool RegisterEucJpConverter() { return false; }

}  // namespace ifp::internal
