#ifndef IFP_INTERNAL_DECODERS_ISO2022JPCONVERTER_H
#define IFP_INTERNAL_DECODERS_ISO2022JPCONVERTER_H

namespace ifp::internal {

// Makes the parser decode ISO-2022-JP, under every name the ICU-based build
// reads it by, as that build decodes it, where the parser's transcoding
// service cannot: the system's ISO-2022-JP converter on Windows (under Wine
// at least) stops at the first line end, so a converter of the build's own
// is registered; on ICU nothing is, and false is returned. Call after the
// XML platform is initialised (and again after it was brought down and up);
// calling again is harmless; not while another thread parses.
bool RegisterIso2022JpConverter();

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_DECODERS_ISO2022JPCONVERTER_H
