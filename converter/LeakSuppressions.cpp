// What LeakSanitizer is not to report in a program built with it: Xerces-C
// 3.2 keeps the entity declaration it makes for a document's external DTD
// (scanProlog, scanDocTypeDecl), which nothing frees; a few dozen bytes per
// such document. The sanitizer's run-time asks for this list by this name;
// a program built without it never calls it. It is linked into each
// program itself (an archive member would never be pulled in for it).
extern "C" const char* __lsan_default_suppressions() {
  return "leak:xercesc_3_2::XMLScanner::scanProlog\n";
}

// And the list is used quietly: a program's standard error holds only what
// it writes itself.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
