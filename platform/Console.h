#ifndef MORV_OS_CONSOLE_H
#define MORV_OS_CONSOLE_H

namespace morv::os {

// Makes standard output a stream of bytes, written as they are given. On
// Windows the C run-time's text mode writes every "\n" as CR LF; a program
// that prints a data format, whose bytes are to be the same on every
// system, switches it off before it prints. Messages keep the system's line
// end: they go to the other streams. Nothing to do on POSIX systems.
void UseBinaryStandardOutput() noexcept;

}  // namespace morv::os

#endif  // MORV_OS_CONSOLE_H
