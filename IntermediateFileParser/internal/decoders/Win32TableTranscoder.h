#ifndef IFP_INTERNAL_DECODERS_WIN32TABLETRANSCODER_H
#define IFP_INTERNAL_DECODERS_WIN32TABLETRANSCODER_H

#include <cstddef>
#include <memory>
#include <utility>
#include <xercesc/util/TransENameMap.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/Transcoders/Win32/Win32TransService.hpp>

namespace ifp::internal {

// A converter for one of the system's multi-byte code pages that decodes with
// a table of the library's own, so that every byte sequence decodes as the
// other systems' converter decodes it, and encodes through the system's
// converter. `Table` decodes one character:
//   std::size_t Table::Next(const XMLByte* bytes, std::size_t left, char16_t& c) const
// answers how many bytes the character at `bytes` takes (at least 1), or 0
// when it is not complete in the `left` bytes there: those are left uneaten
// until the rest arrives, so no call keeps state for the next.
template <class Table>
class TWin32TableTranscoder final : public xercesc::XMLTranscoder {
 public:
  TWin32TableTranscoder(const XMLCh* shown_name, unsigned code_page,
                        std::shared_ptr<const Table> table, XMLSize_t block_size,
                        xercesc::MemoryManager* manager)
      : XMLTranscoder(shown_name, block_size, manager),
        table_(std::move(table)),
        encoder_(shown_name, code_page, block_size, manager) {}

  XMLSize_t transcodeFrom(const XMLByte* src_data, XMLSize_t src_count, XMLCh* to_fill,
                          XMLSize_t max_chars, XMLSize_t& bytes_eaten,
                          unsigned char* char_sizes) override {
    const XMLByte* src = src_data;
    const XMLByte* const end = src_data + src_count;
    XMLSize_t chars = 0;
    for (; src != end && chars != max_chars; ++chars) {
      char16_t c = 0;
      const std::size_t size = table_->Next(src, static_cast<std::size_t>(end - src), c);
      if (size == 0) break;
      to_fill[chars] = c;
      char_sizes[chars] = static_cast<unsigned char>(size);
      src += size;
    }
    bytes_eaten = static_cast<XMLSize_t>(src - src_data);
    return chars;
  }

  XMLSize_t transcodeTo(const XMLCh* src_data, XMLSize_t src_count, XMLByte* to_fill,
                        XMLSize_t max_bytes, XMLSize_t& chars_eaten, UnRepOpts options) override {
    return encoder_.transcodeTo(src_data, src_count, to_fill, max_bytes, chars_eaten, options);
  }

  bool canTranscodeTo(unsigned int to_check) override { return encoder_.canTranscodeTo(to_check); }

 private:
  std::shared_ptr<const Table> table_;
  xercesc::Win32Transcoder encoder_;
};

// Makes the converter for one registered name; every name shares one table.
template <class Table>
class TWin32TableMap final : public xercesc::ENameMap {
 public:
  TWin32TableMap(const XMLCh* name, const XMLCh* shown_name, unsigned code_page,
                 std::shared_ptr<const Table> table)
      : ENameMap(name), shown_name_(shown_name), code_page_(code_page), table_(std::move(table)) {}

  xercesc::XMLTranscoder* makeNew(XMLSize_t block_size,
                                  xercesc::MemoryManager* manager) const override {
    // The parser adopts the converter; it was made with `manager`, which
    // deletes it.
    return new (manager)
        TWin32TableTranscoder<Table>(shown_name_, code_page_, table_, block_size, manager);
  }

 private:
  const XMLCh* const shown_name_;  // a constant of the registering file
  const unsigned code_page_;
  std::shared_ptr<const Table> table_;
};

}  // namespace ifp::internal

#endif  // IFP_INTERNAL_DECODERS_WIN32TABLETRANSCODER_H
