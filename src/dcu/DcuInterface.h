#pragma once
// The interface of a decoded compiled unit as declarations (for --json and
// the window) and as Pascal text: the unit line, the interface uses list,
// the interface declarations in record order grouped into sections, the
// implementation uses list and "end.".
#include <string>
#include <vector>

#include "dcu/DcuUnit.h"

namespace kx {

struct DcuParamItem {
  std::string Name;
  std::string Kind;  // "", "const", "var", "out"
  std::string Type;  // empty for an untyped parameter
};

struct DcuItem {
  // Declarations: "type", "const", "typed const", "resourcestring", "var",
  // "threadvar", "procedure", "function". Members: "field", "procedure",
  // "function", "constructor", "destructor", "property" (methods of the
  // class itself get "class procedure" / "class function").
  std::string Kind;
  std::string Name;
  std::string Visibility;  // members of classes: private, protected, public, published
  std::string Type;        // a type's definition, a field's, property's or result type
  std::string Value;       // constant values; directives and property clauses
  std::vector<DcuParamItem> Parameters;
  std::vector<DcuItem> Members;
  std::string Text;    // the declaration as one line of Pascal, without indentation
  bool Block = false;  // a class, record or interface written over several lines
};

struct DcuInterface {
  std::string Unit;
  std::vector<std::string> InterfaceUses, ImplementationUses;
  std::vector<DcuItem> Declarations;
};

DcuInterface MakeDcuInterface(const DcuUnit& unit);
// The Pascal text, lines ended with LF.
std::string DcuInterfaceText(const DcuInterface& intf);

}  // namespace kx
