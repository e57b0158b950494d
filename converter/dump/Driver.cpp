#include "converter/dump/Driver.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "converter/Driver.h"
#include "converter/Messages.h"
#include "converter/MorvConv.h"
#include "converter/OutputFile.h"
#include "converter/TableFile.h"
#include "converter/dump/Formats.h"
#include "converter/dump/Messages.h"
#include "platform/AppFramework.h"
#include "platform/Console.h"
#include "platform/InputFile.h"

namespace morv::dump {
namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

// A message to standard error, its "%s" replaced by the texts in turn.
template <class... Texts>
void Say(const char* message, const Texts&... texts) {
  if constexpr (sizeof...(texts) == 0) {
    std::fputs(message, stderr);
  } else {
    std::fprintf(stderr, message, std::string(texts).c_str()...);
  }
}

struct Options {
  std::optional<Format> format;         // printed to standard output
  std::optional<std::string> svg;       // the timeline's file
  std::optional<std::string> document;  // compared with
  std::optional<std::string> table;
  bool help = false;
  bool version = false;
};

std::optional<Format> FormatNamed(const std::string& name) {
  for (const auto& [known, format] :
       {std::pair{"text", Format::kText}, std::pair{"csv", Format::kCsv},
        std::pair{"json", Format::kJson}, std::pair{"svg", Format::kSvg}}) {
    if (name == known) return format;
  }
  return std::nullopt;
}

// Reads the command line into `options`: 0, or the usage status after its
// message. Options come as "--name value" or "--name=value", in any order
// and before or after the table; "--" ends them. A repeated option's last
// value counts.
int ParseArguments(const std::vector<std::string>& arguments, Options& options) {
  bool options_ended = false;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (options_ended || argument.size() < 2 || argument[0] != '-') {
      if (options.table) {
        Say(msg::kDumpExtraArgument, os::DisplayPath(argument));
        return kUsage;
      }
      options.table = argument;
      continue;
    }
    if (argument == "--") {
      options_ended = true;
      continue;
    }
    if (argument == "--help" || argument == "--version") {
      (argument == "--help" ? options.help : options.version) = true;
      continue;
    }
    const std::size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    if (name != "--format" && name != "--svg" && name != "--document") {
      Say(msg::kDumpUnknownOption, os::DisplayPath(argument));
      return kUsage;
    }
    std::string value;
    if (equals != std::string::npos) {
      value = argument.substr(equals + 1);
    } else if (i + 1 < arguments.size()) {
      value = arguments[++i];
    } else {
      Say(msg::kDumpMissingValue, name);
      return kUsage;
    }
    if (name == "--svg") {
      options.svg = value;
    } else if (name == "--document") {
      options.document = value;
    } else {
      options.format = FormatNamed(value);
      if (!options.format) {
        Say(msg::kDumpUnknownFormat, os::DisplayPath(value));
        return kUsage;
      }
    }
  }
  if (!options.table && !options.help && !options.version) {
    Say(msg::kDumpNoTable);
    return kUsage;
  }
  return 0;
}

void SayTableFailure(const TableFailure& failure, const std::string& path) {
  using Kind = TableFailure::Kind;
  const std::string shown = os::DisplayPath(path);
  const std::string count = std::to_string(failure.count);
  switch (failure.kind) {
    case Kind::kNone:
    case Kind::kUnreadable:
      return Say(msg::kTableUnreadable, shown);
    case Kind::kDirectory:
      return Say(msg::kTableIsDirectory, shown);
    case Kind::kNotRegularFile:
      return Say(msg::kTableNotRegularFile, shown);
    case Kind::kNoCount:
      return Say(msg::kTableNoCount, shown);
    case Kind::kCountTooLarge:
      return Say(msg::kTableTooShort, count, shown);
    case Kind::kCountTooSmall:
      return Say(msg::kTableTooLong, count, shown);
    case Kind::kShrunk:
      return Say(msg::kTableShrunk, shown);
    case Kind::kOutOfMemory:
      return Say(msg::kTableOutOfMemory, shown);
  }
}

// Prints the table to standard output, as bytes: "\n" ends a line on every
// system.
bool Print(const PatternTable& table, Format format) {
  os::UseBinaryStandardOutput();
  Sink out([](const char* bytes, std::size_t size) {
    return std::fwrite(bytes, 1, size, stdout) == size;
  });
  WriteTable(table, format, out);
  if (!out.Flush() || std::fflush(stdout) != 0) {
    Say(msg::kWriteFailed);
    return false;
  }
  return true;
}

// Writes the timeline to the file at `path`, which it replaces whole or not
// at all, as the converter's table files do.
bool WriteTimelineFile(const PatternTable& table, const std::string& path) {
  os::PrepareCleanup();
  std::optional<OutputFile> file = OutputFile::Create(path.c_str(), 0);
  if (!file) {
    Say(msg::kCannotCreateFile, os::DisplayPath(path));
    return false;
  }
  Sink out([&file](const char* bytes, std::size_t size) { return file->Write(bytes, size); });
  WriteTimeline(table, out);
  if (!out.Flush() || !file->Keep()) {
    Say(msg::kWriteFailed);
    return false;
  }
  return true;
}

// Whether the table is the one the document at `path` gives, read and
// converted exactly as morv_conv does; otherwise says where they first part
// (or the converter's message).
bool MatchesDocument(const PatternTable& table, const std::string& path) {
  MorvConv conv;
  if (!ConvertDocument(path, conv, stderr)) return false;
  if (conv.tbl_num != table.Count()) {
    Say(msg::kCountDiffers, std::to_string(conv.tbl_num), std::to_string(table.Count()));
    return false;
  }
  for (std::uint32_t i = 0; i < table.Count(); ++i) {
    const struct {
      const char* name;
      unsigned document;
      unsigned table;
    } fields[] = {{"frame", conv.frame_tbl[i], table.frames[i]},
                  {"texture", conv.tex_tbl[i], table.textures[i]},
                  {"palette", conv.pltt_tbl[i], table.palettes[i]}};
    for (const auto& field : fields) {
      if (field.document != field.table) {
        Say(msg::kStepDiffers, std::to_string(i), field.name, std::to_string(field.document),
            std::to_string(field.table));
        return false;
      }
    }
  }
  return true;
}

}  // namespace

int RunDump(int argc, char* argv[]) {
  if (!os::InitAppFramework()) {
    Say(msg::kFrameworkInitFailed);
    return kFailed;
  }
  Options options;
  if (const int status = ParseArguments(os::CommandLineArguments(argc, argv), options)) {
    return status;
  }
  if (options.help || options.version) {
    std::fputs(options.help ? msg::kDumpHelp : msg::kDumpVersion, stdout);
    return 0;
  }

  TableFailure failure;
  const std::optional<PatternTable> table = ReadTableFile(*options.table, failure);
  if (!table) {
    SayTableFailure(failure, *options.table);
    return kFailed;
  }
  // Printed as text unless the run is for the timeline's file or for the
  // comparison only.
  bool done = true;
  if (options.format || (!options.svg && !options.document)) {
    done = Print(*table, options.format.value_or(Format::kText)) && done;
  }
  if (options.svg) done = WriteTimelineFile(*table, *options.svg) && done;
  if (options.document) done = MatchesDocument(*table, *options.document) && done;
  return done ? 0 : kFailed;
}

}  // namespace morv::dump
