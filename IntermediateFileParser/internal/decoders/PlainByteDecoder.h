#ifndef IFP_INTERNAL_DECODERS_PLAINBYTEDECODER_H
#define IFP_INTERNAL_DECODERS_PLAINBYTEDECODER_H

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <xercesc/framework/MemoryManager.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>

namespace ifp::internal {

// A decoder in front of one of the parser's own (its delegate), for the
// encodings of this tool chain's documents: Shift_JIS and UTF-8. Documents
// are mostly plain ASCII markup and digits; decoding them byte by byte
// through the general converter was most of the time of a bare parse. Runs of
// plain bytes are widened here directly, sixteen at a time; every other byte
// sequence goes to the delegate, so the decoded text, the bytes eaten and the
// per-character byte counts are exactly the delegate's, its replacement
// characters, its errors and its odd single-byte mappings included.
//
// A byte is plain when the delegate, from its initial state, decodes it
// alone to the UTF-16 unit of the same value (TPlainBytes::Probe). A plain
// byte is widened here only while the delegate's state is initial: the bytes
// that follow a byte which is not plain, as many as a character may still
// need after its first byte, go to the delegate too, since they may complete
// (or spoil) a character. That keeps the delegate's state right for a
// converter whose characters are at most two bytes long, or one that keeps
// no state between calls (it leaves an unfinished character uneaten, as the
// library's UTF-8 decoder does), which whoever makes a decoder must make
// sure of.
class TPlainByteDecoder final : public xercesc::XMLTranscoder {
 public:
  // The bytes the decoder may widen itself; bytes from 0x80 up never are.
  class TPlainBytes {
   public:
    bool Contains(unsigned char byte) const noexcept { return plain_[byte]; }

    // Asks transcoders that the XML platform's service makes for
    // `delegate_name` which bytes below 0x80 they decode as themselves.
    // Nothing when the service has no transcoder for that name.
    static std::optional<TPlainBytes> Probe(const XMLCh* delegate_name);

   private:
    // Decodes the bytes from `first` up to 0x7F with `delegate` in one call,
    // from its initial state: how many of them, from the first on, came back
    // as themselves, one byte for one character. The delegate's state is
    // then past all of them.
    static unsigned PlainRun(xercesc::XMLTranscoder& delegate, unsigned char first);
    // Decodes `byte` with `delegate` from its initial state: true when it
    // came back as itself, one byte for one character.
    static bool DecodesAsItself(xercesc::XMLTranscoder& delegate, unsigned char byte);

    std::array<bool, 256> plain_{};
  };

  // Adopts `delegate`, made for the same block size, whose characters are
  // at most `longest_char` bytes long.
  TPlainByteDecoder(const XMLCh* encoding_name, XMLSize_t block_size,
                    std::unique_ptr<xercesc::XMLTranscoder> delegate, const TPlainBytes& plain,
                    std::size_t longest_char,
                    xercesc::MemoryManager* manager = xercesc::XMLPlatformUtils::fgMemoryManager);
  ~TPlainByteDecoder() override;
  TPlainByteDecoder(const TPlainByteDecoder&) = delete;
  TPlainByteDecoder& operator=(const TPlainByteDecoder&) = delete;

  XMLSize_t transcodeFrom(const XMLByte* src_data, XMLSize_t src_count, XMLCh* to_fill,
                          XMLSize_t max_chars, XMLSize_t& bytes_eaten,
                          unsigned char* char_sizes) override;
  // Encoding goes to the delegate unchanged.
  XMLSize_t transcodeTo(const XMLCh* src_data, XMLSize_t src_count, XMLByte* to_fill,
                        XMLSize_t max_bytes, XMLSize_t& chars_eaten, UnRepOpts options) override;
  bool canTranscodeTo(unsigned int to_check) override;

 private:
  // Widens the plain bytes at the start of [src, src + count) into `out`
  // and returns how many there were. May write all `count` units of `out`.
  std::size_t WidenPlainRun(const XMLByte* src, std::size_t count, XMLCh* out) const noexcept;
  // Where the delegate's segment that starts at `begin` ends.
  const XMLByte* SegmentEnd(const XMLByte* begin, const XMLByte* end,
                            bool after_carry) const noexcept;

  // The bytes below 0x80 that are not plain, for the sixteen-byte check;
  // unused slots hold 0x80, which fails the check anyway.
  static constexpr std::size_t kMaxOddBytes = 4;

  std::unique_ptr<xercesc::XMLTranscoder> delegate_;
  TPlainBytes plain_;
  std::array<unsigned char, kMaxOddBytes> odd_bytes_{};
  // More bytes below 0x80 are not plain than the sixteen-byte check holds:
  // plain runs are found a byte at a time.
  bool bytewise_only_ = false;
  // The delegate may hold state from the last call (a lead byte, or
  // characters that did not fit): the next call starts with it.
  bool delegate_first_ = false;
  // How many bytes after one that is not plain go to the delegate with it.
  std::size_t trail_bytes_;
};

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_DECODERS_PLAINBYTEDECODER_H
