// The texture-pattern vocabulary: which element at which depth fills which
// member, and when a list's count check fails the read.

#include "IntermediateFileParser/MorvDocReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "IntermediateFileParser/MorvDocument.h"
#include "TestSupport.h"

namespace morv::test {
namespace {

class MorvDocReaderTest : public ScratchTest<XmlPlatformTest> {
 protected:
  // Reads a document whose body is `body` into a fresh document.
  bool ReadBody(const std::string& body) {
    doc = std::make_unique<ifp::TMorvDocument>();
    return reader.Read(doc.get(), WriteFile(dir / "doc.xml", Document({.body = body})).c_str());
  }
  ifp::TMorvDocReader reader;
  std::unique_ptr<ifp::TMorvDocument> doc;
};

struct InfoCase {
  std::string attributes = "";
  bool reads = true;
  int frame_size = 0, tool_start_frame = 0, tool_end_frame = 0;
  bool compress_material = false;
  std::vector<int> material_size = {};
};

TEST_F(MorvDocReaderTest, PatternInfoAttributes) {
  const InfoCase cases[] = {
      {.attributes = "frame_size='12abc' tool_start_frame='abc' tool_end_frame=' +7'",
       .frame_size = 12,
       .tool_end_frame = 7},
      {.attributes = "frame_size='3000000000' tool_start_frame='-3000000000'",
       .frame_size = INT_MAX,
       .tool_start_frame = INT_MIN},
      {.attributes = "compress_material='on' material_size='4 2'",
       .compress_material = true,
       .material_size = {4, 2}},
      {.attributes = "compress_material='On'"},
      {.attributes = "compress_material='ON'"},
      {.attributes = "compress_material='1'"},
      {.attributes = "compress_material='on '"},
      {.attributes = "compress_material=''"},
      {.attributes = "material_size='4'", .reads = false, .material_size = {4}},
      {.attributes = "material_size='1 2 3'", .reads = false, .material_size = {1, 2}},
      {.attributes = "material_size='1&#9;2'", .material_size = {1, 2}},
      {.attributes = "Frame_size='5' frame_size='6' FRAME_SIZE='7'", .frame_size = 6},
  };
  for (const InfoCase& c : cases) {
    SCOPED_TRACE(c.attributes);
    EXPECT_EQ(ReadBody("<tex_pattern_info " + c.attributes + "/>"), c.reads);
    const ifp::ELE_tex_pattern_info& info = doc->tex_pattern_info;
    EXPECT_EQ(info.frame_size, c.frame_size);
    EXPECT_EQ(info.tool_start_frame, c.tool_start_frame);
    EXPECT_EQ(info.tool_end_frame, c.tool_end_frame);
    EXPECT_EQ(info.compress_material, c.compress_material);
    EXPECT_EQ(info.material_size, c.material_size);
  }
}

TEST_F(MorvDocReaderTest, ASecondPatternInfoOverwritesAndAppends) {
  EXPECT_TRUE(
      ReadBody("<tex_pattern_info frame_size='1' tool_end_frame='9' compress_material='on'/>"
               "<tex_pattern_info frame_size='2' compress_material='off' material_size='1 1'/>"
               "<x><tex_pattern_info frame_size='3' material_size='5'/></x>"));  // too deep
  EXPECT_EQ(doc->tex_pattern_info.frame_size, 2);
  EXPECT_EQ(doc->tex_pattern_info.tool_end_frame, 9);
  EXPECT_FALSE(doc->tex_pattern_info.compress_material);
  EXPECT_FALSE(
      ReadBody("<tex_pattern_info material_size='1 2'/>"
               "<tex_pattern_info material_size='3 4'/>"));
  // The second list fails at its first value too many.
  EXPECT_EQ(doc->tex_pattern_info.material_size, (std::vector<int>{1, 2}));
}

TEST_F(MorvDocReaderTest, NameListsKeepDocumentOrderWhateverTheDeclaredSize) {
  ASSERT_TRUE(
      ReadBody("<tex_pattern_list_data image_size='2' palette_size='2000000000'>"
               "<image_name index='7' name='a'/><image_name index='7' name='b'/>"
               "<image_name index='-1' name='c' extra='x'/>"
               "<palette_name index='3' name='p'/>"
               "<x><image_name index='99' name='too deep'/></x>"
               "</tex_pattern_list_data>"
               "<image_name index='98' name='too shallow'/>"));
  const ifp::ELE_tex_pattern_list_data& lists = doc->tex_pattern_list_data;
  EXPECT_EQ(lists.image_size, 2);
  EXPECT_EQ(lists.palette_size, 2000000000);
  ASSERT_EQ(lists.image_name.size(), 3u);
  EXPECT_EQ(lists.image_name[0]->index, 7);
  EXPECT_EQ(lists.image_name[0]->name, "a");
  EXPECT_EQ(lists.image_name[1]->name, "b");
  EXPECT_EQ(lists.image_name[2]->index, -1);
  EXPECT_EQ(lists.image_name[2]->name, "c");
  ASSERT_EQ(lists.palette_name.size(), 1u);
  EXPECT_EQ(lists.palette_name[0]->index, 3);
  // An absurd declared size reserves no more than the document could hold.
  EXPECT_LT(lists.palette_name.capacity(), 10000u);
}

TEST_F(MorvDocReaderTest, AnAbsurdDeclaredCountReservesNoMoreThanTheDocumentCanHold) {
  // A document of 1 MB declaring two thousand million entries for every
  // list: each entry would take at least two of its bytes. A name or record
  // list gets its room from the declaration; an index list when its text
  // starts (its one value then fails the count, after the room was made).
  const std::string padding = "<!--" + std::string(1'000'000, 'c') + "-->";
  ASSERT_TRUE(ReadBody(padding +
                       "<tex_pattern_list_data image_size='2000000000' palette_size='2000000000'/>"
                       "<tex_pattern_anm_array size='2000000000'/>"));
  const std::size_t most = std::filesystem::file_size(dir / "doc.xml") / 2 + 1;
  std::vector<std::size_t> capacities = {
      doc->tex_pattern_list_data.image_name.capacity(),
      doc->tex_pattern_list_data.palette_name.capacity(),
      doc->tex_pattern_anm_array.tex_pattern_anm.capacity(),
  };
  for (const char* name : {"frame_idx", "image_idx", "palette_idx"}) {
    ASSERT_FALSE(ReadBody(padding + "<d><" + name + " size='2000000000'>1</" + name + "></d>"));
    const ifp::ELE_tex_pattern_data& data = doc->tex_pattern_data;
    capacities.push_back(std::max({data.frame_idx.data.capacity(), data.image_idx.data.capacity(),
                                   data.palette_idx.data.capacity()}));
  }
  for (const std::size_t capacity : capacities) {
    EXPECT_GT(capacity, 0u);
    EXPECT_LE(capacity, most);
  }
}

TEST_F(MorvDocReaderTest, PatternAnmRecords) {
  ASSERT_TRUE(
      ReadBody("<tex_pattern_anm_array size='-5'>"
               "<tex_pattern_anm index='1' material_name='mat' data_size='36' data_head='4'/>"
               "<tex_pattern_anm material_name='m2'/>"
               "</tex_pattern_anm_array>"));
  const ifp::ELE_tex_pattern_anm_array& array = doc->tex_pattern_anm_array;
  EXPECT_EQ(array.size, -5);
  ASSERT_EQ(array.tex_pattern_anm.size(), 2u);
  const ifp::ELE_tex_pattern_anm& first = *array.tex_pattern_anm[0];
  EXPECT_EQ(first.index, 1);
  EXPECT_EQ(first.material_name, "mat");
  EXPECT_EQ(first.data_size, 36);
  EXPECT_EQ(first.data_head, 4);
  EXPECT_EQ(array.tex_pattern_anm[1]->material_name, "m2");
  EXPECT_EQ(array.tex_pattern_anm[1]->data_size, 0);
}

struct ListCase {
  const char* what;
  std::string body;
  bool reads;
  int size;
  std::vector<int> frames;
};

const ListCase kListCases[] = {
    {"blanks", "<d><frame_idx size='3'>0 10 20</frame_idx></d>", true, 3, {0, 10, 20}},
    {"lines, tabs, blanks",
     "<d><frame_idx size='3'>\n 0\t\t10\n   20 \n</frame_idx></d>",
     true,
     3,
     {0, 10, 20}},
    {"a word is 0", "<d><frame_idx size='3'>0 x 20</frame_idx></d>", true, 3, {0, 0, 20}},
    {"commas make one token", "<d><frame_idx size='3'>0,10,20</frame_idx></d>", false, 3, {0}},
    {"too few", "<d><frame_idx size='3'>1 2</frame_idx></d>", false, 3, {1, 2}},
    {"too many", "<d><frame_idx size='2'>1 2 3</frame_idx></d>", false, 2, {1, 2}},
    {"no text, no check", "<d><frame_idx size='2'/></d>", true, 2, {}},
    {"no size, blank text", "<d><frame_idx> \n </frame_idx></d>", true, 0, {}},
    {"no size, a number", "<d><frame_idx>1</frame_idx></d>", false, 0, {}},
    {"size 5x", "<d><frame_idx size='5x'/></d>", true, 5, {}},
    {"negative size, no text", "<d><frame_idx size='-1'></frame_idx></d>", true, -1, {}},
    {"two lists append",
     "<d><frame_idx size='2'>1 2</frame_idx><frame_idx size='2'>3 4"
     "</frame_idx></d>",
     false,
     2,
     {1, 2}},
    {"a comment joins the numbers around it",
     "<d><frame_idx size='2'>1 <!-- c -->2</frame_idx></d>",
     true,
     2,
     {1, 2}},
    {"a character reference separates",
     "<d><frame_idx size='2'>1&#10;2</frame_idx></d>",
     true,
     2,
     {1, 2}},
    {"a comment inside a number",
     "<d><frame_idx size='1'>1<!-- c -->2</frame_idx></d>",
     true,
     1,
     {12}},
    {"too deep for its size, but its text counts",
     "<d><frame_idx size='1'/><x><frame_idx size='9'>5</frame_idx></x></d>",
     true,
     1,
     {5}},
    {"at depth 2 its size is not read", "<frame_idx size='1'>5</frame_idx>", false, 0, {}},
    {"case variants are other elements", "<d><Frame_idx size='1'>5</Frame_idx></d>", true, 0, {}},
    {"text after a child element is dropped",
     "<d><frame_idx size='1'>5<b/>6 7</frame_idx></d>",
     true,
     1,
     {5}},
};

class MorvDocReaderListTest : public MorvDocReaderTest,
                              public ::testing::WithParamInterface<ListCase> {};

TEST_P(MorvDocReaderListTest, IsReadAndItsCountChecked) {
  const ListCase& c = GetParam();
  EXPECT_EQ(ReadBody(c.body), c.reads);
  EXPECT_EQ(reader.GetFailure().kind,
            c.reads ? ifp::TReadFailure::TKind::kNone : ifp::TReadFailure::TKind::kCount);
  EXPECT_EQ(doc->tex_pattern_data.frame_idx.size, c.size);
  EXPECT_EQ(doc->tex_pattern_data.frame_idx.data, c.frames);
}

INSTANTIATE_TEST_SUITE_P(IndexLists, MorvDocReaderListTest, ::testing::ValuesIn(kListCases),
                         NameRowByWhat());

TEST_F(MorvDocReaderTest, EachListHasItsOwnElement) {
  ASSERT_TRUE(
      ReadBody("<tex_pattern_data><frame_idx size='2'>0 30</frame_idx>"
               "<image_idx size='3'>1 2 3</image_idx><palette_idx size='1'>-4</palette_idx>"
               "</tex_pattern_data>"));
  const ifp::ELE_tex_pattern_data& data = doc->tex_pattern_data;
  EXPECT_EQ(data.frame_idx.data, (std::vector<int>{0, 30}));
  EXPECT_EQ(data.image_idx.size, 3);
  EXPECT_EQ(data.image_idx.data, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(data.palette_idx.size, 1);
  EXPECT_EQ(data.palette_idx.data, (std::vector<int>{-4}));
}

TEST_F(MorvDocReaderTest, AHugeListStraddlingTheParsersBufferReadsWhole) {
  // About 2 MiB of numbers: the parser hands them over in pieces, some cut
  // inside a number.
  std::string text;
  std::vector<int> expected;
  for (int i = 0; text.size() < 2'200'000; ++i) {
    expected.push_back(i * 7 % 100003);
    text += std::to_string(expected.back()) + (i % 16 == 15 ? "\n" : " ");
  }
  ASSERT_TRUE(ReadBody("<d><frame_idx size='" + std::to_string(expected.size()) + "'>" + text +
                       "</frame_idx></d>"));
  EXPECT_EQ(doc->tex_pattern_data.frame_idx.data, expected);
}

TEST_F(MorvDocReaderTest, HeadElementsBeforeTheBodyNeverReachTheVocabulary) {
  doc = std::make_unique<ifp::TMorvDocument>();
  const std::string path = WriteFile(dir / "head.xml",
                                     "<doc><head><x><frame_idx size='1'>1 2 3</frame_idx></x>"
                                     "<tex_pattern_info frame_size='5'/></head></doc>");
  ASSERT_TRUE(reader.Read(doc.get(), path.c_str()));
  EXPECT_EQ(doc->tex_pattern_data.frame_idx.size, 0);
  EXPECT_EQ(doc->tex_pattern_info.frame_size, 0);
}

}  // namespace
}  // namespace morv::test
