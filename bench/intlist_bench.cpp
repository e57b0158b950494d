// intlist_bench: how fast TIntListBuilder reads number lists like those of
// the large benchmark document (bench/generate.py), as UTF-16 text in the
// pieces the parser hands over. Reports nanoseconds per UTF-16 unit.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "IntermediateFileParser/internal/numbers/IntList.h"

namespace {

constexpr int kValues = 600000;          // values per list
constexpr std::size_t kPiece = 1 << 20;  // units per piece, as the parser delivers them
constexpr int kPerLine = 20;

// The three lists of the document, and one that is not: half its values
// are negative, so every other token goes the exact way.
enum TListKind { kFrame, kTexture, kPalette, kSigned };

int ValueOf(TListKind kind, int i) {
  switch (kind) {
    case kFrame:
      return static_cast<int>((std::int64_t{i} * 7) % 60001);
    case kTexture:
      return (i * 13) % 256;
    case kPalette:
      return (i * 5) % 16;
    case kSigned:
      return static_cast<int>((std::int64_t{i} * 7) % 60001) - 30000;
  }
  return 0;
}

// The text of one list element: a line feed after the start tag, 20 values
// a line separated by blanks, and the indentation of the end tag.
std::u16string ListText(TListKind kind) {
  std::string text = "\n";
  for (int i = 0; i < kValues; ++i) {
    text += std::to_string(ValueOf(kind, i));
    text += (i + 1) % kPerLine == 0 || i + 1 == kValues ? '\n' : ' ';
  }
  text += "      ";
  return {text.begin(), text.end()};
}

const std::u16string& CachedText(TListKind kind) {
  static const std::u16string texts[] = {ListText(kFrame), ListText(kTexture), ListText(kPalette),
                                         ListText(kSigned)};
  return texts[kind];
}

void AppendInPieces(std::vector<int>& values, const std::u16string& text,
                    ifp::internal::TScanPath path) {
  ifp::internal::TIntListBuilder builder(values, kValues, path);
  for (std::size_t at = 0; at < text.size(); at += kPiece) {
    const std::size_t length = text.size() - at < kPiece ? text.size() - at : kPiece;
    builder.Append(text.data() + at, length);
  }
  builder.Finish();
}

// A fast wrong answer must not pass: the values are checked once.
bool Check(benchmark::State& state, const std::vector<int>& values, TListKind kind) {
  bool right = values.size() == kValues;
  for (int i = 0; right && i < kValues; ++i) right = values[i] == ValueOf(kind, i);
  if (!right) state.SkipWithError("wrong values");
  return right;
}

void ReportPerUnit(benchmark::State& state, std::size_t units, std::size_t values) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * values));
  // Seconds per unit, printed with an SI prefix ("250p" is 0.25 ns).
  state.counters["per_unit"] =
      benchmark::Counter(static_cast<double>(units), benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

// The path the benchmark's argument names; false when it cannot be taken here.
bool PathOf(benchmark::State& state, ifp::internal::TScanPath& path) {
  path = static_cast<ifp::internal::TScanPath>(state.range(0));
  if (ifp::internal::CanTakeScanPath(path)) return true;
  state.SkipWithError("this processor cannot take the path");
  return false;
}

// One list, read into a list whose room is already reserved.
void BM_List(benchmark::State& state, TListKind kind) {
  ifp::internal::TScanPath path;
  if (!PathOf(state, path)) return;
  const std::u16string& text = CachedText(kind);
  std::vector<int> values;
  values.reserve(kValues);
  for (auto _ : state) {
    values.clear();
    AppendInPieces(values, text, path);
    benchmark::DoNotOptimize(values.data());
  }
  if (!Check(state, values, kind)) return;
  ReportPerUnit(state, text.size(), kValues);
}

// The three lists of a document one after the other.
void BM_Document(benchmark::State& state) {
  ifp::internal::TScanPath path;
  if (!PathOf(state, path)) return;
  std::vector<int> lists[3];
  std::size_t units = 0;
  for (std::vector<int>& list : lists) list.reserve(kValues);
  for (const TListKind kind : {kFrame, kTexture, kPalette}) units += CachedText(kind).size();
  for (auto _ : state) {
    for (const TListKind kind : {kFrame, kTexture, kPalette}) {
      lists[kind].clear();
      AppendInPieces(lists[kind], CachedText(kind), path);
      benchmark::DoNotOptimize(lists[kind].data());
    }
  }
  for (const TListKind kind : {kFrame, kTexture, kPalette}) {
    if (!Check(state, lists[kind], kind)) return;
  }
  ReportPerUnit(state, units, 3 * kValues);
}

// Each benchmark once per path, by its number: 0 portable, 1 SSE2, 2 AVX2.
void Paths(benchmark::internal::Benchmark* benchmark) {
  benchmark->ArgName("path")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
}

BENCHMARK_CAPTURE(BM_List, frame_idx, kFrame)->Apply(Paths);
BENCHMARK_CAPTURE(BM_List, image_idx, kTexture)->Apply(Paths);
BENCHMARK_CAPTURE(BM_List, palette_idx, kPalette)->Apply(Paths);
BENCHMARK_CAPTURE(BM_List, signed, kSigned)->Apply(Paths);
BENCHMARK(BM_Document)->Apply(Paths);

}  // namespace

BENCHMARK_MAIN();
