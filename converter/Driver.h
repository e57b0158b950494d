#ifndef CONVERTER_DRIVER_H
#define CONVERTER_DRIVER_H

namespace morv {

// One run of the converter: `morv_conv <input document> <output table file>`.
// Reads the document, builds the tables, tears the XML side down and only
// then writes the file. Messages go to standard output; the result is the
// process's exit status: 0 on success, 1 after any reported failure.
int RunConverter(int argc, char* argv[]);

}  // namespace morv

#endif  // CONVERTER_DRIVER_H
