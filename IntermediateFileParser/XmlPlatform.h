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
// What the platform changes for the whole process, from the first guard to
// the last:
//  - Xerces-C is initialised (XMLPlatformUtils::Initialize) and, at the end,
//    terminated (XMLPlatformUtils::Terminate). A program that also uses
//    Xerces-C by itself must initialise it itself as well, and terminate it
//    only after every guard and reader is gone.
//  - Shift_JIS (under each of its names that opens the same converter) and
//    UTF-8 are decoded by the library's decoder in front of the parser's own,
//    for every parser of the process: same text and same errors, faster.
//  - The text of internal entities is read through a counting reader: during
//    a read of this library, on the thread that reads, what entities produce
//    counts against that read's expansion limit; other parsers are not
//    affected.
// All of this is put in place once, when the platform comes up.
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
