#ifndef IFP_XMLPLATFORM_H
#define IFP_XMLPLATFORM_H

namespace ifp {

// Keeps the XML platform up for as long as it lives. Guards may be made and
// dropped on any thread, nested or side by side: the library counts them,
// under a lock, together with the readers alive (each reader holds a guard of
// its own, so a reader that outlives the guard it was made under keeps the
// platform up until it goes). The platform comes up with the first of them
// and goes down with the last; a read on one thread is never disturbed by
// guards made or dropped on others.
//
// Everything the library does to the whole process:
//  - Xerces-C is initialised (XMLPlatformUtils::Initialize) with the first
//    guard or reader and terminated (XMLPlatformUtils::Terminate) with the
//    last. A program that also uses Xerces-C by itself must initialise it
//    itself as well, and terminate it only after every guard and reader is
//    gone.
//  - Decoders are registered with Xerces-C as the platform comes up, for
//    every parser of the process: Shift_JIS (under each of its names that
//    opens the same converter) and UTF-8 go through the library's decoder in
//    front of the parser's own, with the same text and the same errors,
//    faster; on Windows, Shift_JIS, EUC-JP and ISO-2022-JP get converters of
//    the library's own that decode as the ICU-based build does. They cannot
//    be turned off: another parser of the process reads the same text.
//  - The text of internal entities is read through a counting reader: during
//    a read of this library, on the thread that reads, what entities produce
//    counts against that read's limits; other parsers are not affected.
//  - Threads: a read may start one thread of its own, which faults in the
//    pages of a large value list ahead of the values (Linux only), and which
//    ends before Read returns; TXmlDocReader::SetPrefaulting(false) turns it
//    off. Nothing else runs beside the caller.
//  - Nothing else: the library reads no environment variable, writes
//    nothing to the standard streams (a reader's trace goes only where
//    TXmlDocReader::SetTrace sends it), installs no signal handler and keeps
//    no state but the platform's count.
//  - Under LeakSanitizer: Xerces-C 3.2 keeps the declaration it makes for a
//    document's external DTD, a few dozen bytes per such document; a program
//    built with the sanitizer may suppress "xercesc_3_2::XMLScanner::scanProlog".
class TXmlPlatform {
 public:
  // Throws std::runtime_error when the platform cannot be brought up.
  TXmlPlatform();
  ~TXmlPlatform();
  TXmlPlatform(const TXmlPlatform&) = delete;
  TXmlPlatform& operator=(const TXmlPlatform&) = delete;
};

}  // namespace ifp

#endif  // IFP_XMLPLATFORM_H
