#ifndef IFP_INTERNAL_TRACE_H
#define IFP_INTERNAL_TRACE_H

namespace ifp::internal {

// The readers' diagnostic hook: where a read starts, where and why it failed.
// Silent unless the environment variable MORV_CONV_TRACE is 1; then each line
// goes to standard error. Standard output and exit statuses never depend on it.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_TRACE_H
