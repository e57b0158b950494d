#include <algorithm>
#include <functional>
#include <iterator>
#include <vector>

#include "converter/dump/Formats.h"

// The timeline: a drawing of fixed height whose width follows the table's
// frames up to a bound. Every coordinate is a whole pixel, worked out in
// integers, so that the drawing is the same on every system.
namespace morv::dump {
namespace {

constexpr std::uint64_t kUnitPixels = 8;       // a frame or a step this wide, unless
constexpr std::uint64_t kMinPlotWidth = 320;   // the axis would be shorter than this
constexpr std::uint64_t kMaxPlotWidth = 1200;  // or longer than this
constexpr std::uint64_t kLeft = 64;            // room for the lanes' names
constexpr std::uint64_t kRight = 40;           // room for the last tick's label
constexpr std::uint64_t kHeight = 120;
constexpr std::uint64_t kLaneHeight = 24;
constexpr std::uint64_t kTextureTop = 28;
constexpr std::uint64_t kPaletteTop = 60;
constexpr std::uint64_t kAxisY = 92;
constexpr std::uint64_t kBaseline = 16;    // of a label, below the top of its lane
constexpr std::uint64_t kDigitPixels = 7;  // about a digit's width at 12 px

// A value's colour: twelve light colours, black text readable on each, in
// turn (a colour returns every twelve values; the label tells them apart).
constexpr const char* kColours[] = {"#8dd3c7", "#ffffb3", "#bebada", "#fb8072",
                                    "#80b1d3", "#fdb462", "#b3de69", "#fccde5",
                                    "#d9d9d9", "#bc80bd", "#ccebc5", "#ffed6f"};

std::uint64_t Digits(std::uint64_t number) {
  std::uint64_t digits = 1;
  for (; number >= 10; number /= 10) ++digits;
  return digits;
}

// Where steps stand along the x axis, in units of frames or steps.
class Axis {
 public:
  explicit Axis(const PatternTable& table)
      : table_(table),
        by_frame_(table.Count() > 0 &&
                  std::adjacent_find(table.frames.begin(), table.frames.end(),
                                     std::greater_equal<>()) == table.frames.end()),
        first_(by_frame_ ? table.frames.front() : 0),
        end_(by_frame_ ? table.frames.back() + std::uint64_t{1} : table.Count()),
        plot_(std::clamp((end_ - first_) * kUnitPixels, kMinPlotWidth, kMaxPlotWidth)) {}

  // Whether the units are frames: the frames increase from step to step.
  bool ByFrame() const { return by_frame_; }
  std::uint64_t First() const { return first_; }
  // Where the last step ends.
  std::uint64_t End() const { return end_; }
  std::uint64_t Width() const { return kLeft + plot_ + kRight; }
  std::uint64_t AxisEnd() const { return kLeft + plot_; }
  // Where a step begins.
  std::uint64_t Begin(std::uint32_t step) const { return by_frame_ ? table_.frames[step] : step; }
  // The x coordinate of a unit, rounded to the pixel.
  std::uint64_t X(std::uint64_t unit) const {
    const std::uint64_t units = end_ - first_;
    return units == 0 ? kLeft : kLeft + ((unit - first_) * plot_ + units / 2) / units;
  }
  // The least of 1, 2, 5, 10, 20, 50, ... units between ticks that leaves
  // room for the longest label.
  std::uint64_t TickSpacing() const {
    const std::uint64_t room = Digits(end_) * kDigitPixels + 12;
    std::uint64_t spacing = 1;
    for (int k = 0; spacing * plot_ < room * (end_ - first_); ++k) {
      spacing = k % 3 == 1 ? spacing * 5 / 2 : spacing * 2;
    }
    return spacing;
  }

