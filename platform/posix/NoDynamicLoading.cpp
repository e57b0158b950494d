// A program linked as one static executable (MorvStaticProgram.cmake) loads
// no code at run time. The static ICU library can open plug-ins through
// dlopen, which nothing here asks for; the link sends those calls here
// (--wrap=dlopen), so that the C library's dynamic loader stays out of the
// executable, and such a call fails as for a library that is not there.
extern "C" void* __wrap_dlopen(const char* /*file*/, int /*mode*/) { return nullptr; }
