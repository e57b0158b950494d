#ifndef CONVERTER_DRIVER_H
#define CONVERTER_DRIVER_H

#include <cstdio>
#include <string>

namespace morv {

class MorvConv;

// Reads the document at `input_path` and builds its tables into `conv`, as
// the converter does before it writes them (with MORV_CONV_TRACE=1, the
// reader's trace on standard error): the XML platform is up only while this
// runs. On failure prints the converter's message (read failed,
// with the path; tables not built) to `messages` and returns false.
bool ConvertDocument(const std::string& input_path, MorvConv& conv, std::FILE* messages);

// One run of the converter: `morv_conv <input document> <output table file>`.
// Reads the document, builds the tables, tears the XML side down and only
// then writes the file. Messages go to standard output; the result is the
// process's exit status: 0 on success, 1 after any reported failure.
int RunConverter(int argc, char* argv[]);

}  // namespace morv

#endif  // CONVERTER_DRIVER_H
