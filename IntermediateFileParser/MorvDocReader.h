#ifndef IFP_MORVDOCREADER_H
#define IFP_MORVDOCREADER_H

#include <string>

#include "IntermediateFileParser/AnmDocReader.h"
#include "IntermediateFileParser/MorvDocument.h"

namespace ifp {

// Reads the body of a texture-pattern animation document into a
// TMorvDocument. Elements are recognised by exact name and depth (the root
// at depth 0, "body" at 1):
//
//   depth 2  "tex_pattern_info"       frame_size, tool_start_frame,
//                                     tool_end_frame, compress_material,
//                                     material_size (two integers)
//            "tex_pattern_list_data"  image_size, palette_size
//            "tex_pattern_anm_array"  size
//   depth 3  "image_name", "palette_name"       index, name: one record each
//            "tex_pattern_anm"                  index, material_name,
//                                               data_size, data_head
//            "frame_idx", "image_idx", "palette_idx"   size
//
// The texts of "frame_idx", "image_idx" and "palette_idx" are integer lists,
// read wherever those elements stand in the body; each run must leave its
// list holding exactly the declared "size". Everything else is ignored.
class TMorvDocReader : public TAnmDocReader {
 public:
  TMorvDocReader() = default;
  ~TMorvDocReader() override = default;

  // Reads the document at `path` into `doc`; see TXmlDocReader::Read. A
  // texture-pattern document is the only kind this reader fills.
  bool Read(TMorvDocument* doc, const char* path);

 protected:
  void OnElement(const std::string& name, const TAttributes& attributes) override;
  void OnText(const std::string& name, const std::string& text) override;
  TTextUse BodyTextUse(const std::string& name) override;

 private:
  TMorvDocument& Document() const { return *morv_document; }
  // The index list an element of this name fills, or null.
  ELE_anm_data<int>* IndexList(const std::string& name) const;

  void ReadPatternInfo(const TAttributes& attributes);
  void ReadPatternListData(const TAttributes& attributes);
  void ReadPatternAnmArray(const TAttributes& attributes);
  void AddPatternAnm(const TAttributes& attributes);
  template <class Record>
  void AddNamedRecord(ptrvector<Record>& list, const TAttributes& attributes);

  // The document of the read under way: the one handed to Read.
  TMorvDocument* morv_document = nullptr;
};

}  // namespace ifp

#endif  // IFP_MORVDOCREADER_H
