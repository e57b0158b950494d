#ifndef IFP_INTERNAL_DECODERS_WIN32TABLETRANSCODER_H
#define IFP_INTERNAL_DECODERS_WIN32TABLETRANSCODER_H

#include <cstddef>
#include <memory>
#include <utility>
#include <xercesc/util/TransENameMap.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/Transcoders/Win32/Win32TransService.hpp>

namespace ifp::internal {

// Whether `Table` decodes an encoding with shift states, whose bytes mean
// one character or another after what came before (see TWin32TableTranscoder).
template <class Table>
concept ShiftingTable = requires {
  typename Table::TState;
};

// The shift state a converter keeps from call to call: none for a table
// without shift states.
template <class Table>
struct TShiftStateOf {
  struct type {};
};
template <ShiftingTable Table>
struct TShiftStateOf<Table> {
  using type = typename Table::TState;
};

// A converter for one of the system's multi-byte code pages that decodes with
// a table of the library's own, so that every byte sequence decodes as the
// other systems' converter decodes it, and encodes through the system's
// converter. `Table` decodes one character:
//   std::size_t Table::Next(const XMLByte* bytes, std::size_t left, char16_t& c) const
// answers how many bytes the character at `bytes` takes (at least 1), or 0
// when it is not complete in the `left` bytes there: those are left uneaten
// until the rest arrives, so no call keeps a part of a character for the next.
// A table of an encoding with shift states names their type, Table::TState;
// each converter starts with a value-initialised one and keeps it from call
// to call, and
//   std::size_t Table::Next(TState& state, const XMLByte* bytes, std::size_t left,
//                           char16_t& c) const
// decodes the character at `bytes` with the shifts before it, which its size
// includes, and changes `state` only when it answers a character.
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
      const auto left = static_cast<std::size_t>(end - src);
      std::size_t size = 0;
      if constexpr (ShiftingTable<Table>) {
        size = table_->Next(state_, src, left, c);
      } else {
        size = table_->Next(src, left, c);
      }
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
  [[no_unique_address]] typename TShiftStateOf<Table>::type state_{};
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
