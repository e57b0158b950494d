#include "IntermediateFileParser/MorvDocReader.h"

#include <memory>

namespace ifp {

bool TMorvDocReader::Read(TMorvDocument* doc, const char* path) {
  morv_document = doc;
  return TAnmDocReader::Read(doc, path);
}

ELE_anm_data<int>* TMorvDocReader::IndexList(const std::string& name) const {
  ELE_tex_pattern_data& data = Document().tex_pattern_data;
  if (name == "frame_idx") return &data.frame_idx;
  if (name == "image_idx") return &data.image_idx;
  if (name == "palette_idx") return &data.palette_idx;
  return nullptr;
}

void TMorvDocReader::OnElement(const std::string& name, const TAttributes& attributes) {
  switch (GetDepth()) {
    case 2:
      if (name == "tex_pattern_info") {
        ReadPatternInfo(attributes);
      } else if (name == "tex_pattern_list_data") {
        ReadPatternListData(attributes);
      } else if (name == "tex_pattern_anm_array") {
        ReadPatternAnmArray(attributes);
      }
      break;
    case 3:
      if (name == "image_name") {
        AddNamedRecord(Document().tex_pattern_list_data.image_name, attributes);
      } else if (name == "palette_name") {
        AddNamedRecord(Document().tex_pattern_list_data.palette_name, attributes);
      } else if (name == "tex_pattern_anm") {
        AddPatternAnm(attributes);
      } else if (ELE_anm_data<int>* list = IndexList(name)) {
        ReadAnmDataSize(*list, attributes);
      }
      break;
    default:
      // The "body" element and anything directly below the root, or deeper
      // than the vocabulary goes, carries nothing.
      break;
  }
}

void TMorvDocReader::OnText(const std::string& name, const std::string& text) {
  if (ELE_anm_data<int>* list = IndexList(name)) ToIntList(list->data, text, list->size);
}

TXmlDocReader::TTextUse TMorvDocReader::BodyTextUse(const std::string& name) {
  // Same as OnText, read as the text arrives; no other body text is read.
  if (ELE_anm_data<int>* list = IndexList(name)) return TTextUse::IntList(*list);
  return TTextUse::Drop();
}

void TMorvDocReader::ReadPatternInfo(const TAttributes& attributes) {
  ELE_tex_pattern_info& info = Document().tex_pattern_info;
  for (const TAttribute& attribute : attributes) {
    const std::string& key = attribute.first;
    if (key == "frame_size") {
      info.frame_size = ToInt(attribute);
    } else if (key == "tool_start_frame") {
      info.tool_start_frame = ToInt(attribute);
    } else if (key == "tool_end_frame") {
      info.tool_end_frame = ToInt(attribute);
    } else if (key == "compress_material") {
      info.compress_material = IsOn(attribute);
    } else if (key == "material_size") {
      // Two values, a width and a height.
      ToIntList(info.material_size, attribute.second, 2);
    }
  }
}

void TMorvDocReader::ReadPatternListData(const TAttributes& attributes) {
  ELE_tex_pattern_list_data& list_data = Document().tex_pattern_list_data;
  for (const TAttribute& attribute : attributes) {
    if (attribute.first == "image_size") {
      list_data.image_size = ToInt(attribute);
      ReserveDeclared(list_data.image_name, list_data.image_size);
    } else if (attribute.first == "palette_size") {
      list_data.palette_size = ToInt(attribute);
      ReserveDeclared(list_data.palette_name, list_data.palette_size);
    }
  }
}

void TMorvDocReader::ReadPatternAnmArray(const TAttributes& attributes) {
  ELE_tex_pattern_anm_array& array = Document().tex_pattern_anm_array;
  for (const TAttribute& attribute : attributes) {
    if (attribute.first == "size") {
      array.size = ToInt(attribute);
      ReserveDeclared(array.tex_pattern_anm, array.size);
    }
  }
}

template <class Record>
void TMorvDocReader::AddNamedRecord(ptrvector<Record>& list, const TAttributes& attributes) {
  auto record = std::make_unique<Record>();
  for (const TAttribute& attribute : attributes) {
    if (attribute.first == "index") {
      record->index = ToInt(attribute);
    } else if (attribute.first == "name") {
      record->name = attribute.second;
    }
  }
  const std::string& name = record->name;
  AdoptRecord(list, std::move(record), {name});
}

void TMorvDocReader::AddPatternAnm(const TAttributes& attributes) {
  auto record = std::make_unique<ELE_tex_pattern_anm>();
  for (const TAttribute& attribute : attributes) {
    const std::string& key = attribute.first;
    if (key == "index") {
      record->index = ToInt(attribute);
    } else if (key == "material_name") {
      record->material_name = attribute.second;
    } else if (key == "data_size") {
      record->data_size = ToInt(attribute);
    } else if (key == "data_head") {
      record->data_head = ToInt(attribute);
    }
  }
  const std::string& material_name = record->material_name;
  AdoptRecord(Document().tex_pattern_anm_array.tex_pattern_anm, std::move(record), {material_name});
}

}  // namespace ifp
