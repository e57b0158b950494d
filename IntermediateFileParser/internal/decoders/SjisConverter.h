#ifndef IFP_INTERNAL_DECODERS_SJISCONVERTER_H
#define IFP_INTERNAL_DECODERS_SJISCONVERTER_H

#include <optional>
#include <set>
#include <string>

namespace ifp::internal {

// The converter the parser's transcoding service decodes Shift_JIS with, and
// the names a document may give it. Which service that is depends on how
// Xerces-C was built: on ICU (SjisConverterIcu.cpp) or on the system's own
// code pages (SjisConverterWin32.cpp); the build compiles the one it has.
struct TSjisConverter {
  // The name under which the service makes the converter; never one of
  // `names`, so that a decoder registered under those can make it.
  std::u16string delegate_name;
  // Every name, in upper case, under which documents get this converter.
  std::set<std::string> names;
};

// The usual spellings of the encoding's name.
inline constexpr const char* kUsualSjisNames[] = {
    "Shift_JIS",  "SJIS",      "windows-31j", "CP932",      "MS_Kanji", "x-sjis",
    "csShiftJIS", "Shift-JIS", "ShiftJIS",    "x-ms-cp932", "MS932"};

// The service's Shift_JIS converter; nothing when the service has none, or
// one whose characters may be longer than two bytes. Call while the XML
// platform is up; a platform brought up again needs another call.
std::optional<TSjisConverter> FindSjisConverter();

// `name` with its ASCII letters in upper case, as the parser looks names up.
std::string UpperCase(std::string name);

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_DECODERS_SJISCONVERTER_H
