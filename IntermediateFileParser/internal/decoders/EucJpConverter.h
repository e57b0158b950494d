#ifndef IFP_INTERNAL_DECODERS_EUCJPCONVERTER_H
#define IFP_INTERNAL_DECODERS_EUCJPCONVERTER_H

namespace ifp::internal {

// Makes the parser decode EUC-JP, under every name the tool chain's
// documents give it, as the ICU-based build decodes it, where the parser's
// transcoding service cannot: on the system's code pages, whose EUC-JP
// converter varies between systems (or decodes nothing at all), a converter
// of the build's own is registered; on ICU nothing is, and false is returned.
// Call after the XML platform is initialised (and again after it was brought
// down and up); calling again is harmless; not while another thread parses.
bool RegisterEucJpConverter();

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_DECODERS_EUCJPCONVERTER_H
