#ifndef CONVERTER_DUMP_DRIVER_H
#define CONVERTER_DUMP_DRIVER_H

namespace morv::dump {

// One run of `morv_dump [options] TABLE`: reads the table file and prints it
// (text, CSV, JSON or an SVG timeline), writes the timeline to a file, and
// compares it with the tables a document gives. The result is the process's
// exit status: 0 on success and for a table that is the document's, 1 for a
// file that cannot be read or is not a table, a document that cannot be read
// or converted, a table that is not the document's or a failed write, 2 for
// a wrong command line.
int RunDump(int argc, char* argv[]);

}  // namespace morv::dump

#endif  // CONVERTER_DUMP_DRIVER_H
