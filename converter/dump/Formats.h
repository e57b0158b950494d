#ifndef CONVERTER_DUMP_FORMATS_H
#define CONVERTER_DUMP_FORMATS_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "converter/TableFile.h"

namespace morv::dump {

// The forms a table is printed in. Every one is ASCII with "\n" line ends,
// the same bytes on every system.
enum class Format {
  kText,  // "count N", then a header and one aligned row per step
  kCsv,   // a header line "step,frame,texture,palette", one line per step
  kJson,  // {"count": N, "steps": [{"frame": f, "texture": t, "palette": p}, ...]}
  kSvg,   // the timeline (see WriteTimeline)
};

// Text on its way out, gathered in a buffer of fixed size and handed to a
// writer whenever that fills, so that a table of any length is printed in
// the same memory.
class Sink {
 public:
  // Takes `size` bytes; false when they were not all written.
  using Writer = std::function<bool(const char* bytes, std::size_t size)>;

  explicit Sink(Writer writer);
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  Sink& operator<<(std::string_view text);
  Sink& operator<<(std::uint64_t number);
  // `number` right-aligned in `width` columns.
  Sink& Padded(std::uint64_t number, std::size_t width);

  // Hands on what is gathered; false when any write so far has failed.
  bool Flush();

 private:
  static constexpr std::size_t kCapacity = 64 << 10;

  Writer writer_;
  std::string buffer_;
  bool failed_ = false;
};

// Prints `table` in `format`.
void WriteTable(const PatternTable& table, Format format, Sink& out);

// Draws `table` as a standalone SVG timeline: the frames along the x axis,
// the texture and the palette index as two lanes of coloured spans, one span
// for each run of steps with the same value, labelled where its value fits,
// and frame ticks below. When the frames increase from step to step, each
// step spans from its frame to the next step's frame, the last step one
// frame; otherwise the steps are placed by index, one unit each, and the
// axis counts steps. The axis is 8 pixels a unit, scaled to no less than 320
// and no more than 1200 pixels; a span narrower than a pixel is not drawn,
// so that the drawing's size stays within bounds however long the table.
void WriteTimeline(const PatternTable& table, Sink& out);

}  // namespace morv::dump

#endif  // CONVERTER_DUMP_FORMATS_H
