#ifndef IFP_READLIMITS_H
#define IFP_READLIMITS_H

#include <cstddef>
#include <cstdint>

namespace ifp {

// The limits that keep a hostile document from hanging a read or making it
// hold gigabytes. Real documents nest a few levels, carry a handful of
// attributes per element, declare an entity or two at most and are never
// more than their own size once expanded: none comes near these figures.
//
// A value: each member is one limit, its default the constant of the same
// name (kMaxDepth for max_depth, ...). A reader reads with the limits it was
// given (TXmlDocReader::SetLimits), the defaults unless it was given others.
// Any limit may be lowered, to 0 if need be (a document then needs none of
// it); a raised one lets a document make a read spend and hold that much
// more: the time and memory a hostile document can cost (about 1 s + 0.1 s
// per MiB, 64 MiB + 3 times the input) hold for the defaults. The parser
// takes its share of the memory budget out of the same pool, so
// parser_memory_budget above memory_floor gains nothing.
struct TReadLimits {
  // Elements open at once. The parser's cost per element grows with the
  // depth (every name is looked up through the open elements).
  static constexpr int kMaxDepth = 256;
  // Attributes of one element, its namespace declarations included.
  static constexpr int kMaxAttributes = 256;
  // Attributes declared for one element type, enumerated and defaulted ones
  // included. The parser walks an element type's declarations on every start
  // tag of that type; no element can carry more attributes than
  // kMaxAttributes, so declaring more serves nothing.
  static constexpr int kMaxDeclaredAttributes = 256;
  // Namespace bindings in scope at once, over all open elements: each
  // element's name is looked up through all of them.
  static constexpr int kMaxNamespaceBindings = 256;
  // Entity references expanded in one read, parameter entities included.
  // The parser ends each entity it expands in content by throwing an
  // exception, which costs some 10-80 microseconds in a Windows program
  // under Wine: this many keep even that within a fraction of a second.
  static constexpr std::uint64_t kMaxEntityReferences = 5'000;
  // Internal entities being expanded at once, each inside the one before.
  // Every level holds a reader of its own in the parser (some 100 KiB).
  static constexpr int kMaxEntityNesting = 64;
  // A text run kept whole (a title, a comment, a text a reader's OnText
  // takes), in narrow bytes. Number lists are read as they arrive and are not
  // held to it.
  static constexpr std::size_t kMaxTextRun = std::size_t{16} << 20;
  // What entity expansions and attribute values may produce in one read, in
  // UTF-16 units: this many times the document's own size in bytes, and never
  // less than the floor (8 MiB of text).
  static constexpr std::uint64_t kExpansionFactor = 10;
  static constexpr std::uint64_t kExpansionFloor = std::uint64_t{4} << 20;
  // All the memory a document makes one read hold, in bytes: what the
  // document model keeps (its records, names and list entries, each with
  // what its allocation costs), the parser's own memory and the narrow
  // copies of names, values and texts on the way. This many times the input
  // (the document and each distinct external file it reads, once), plus the
  // floor; a program holds its own few MiB beside it. The densest real
  // content, a list of one-digit values or a record per 13-byte empty
  // element, keeps under three times its text; what entities and DTD
  // defaults fill the model with is bounded by the bytes that brought it.
  static constexpr std::uint64_t kMemoryFactor = 3;
  static constexpr std::uint64_t kMemoryFloor = std::uint64_t{40} << 20;
  // The parser's own part of that memory: its buffers, its DTD, the readers
  // of the entities it is expanding; a few MiB at most for any real
  // document, the largest included.
  static constexpr std::size_t kParserMemoryBudget = std::size_t{32} << 20;

  int max_depth = kMaxDepth;
  int max_attributes = kMaxAttributes;
  int max_declared_attributes = kMaxDeclaredAttributes;
  int max_namespace_bindings = kMaxNamespaceBindings;
  std::uint64_t max_entity_references = kMaxEntityReferences;
  int max_entity_nesting = kMaxEntityNesting;
  std::size_t max_text_run = kMaxTextRun;
  std::uint64_t expansion_factor = kExpansionFactor;
  std::uint64_t expansion_floor = kExpansionFloor;
  std::uint64_t memory_factor = kMemoryFactor;
  std::uint64_t memory_floor = kMemoryFloor;
  std::size_t parser_memory_budget = kParserMemoryBudget;

  friend bool operator==(const TReadLimits&, const TReadLimits&) = default;
};

}  // namespace ifp

#endif  // IFP_READLIMITS_H
