#ifndef IFP_XMLDOCUMENT_H
#define IFP_XMLDOCUMENT_H

#include <string>

namespace ifp {

// Element "create": who made the document, where, when and from what.
struct ELE_create {
  std::string user;
  std::string host;
  std::string date;
  std::string source;
};

// Element "generator": the tool that wrote the document.
struct ELE_generator {
  std::string name;
  std::string version;
};

// The head that every intermediate document carries. Strings are narrow
// (CP932) text, exactly as the document holds it.
class TXmlDocument {
 public:
  TXmlDocument() = default;
  TXmlDocument(const TXmlDocument&) = delete;
  TXmlDocument& operator=(const TXmlDocument&) = delete;
  virtual ~TXmlDocument() = default;

  std::string root_name;
  std::string version;
  ELE_create create;
  std::string title;
  std::string comment;
  ELE_generator generator;
};

}  // namespace ifp

#endif  // IFP_XMLDOCUMENT_H
