#ifndef IFP_INTERNAL_DECODERS_FASTDECODERS_H
#define IFP_INTERNAL_DECODERS_FASTDECODERS_H

namespace ifp::internal {

// Makes the XML parser decode Shift_JIS and UTF-8 documents through
// TPlainByteDecoder in front of its own decoders: RegisterSjisDecoder and
// InstallUtf8Decoder; and EUC-JP and ISO-2022-JP as everywhere: RegisterEucJpConverter and
// RegisterIso2022JpConverter. Call after the XML platform is initialised (and again after it was
// brought down and up); not while another thread parses.
void RegisterFastDecoders();

// Makes the XML parser decode Shift_JIS documents with TPlainByteDecoder in front
// of its own converter. The decoder is registered under every name (in upper
// case, as the parser looks names up) that FindSjisConverter gives for the
// converter of the parser's transcoding service: on ICU its aliases of the
// converter it opens for "Shift_JIS" and the usual spellings that open the
// same one; on the system's code pages every usual spelling. Any other name
// stays with the parser, and so does everything when the service is neither
// or cannot make the converter.
//
// Call after the XML platform is initialised; calling again is harmless.
// Terminating the platform forgets the registration, so a platform
// initialised again needs another call. Not to be called while another
// thread parses. True when the decoder was registered.
bool RegisterSjisDecoder();

// Makes the XML parser decode UTF-8, as it recognises it by itself, with
// TPlainByteDecoder in front of its own UTF-8 decoder. Call after the XML
// platform is initialised; calling again is harmless. True when installed.
bool InstallUtf8Decoder();

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_DECODERS_FASTDECODERS_H