 private:
  const PatternTable& table_;
  const bool by_frame_;
  const std::uint64_t first_;
  const std::uint64_t end_;
  const std::uint64_t plot_;
};

// Calls `span(x0, x1, value)` for each run of steps with the same value, at
// least a pixel wide, in order.
template <class Span>
void ForEachSpan(const Axis& axis, const std::vector<std::uint8_t>& values, Span span) {
  const auto count = static_cast<std::uint32_t>(values.size());
  std::uint32_t start = 0;
  for (std::uint32_t i = 1; i <= count; ++i) {
    if (i < count && values[i] == values[start]) continue;
    const std::uint64_t x0 = axis.X(axis.Begin(start));
    const std::uint64_t x1 = axis.X(i < count ? axis.Begin(i) : axis.End());
    if (x1 > x0) span(x0, x1, values[start]);
    start = i;
  }
}

}  // namespace

void WriteTimeline(const PatternTable& table, Sink& out) {
  const Axis axis(table);
  const std::uint64_t width = axis.Width();
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << kHeight
      << "\" viewBox=\"0 0 " << width << " " << kHeight
      << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
      << "<title>texture-pattern table: " << table.Count() << " steps</title>\n"
      << "<rect width=\"" << width << "\" height=\"" << kHeight << "\" fill=\"#ffffff\"/>\n"
      << "<text x=\"" << kLeft << "\" y=\"18\">" << table.Count() << " steps";
  if (axis.ByFrame()) {
    out << ", frames " << axis.First() << " to " << table.frames.back();
  } else if (table.Count() > 0) {
    out << " by index: the frames do not increase";
  }
  out << "</text>\n<g text-anchor=\"end\">\n";
  const struct {
    const char* name;
    const std::vector<std::uint8_t>& values;
    std::uint64_t top;
  } lanes[] = {{"texture", table.textures, kTextureTop}, {"palette", table.palettes, kPaletteTop}};
  for (const auto& lane : lanes) {
    out << "<text x=\"" << kLeft - 6 << "\" y=\"" << lane.top + kBaseline << "\">" << lane.name
        << "</text>\n";
  }
  out << "<text x=\"" << kLeft - 6 << "\" y=\"" << kAxisY + 18 << "\">"
      << (axis.ByFrame() ? "frame" : "step") << "</text>\n</g>\n";

  // The spans, then their labels: a label only where its digits fit.
  out << "<g stroke=\"#ffffff\">\n";
  for (const auto& lane : lanes) {
    ForEachSpan(axis, lane.values, [&](std::uint64_t x0, std::uint64_t x1, std::uint8_t value) {
      out << "<rect x=\"" << x0 << "\" y=\"" << lane.top << "\" width=\"" << x1 - x0
          << "\" height=\"" << kLaneHeight << "\" fill=\"" << kColours[value % std::size(kColours)]
          << "\"/>\n";
    });
  }
  out << "</g>\n<g text-anchor=\"middle\">\n";
  for (const auto& lane : lanes) {
    ForEachSpan(axis, lane.values, [&](std::uint64_t x0, std::uint64_t x1, std::uint8_t value) {
      if (x1 - x0 < Digits(value) * kDigitPixels + 4) return;
      out << "<text x=\"" << (x0 + x1) / 2 << "\" y=\"" << lane.top + kBaseline << "\">" << value
          << "</text>\n";
    });
  }

  // The axis with its ticks, every tick labelled.
  const std::uint64_t spacing = axis.TickSpacing();
  const std::uint64_t first_tick = (axis.First() + spacing - 1) / spacing * spacing;
  out << "</g>\n<g stroke=\"#000000\">\n<line x1=\"" << axis.X(axis.First()) << "\" y1=\"" << kAxisY
      << "\" x2=\"" << axis.AxisEnd() << "\" y2=\"" << kAxisY << "\"/>\n";
  for (std::uint64_t tick = first_tick; tick <= axis.End(); tick += spacing) {
    out << "<line x1=\"" << axis.X(tick) << "\" y1=\"" << kAxisY << "\" x2=\"" << axis.X(tick)
        << "\" y2=\"" << kAxisY + 5 << "\"/>\n";
  }
  out << "</g>\n<g text-anchor=\"middle\">\n";
  for (std::uint64_t tick = first_tick; tick <= axis.End(); tick += spacing) {
    out << "<text x=\"" << axis.X(tick) << "\" y=\"" << kAxisY + 18 << "\">" << tick << "</text>\n";
  }
  out << "</g>\n</svg>\n";
}

}  // namespace morv::dump
