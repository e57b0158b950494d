// The document model: initial values, and the ownership rules of the lists.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <vector>

#include "IntermediateFileParser/MorvDocument.h"
#include "IntermediateFileParser/ptrvector.h"
#include "IntermediateFileParser/sizedvector.h"

// The replaced operator new below pairs malloc with free, which the compiler
// cannot see through.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

// Every allocation of this test program is counted, so that a test can see
// that a document gives back all it took.
static long g_live_allocations = 0;

void* operator new(std::size_t size) {
  ++g_live_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  if (p != nullptr) --g_live_allocations;
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace ifp {
namespace {

// A record that writes its id into a log when it is destroyed.
struct Tracked {
  Tracked(int tracked_id, std::vector<int>& destroyed) : id(tracked_id), log(destroyed) {}
  ~Tracked() { log.push_back(id); }
  int id;
  std::vector<int>& log;
};

class PtrVectorTest : public ::testing::Test {
 protected:
  // A list of `count` records with ids 0, 1, ...; null where `nulls` says.
  std::unique_ptr<ptrvector<Tracked>> MakeList(int count, std::vector<int> nulls = {}) {
    auto list = std::make_unique<ptrvector<Tracked>>();
    for (int i = 0; i < count; ++i) {
      const bool null = std::find(nulls.begin(), nulls.end(), i) != nulls.end();
      list->push_back(null ? nullptr : new Tracked(i, destroyed));
    }
    return list;
  }
  std::vector<int> destroyed;
};

TEST_F(PtrVectorTest, EraseOfAMiddleRangeDeletesExactlyThoseRecords) {
  auto list = MakeList(4);
  Tracked* fourth = (*list)[3];
  const auto next = list->erase(list->begin() + 1, list->begin() + 3);
  EXPECT_EQ(destroyed, (std::vector<int>{1, 2}));
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ((*list)[1], fourth);
  EXPECT_EQ(next, list->begin() + 1);
  EXPECT_GE(list->capacity(), 4u);
}

TEST_F(PtrVectorTest, EmptyRangesDeleteNothing) {
  ptrvector<Tracked> empty;
  EXPECT_EQ(empty.erase(empty.begin(), empty.end()), empty.begin());

  auto list = MakeList(3);
  const auto at = list->begin() + 1;
  EXPECT_EQ(list->erase(at, at), list->begin() + 1);
  EXPECT_EQ(list->size(), 3u);
  EXPECT_TRUE(destroyed.empty());
}

TEST_F(PtrVectorTest, DestructionDeletesEveryRecordOnceInIndexOrderSkippingNulls) {
  auto list = MakeList(5, {1, 3});
  list.reset();
  EXPECT_EQ(destroyed, (std::vector<int>{0, 2, 4}));
}

TEST_F(PtrVectorTest, ErasingARangeWithNullsDeletesOnlyTheRecords) {
  auto list = MakeList(4, {0, 2});
  list->erase(list->begin(), list->begin() + 3);
  EXPECT_EQ(destroyed, (std::vector<int>{1}));
  list.reset();
  EXPECT_EQ(destroyed, (std::vector<int>{1, 3}));
}

// Every operation that drops entries deletes their records, exactly those,
// once each; a move hands the records over. Lists hold records 0..4, record
// 3 null; an operation may use a second list of records 10 and 11.
TEST_F(PtrVectorTest, EveryOperationThatDropsEntriesDeletesTheirRecords) {
  struct Row {
    const char* operation;
    std::function<void(ptrvector<Tracked>& list, ptrvector<Tracked>& other)> apply;
    std::vector<int> destroyed;  // by the operation itself
    std::vector<int> remaining;  // ids left in `list`, -1 for a null entry
  };
  const std::vector<Row> rows = {
      {"clear", [](auto& list, auto&) { list.clear(); }, {0, 1, 2, 4}, {}},
      {"pop_back", [](auto& list, auto&) { list.pop_back(); }, {4}, {0, 1, 2, -1}},
      {"pop_back of a null entry",
       [](auto& list, auto&) {
         list.pop_back();
         list.pop_back();
       },
       {4},
       {0, 1, 2}},
      {"shrinking resize", [](auto& list, auto&) { list.resize(2); }, {2, 4}, {0, 1}},
      {"growing resize", [](auto& list, auto&) { list.resize(6); }, {}, {0, 1, 2, -1, 4, -1}},
      {"erase of one entry",
       [](auto& list, auto&) { list.erase(list.begin() + 1); },
       {1},
       {0, 2, -1, 4}},
      {"move construction",
       [](auto& list, auto&) {
         ptrvector<Tracked> taken(std::move(list));
         EXPECT_TRUE(list.empty());  // NOLINT(bugprone-use-after-move)
         EXPECT_EQ(taken.size(), 5u);
       },
       {0, 1, 2, 4},
       {}},
      {"move assignment onto a full list",
       [](auto& list, auto& other) { list = std::move(other); },
       {0, 1, 2, 4},
       {10, 11}},
      {"move assignment to itself",
       [](auto& list, auto&) {
         auto& self = list;
         list = std::move(self);
       },
       {},
       {0, 1, 2, -1, 4}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.operation);
    destroyed.clear();
    auto list = MakeList(5, {3});
    ptrvector<Tracked> other;
    other.push_back(new Tracked(10, destroyed));
    other.push_back(new Tracked(11, destroyed));
    row.apply(*list, other);
    EXPECT_EQ(destroyed, row.destroyed);
    std::vector<int> remaining;
    for (const Tracked* record : *list) remaining.push_back(record != nullptr ? record->id : -1);
    EXPECT_EQ(remaining, row.remaining);
    destroyed.clear();
    list.reset();
    // Whatever is left is deleted once by the destructor: nothing twice,
    // nothing lost (the sanitizer build checks for leaks).
    std::vector<int> expected_at_end;
    for (int id : row.remaining) {
      if (id >= 0) expected_at_end.push_back(id);
    }
    EXPECT_EQ(destroyed, expected_at_end);
  }
}

TEST(SizedVectorTest, ReservesItsRoomAndGrowsPastIt) {
  sizedvector<int, 2> list;
  EXPECT_EQ(list.size(), 0u);
  EXPECT_EQ(list.capacity(), 2u);
  list.push_back(1);
  list.push_back(2);
  EXPECT_EQ(list.capacity(), 2u);
  list.push_back(3);
  EXPECT_EQ(list, (std::vector<int>{1, 2, 3}));
}

TEST(DocumentTest, AFreshDocumentIsEmpty) {
  const TMorvDocument doc;
  EXPECT_TRUE(doc.root_name.empty() && doc.version.empty() && doc.title.empty() &&
              doc.comment.empty());
  EXPECT_TRUE(doc.create.user.empty() && doc.create.host.empty() && doc.create.date.empty() &&
              doc.create.source.empty());
  EXPECT_TRUE(doc.generator.name.empty() && doc.generator.version.empty());
  const ELE_tex_pattern_info& info = doc.tex_pattern_info;
  EXPECT_EQ(info.frame_size, 0);
  EXPECT_EQ(info.tool_start_frame, 0);
  EXPECT_EQ(info.tool_end_frame, 0);
  EXPECT_FALSE(info.compress_material);
  EXPECT_TRUE(info.material_size.empty());
  EXPECT_EQ(info.material_size.capacity(), 2u);
  EXPECT_EQ(doc.tex_pattern_list_data.image_size, 0);
  EXPECT_EQ(doc.tex_pattern_list_data.palette_size, 0);
  EXPECT_TRUE(doc.tex_pattern_list_data.image_name.empty());
  EXPECT_TRUE(doc.tex_pattern_list_data.palette_name.empty());
  for (const ELE_anm_data<int>* list :
       {&doc.tex_pattern_data.frame_idx, &doc.tex_pattern_data.image_idx,
        &doc.tex_pattern_data.palette_idx}) {
    EXPECT_EQ(list->size, 0);
    EXPECT_TRUE(list->data.empty());
    EXPECT_EQ(list->data.capacity(), 0u);
  }
  EXPECT_EQ(doc.tex_pattern_anm_array.size, 0);
  EXPECT_TRUE(doc.tex_pattern_anm_array.tex_pattern_anm.empty());
}

TEST(DocumentTest, DestroyingADocumentFreesEveryRecordItOwns) {
  const long before = g_live_allocations;
  auto doc = std::make_unique<TMorvDocument>();
  auto& names = doc->tex_pattern_list_data;
  names.image_name.push_back(new ELE_image_name{1, "a long enough name to need the heap"});
  names.image_name.push_back(nullptr);
  names.palette_name.push_back(new ELE_palette_name{2, "b"});
  doc->tex_pattern_anm_array.tex_pattern_anm.push_back(nullptr);
  doc->tex_pattern_anm_array.tex_pattern_anm.push_back(new ELE_tex_pattern_anm{0, "m", 3, 0});
  doc->tex_pattern_data.frame_idx.data.assign(100, 7);
  EXPECT_GT(g_live_allocations, before + 4);
  doc.reset();
  EXPECT_EQ(g_live_allocations, before);
}

static_assert(!std::is_copy_constructible_v<TMorvDocument>);
static_assert(!std::is_copy_assignable_v<TXmlDocument>);
static_assert(!std::is_copy_constructible_v<ptrvector<ELE_image_name>>);
static_assert(!std::is_copy_assignable_v<ptrvector<ELE_image_name>>);
static_assert(std::is_nothrow_move_constructible_v<ptrvector<ELE_image_name>>);
static_assert(std::is_nothrow_move_assignable_v<ptrvector<ELE_image_name>>);
static_assert(std::has_virtual_destructor_v<ptrvector<ELE_image_name>>);

}  // namespace
}  // namespace ifp
