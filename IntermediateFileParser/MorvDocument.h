#ifndef IFP_MORVDOCUMENT_H
#define IFP_MORVDOCUMENT_H

#include <cstdint>
#include <string>

#include "IntermediateFileParser/AnmData.h"
#include "IntermediateFileParser/XmlDocument.h"
#include "IntermediateFileParser/ptrvector.h"
#include "IntermediateFileParser/sizedvector.h"

namespace ifp {

// Element "tex_pattern_info": the pattern information.
struct ELE_tex_pattern_info {
  std::int32_t frame_size = 0;
  std::int32_t tool_start_frame = 0;
  std::int32_t tool_end_frame = 0;
  bool compress_material = false;
  sizedvector<int, 2> material_size;
};

// Element "image_name": one texture image of the pattern.
struct ELE_image_name {
  std::int32_t index = 0;
  std::string name;
};

// Element "palette_name": one palette of the pattern.
struct ELE_palette_name {
  std::int32_t index = 0;
  std::string name;
};

// Element "tex_pattern_list_data": the image and palette name lists.
struct ELE_tex_pattern_list_data {
  std::int32_t image_size = 0;
  std::int32_t palette_size = 0;
  ptrvector<ELE_image_name> image_name;
  ptrvector<ELE_palette_name> palette_name;
};

// The three index lists: which frame, which image, which palette.
struct ELE_tex_pattern_data {
  ELE_anm_data<int> frame_idx;
  ELE_anm_data<int> image_idx;
  ELE_anm_data<int> palette_idx;
};

// Element "tex_pattern_anm": the pattern animation of one material.
struct ELE_tex_pattern_anm {
  std::int32_t index = 0;
  std::string material_name;
  std::int32_t data_size = 0;
  std::int32_t data_head = 0;
};

// Element "tex_pattern_anm_array": the per-material records.
struct ELE_tex_pattern_anm_array {
  std::int32_t size = 0;
  ptrvector<ELE_tex_pattern_anm> tex_pattern_anm;
};

// A texture-pattern animation document: the head plus the pattern body.
class TMorvDocument : public TXmlDocument {
 public:
  TMorvDocument() = default;
  ~TMorvDocument() override = default;

  ELE_tex_pattern_info tex_pattern_info;
  ELE_tex_pattern_list_data tex_pattern_list_data;
  ELE_tex_pattern_data tex_pattern_data;
  ELE_tex_pattern_anm_array tex_pattern_anm_array;
};

}  // namespace ifp

#endif  // IFP_MORVDOCUMENT_H
