#include "converter/dump/Formats.h"

#include <charconv>
#include <utility>

namespace morv::dump {

Sink::Sink(Writer writer) : writer_(std::move(writer)) { buffer_.reserve(kCapacity); }

Sink& Sink::operator<<(std::string_view text) {
  if (buffer_.size() + text.size() > kCapacity) Flush();
  buffer_.append(text);
  return *this;
}

Sink& Sink::operator<<(std::uint64_t number) { return Padded(number, 0); }

Sink& Sink::Padded(std::uint64_t number, std::size_t width) {
  char digits[20];
  const std::size_t length =
      static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, number).ptr - digits);
  if (width > length) *this << std::string(width - length, ' ');
  return *this << std::string_view(digits, length);
}

bool Sink::Flush() {
  if (!buffer_.empty() && !failed_) failed_ = !writer_(buffer_.data(), buffer_.size());
  buffer_.clear();
  return !failed_;
}

namespace {

// The columns of a text row: as wide as their heading, or as the widest
// value (65535; 255), the step column as the last step's index.
void WriteText(const PatternTable& table, Sink& out) {
  const std::uint32_t count = table.Count();
  std::size_t step_width = 4;
  for (std::uint64_t last = count == 0 ? 0 : count - 1; last >= 10000; last /= 10) ++step_width;
  out << "count " << count << "\n"
      << std::string(step_width - 4, ' ') << "step frame texture palette\n";
  for (std::uint32_t i = 0; i < count; ++i) {
    out.Padded(i, step_width) << " ";
    out.Padded(table.frames[i], 5) << " ";
    out.Padded(table.textures[i], 7) << " ";
    out.Padded(table.palettes[i], 7) << "\n";
  }
}

void WriteCsv(const PatternTable& table, Sink& out) {
  out << "step,frame,texture,palette\n";
  for (std::uint32_t i = 0; i < table.Count(); ++i) {
    out << i << "," << table.frames[i] << "," << table.textures[i] << "," << table.palettes[i]
        << "\n";
  }
}

// One step a line, so that a diff of two tables shows the steps that differ.
void WriteJson(const PatternTable& table, Sink& out) {
  out << "{\"count\": " << table.Count() << ", \"steps\": [";
  for (std::uint32_t i = 0; i < table.Count(); ++i) {
    out << (i == 0 ? "\n" : ",\n") << "  {\"frame\": " << table.frames[i]
        << ", \"texture\": " << table.textures[i] << ", \"palette\": " << table.palettes[i] << "}";
  }
  out << (table.Count() == 0 ? "]}\n" : "\n]}\n");
}

}  // namespace

void WriteTable(const PatternTable& table, Format format, Sink& out) {
  switch (format) {
    case Format::kText:
      return WriteText(table, out);
    case Format::kCsv:
      return WriteCsv(table, out);
    case Format::kJson:
      return WriteJson(table, out);
    case Format::kSvg:
      return WriteTimeline(table, out);
  }
}

}  // namespace morv::dump
