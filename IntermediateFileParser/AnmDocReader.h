#ifndef IFP_ANMDOCREADER_H
#define IFP_ANMDOCREADER_H

#include "IntermediateFileParser/AnmData.h"
#include "IntermediateFileParser/XmlDocReader.h"

namespace ifp {

// The base of the animation-document readers: the attribute conventions that
// animation documents share. An animation value list declares its length in
// a "size" attribute; a flag is switched on by the value "on".
class TAnmDocReader : public TXmlDocReader {
 public:
  TAnmDocReader() = default;
  ~TAnmDocReader() override = default;

  // Each "size" attribute sets the list's declared count, stored as read.
  // Values already in the list stay. A list read through TTextUse::IntList
  // gets room for its declared count when its text starts.
  void ReadAnmDataSize(ELE_anm_data<int>& list, const TAttributes& attributes) const;

  // True exactly when the value is "on": same bytes, case-sensitive.
  static bool IsOn(const TAttribute& attribute) { return attribute.second == "on"; }
};

}  // namespace ifp

#endif  // IFP_ANMDOCREADER_H
