#include "dcu/DcuInterface.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>

namespace kx {

namespace {

constexpr int kMaxExpand = 8;  // anonymous types inside anonymous types

bool Hidden(const std::string& name) { return name.empty() || name[0] == '.' || name[0] == '@'; }

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

// A stored name as text: control characters and the placeholder byte $80
// cannot appear in an identifier and are written as comments.
std::string NameText(const std::string& name) {
  if (name == "\x80") return "{name not stored}";
  std::string out;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "{#%u}", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out;
}

// Part after the last '.', for accessors such as "TGauge2.GetValue".
std::string LastPart(const std::string& name) {
  const size_t dot = name.rfind('.');
  return NameText(dot == std::string::npos ? name : name.substr(dot + 1));
}

std::string CharText(int64_t v, bool quoted) {
  if (quoted && v >= 0x20 && v < 0x7F) {
    if (v == '\'') return "''''";
    return std::string("'") + char(v) + "'";
  }
  return "#" + std::to_string(v);
}

// A Pascal string literal; characters below space as #n.
std::string StringLiteral(std::string_view s) {
  if (s.empty()) return "''";
  std::string out;
  bool open = false;
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7F) {
      if (open) out += '\'', open = false;
      out += "#" + std::to_string(c);
    } else {
      if (!open) out += '\'', open = true;
      if (c == '\'') out += '\'';
      out += char(c);
    }
  }
  if (open) out += '\'';
  return out;
}

// The string layout of constants: FF FF FF FF, u32 length, text, 00.
bool StringValue(const std::vector<uint8_t>& raw, std::string& text) {
  if (raw.size() < 9) return false;
  if (raw[0] != 0xFF || raw[1] != 0xFF || raw[2] != 0xFF || raw[3] != 0xFF) return false;
  const uint32_t n =
      uint32_t(raw[4]) | uint32_t(raw[5]) << 8 | uint32_t(raw[6]) << 16 | uint32_t(raw[7]) << 24;
  if (uint64_t(n) + 9 != raw.size() || raw.back() != 0) return false;
  text.assign(reinterpret_cast<const char*>(raw.data() + 8), n);
  return true;
}

// 80-bit extended: 64-bit mantissa with its integer bit, then sign and a
// 15-bit exponent (bias 16383). Written with 15 significant digits.
std::string ExtendedText(const uint8_t* b) {
  uint64_t mant = 0;
  for (int i = 7; i >= 0; --i) mant = mant << 8 | b[i];
  const int se = b[8] | b[9] << 8;
  const bool neg = se & 0x8000;
  const int exp = se & 0x7FFF;
  if (exp == 0x7FFF) return mant << 1 ? "{NaN}" : neg ? "-{infinity}" : "{infinity}";
  long double v =
      std::ldexp(static_cast<long double>(mant), exp == 0 ? -16382 - 63 : exp - 16383 - 63);
  if (neg) v = -v;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.15Lg", v);
  std::string s = buf;
  for (char& c : s)
    if (c == 'e') c = 'E';
  if (s.find_first_of(".E") == std::string::npos) s += ".0";
  return s;
}

std::string Join(const std::vector<std::string>& items, const char* sep) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) out += (i ? sep : "") + items[i];
  return out;
}

class Renderer {
 public:
  // Anonymous types are written out where they are used; a damaged unit can
  // make them refer to each other many times over, so the work of writing
  // them out is bounded by the unit's size.
  explicit Renderer(const DcuUnit& u)
      : u_(u), budget_(64 * (u.Addrs.size() + u.Types.size()) + 4096) {}

  DcuInterface Make() {
    DcuInterface out;
    out.Unit = UnitName();
    Uses(out);
    for (size_t i = 0; i < u_.Decls.size(); ++i) {
      const DcuDecl& d = u_.Decls[i];
      if (d.Embedded || !(d.NameFlags & 0x40) || Hidden(d.Name)) continue;
      DcuItem item;
      item.Name = NameText(d.Name);
      switch (d.Tag) {
        case '*':
          TypeItem(d, item);
          break;
        case '%':
          if (IsEnumElement(d)) continue;
          item.Kind = "const";
          item.Value = ConstValue(d);
          item.Text = item.Name + " = " + item.Value + ";";
          break;
        case '\'':
          item.Kind = "typed const";
          item.Type = TypeName(d.TypeRef);
          item.Text =
              item.Name + ": " + item.Type + "; { typed constant: its value is not stored }";
          break;
        case '2': {
          item.Kind = "resourcestring";
          std::string text;
          if (i + 1 < u_.Decls.size() && u_.Decls[i + 1].Tag == '%' &&
              u_.Decls[i + 1].Name == "." && StringValue(u_.Decls[i + 1].Raw, text))
            item.Value = StringLiteral(text);
          item.Text = item.Name + " = " +
                      (item.Value.empty() ? "'' { text not stored }" : item.Value) + ";";
          break;
        }
        case ' ':
        case '1':
        case '$':
          item.Kind = d.Tag == '1' ? "threadvar" : "var";
          item.Type = TypeName(d.TypeRef);
          item.Text = item.Name + ": " + item.Type + (d.Tag == '$' ? "; { absolute }" : ";");
          break;
        case '(':
          if (d.Routine.Flags & 0xC00) continue;  // initialisation and finalisation
          if (d.Name.find('.') != std::string::npos) continue;
          RoutineItem(d, item);
          break;
        default:
          continue;
      }
      out.Declarations.push_back(std::move(item));
    }
    return out;
  }

 private:
  // Elements of an enumeration are the constants of its type numbered from
  // its first element on.
  bool IsEnumElement(const DcuDecl& d) const {
    const DcuType* t = u_.TypeAt(d.TypeRef);
    if (!t || t->Def != 'C' || u_.TypeAt(t->Base) != t || !t->FirstConst) return false;
    return d.Addr >= t->FirstConst && int64_t(d.Addr) - t->FirstConst <= int64_t(t->High) - t->Low;
  }

  std::string UnitName() const {
    for (const DcuDecl& d : u_.Decls)
      if (d.Tag == '(' && (d.Routine.Flags & 0x400)) return NameText(d.Name);
    for (const DcuSource& s : u_.Sources)
      if (s.Kind == 'p' && s.Index == 0) {
        std::string n = s.FileName;
        const size_t slash = n.find_last_of("\\/:");
        if (slash != std::string::npos) n = n.substr(slash + 1);
        const size_t dot = n.rfind('.');
        if (dot != std::string::npos) n = n.substr(0, dot);
        return NameText(n);
      }
    return "{unit name not stored}";
  }

  // Lists are stored in source order or reversed; System tells which.
  void Uses(DcuInterface& out) const {
    std::vector<std::string> d, e;
    for (const DcuUses& x : u_.Uses)
      if (x.Kind == 'd' || x.Kind == 'e') (x.Kind == 'd' ? d : e).push_back(x.Name);
    bool reversed;
    const std::vector<std::string>& probe = d.empty() ? e : d;
    if (probe.size() > 1 && Lower(probe.front()) == "system")
      reversed = false;
    else if (probe.size() > 1 && Lower(probe.back()) == "system")
      reversed = true;
    else if (u_.Sources.size() > 1)
      reversed = u_.Sources.front().Index < u_.Sources.back().Index;
    else
      reversed = true;
    for (auto* list : {&d, &e}) {
      if (reversed) std::reverse(list->begin(), list->end());
      std::vector<std::string>& dest = list == &d ? out.InterfaceUses : out.ImplementationUses;
      for (const std::string& n : *list)
        if (Lower(n) != "system" && Lower(n) != "sysinit") dest.push_back(NameText(n));
    }
  }

  // The name a type is known by, or its definition when it has none.
  std::string TypeName(uint32_t t, int depth = 0) const {
    if (t == 0) return "";
    const DcuType* d = u_.TypeAt(t);
    if (!d) return "?";
    if (d->Def == 0) {
      if (!d->Name.empty() && d->Name[0] == '.')
        return "{anonymous type of " + NameText(u_.Uses[d->UsesIndex].Name) + "}";
      return NameText(d->Name);
    }
    const DcuAddr* owner = u_.AddrAt(d->Owner);
    if (owner && owner->Kind == DcuAddr::Decl && owner->Tag == '*' && !Hidden(owner->Name))
      return NameText(owner->Name);
    return Expand(t, depth + 1);
  }

  const DcuType* EnumOf(const DcuType* d) const {
    if (!d || d->Def != 'C') return nullptr;
    if (const DcuType* b = u_.TypeAt(d->Base); b && b->Def == 'C' && u_.TypeAt(b->Base) == b)
      return b;
    return nullptr;
  }

  // An ordinal value of type t as Pascal text.
  std::string Ordinal(uint32_t t, int64_t v, bool quoteChars, bool importCast) const {
    const DcuType* d = u_.TypeAt(t);
    if (!d) return std::to_string(v);
    if (d->Def == 0) {
      const std::string n = Lower(d->Name);
      if (n == "boolean" || n == "bytebool" || n == "wordbool" || n == "longbool")
        return v ? "True" : "False";
      if (n == "char" || n == "ansichar" || n == "widechar") return CharText(v, quoteChars);
      static const std::set<std::string> plain = {"integer",  "cardinal", "byte",    "word",
                                                  "shortint", "smallint", "longint", "longword"};
      if (!importCast || plain.count(n)) return std::to_string(v);
      return NameText(d->Name) + "(" + std::to_string(v) + ")";
    }
    if (const DcuType* e = EnumOf(d)) {
      if (e->FirstConst && v >= e->Low && v <= e->High)
        if (const DcuAddr* a = u_.AddrAt(e->FirstConst + uint32_t(v - e->Low)))
          return NameText(a->Name);
      return std::to_string(v);
    }
    const DcuType* base = d;
    for (int i = 0; i < 4 && base && base->Def != 0 && u_.TypeAt(base->Base) != base; ++i)
      base = u_.TypeAt(base->Base);
    if (base && base->Def == 0 && base != d) return Ordinal(d->Base, v, quoteChars, importCast);
    const uint8_t k = base ? base->Def : d->Def;
    if (k == 'A') return v ? "True" : "False";
    if (k == 'B' || k == 'Q') return CharText(v, quoteChars);
    return std::to_string(v);
  }

  std::string SetText(uint32_t elemType, const std::vector<int64_t>& ordinals) const {
    std::vector<std::string> parts;
    for (size_t i = 0; i < ordinals.size();) {
      size_t j = i;
      while (j + 1 < ordinals.size() && ordinals[j + 1] == ordinals[j] + 1) ++j;
      if (j - i >= 2) {
        parts.push_back(Ordinal(elemType, ordinals[i], true, false) + ".." +
                        Ordinal(elemType, ordinals[j], true, false));
      } else {
        for (size_t k = i; k <= j; ++k)
          parts.push_back(Ordinal(elemType, ordinals[k], true, false));
      }
      i = j + 1;
    }
    return "[" + Join(parts, ", ") + "]";
  }

  std::string Expand(uint32_t t, int depth) const {
    const DcuType* d = u_.TypeAt(t);
    if (!d) return "?";
    if (depth > kMaxExpand || budget_ == 0) return "{...}";
    --budget_;
    switch (d->Def) {
      case '@':
        return "";
      case 'C': {
        if (u_.TypeAt(d->Base) == d) {
          if (!d->FirstConst) return "({element names not stored})";
          std::vector<std::string> names;
          const uint64_t n = uint64_t(int64_t(d->High) - d->Low + 1);
          if (n > budget_) return "{...}";
          budget_ -= n;
          for (int64_t v = d->Low; v <= d->High; ++v) {
            const DcuAddr* a = u_.AddrAt(d->FirstConst + uint32_t(v - d->Low));
            names.push_back(a ? NameText(a->Name) : "?");
          }
          return "(" + Join(names, ", ") + ")";
        }
        return Ordinal(t, d->Low, true, false) + ".." + Ordinal(t, d->High, true, false);
      }
      case 'A':
      case 'B':
      case 'D':
      case 'Q':
      case 'V':
        if (u_.TypeAt(d->Base) == d) {
          if (d->Def == 'A') return "Boolean";
          if (d->Def == 'B') return "Char";
          if (d->Def == 'Q') return "WideChar";
          if (d->Def == 'D' && d->Low == INT32_MIN && d->High == INT32_MAX) return "Integer";
        }
        return Ordinal(t, d->Low, true, false) + ".." + Ordinal(t, d->High, true, false);
      case 'E':
        return "^" + TypeName(d->Base, depth);
      case 'G':
        return "class of " + TypeName(d->Base, depth);
      case 'I': {
        static const char* names[] = {"Real", "Single", "Double", "Extended", "Comp", "Currency"};
        return d->Byte < 6 ? names[d->Byte] : "{float kind " + std::to_string(d->Byte) + "}";
      }
      case 'J':
        return "set of " + TypeName(d->Base, depth);
      case 'K':
        return "string[" + std::to_string(int64_t(d->Size) - 1) + "]";
      case 'R':
        return "AnsiString";
      case 'U':
        return "WideString";
      case 'S':
        return "Variant";
      case 'P':
        return "Text";
      case 'O':
        return d->Base ? "file of " + TypeName(d->Base, depth) : "file";
      case 'L': {
        if (d->Size == -1) {
          const DcuType* e = u_.TypeAt(d->Base);
          if (e && e->Def == 0 && Lower(e->Name) == "tvarrec") return "array of const";
          return "array of " + TypeName(d->Base, depth);
        }
        return "array[" + TypeName(d->Index, depth) + "] of " + TypeName(d->Base, depth);
      }
      case 'M': {
        std::string s = "record";
        for (const DcuMember& m : d->Members) s += " " + FieldText(m, depth);
        return s + " end";
      }
      case 'H':
        return ProcType(*d, depth);
      case 'F':
        return ClassHeader(*d, depth);
      case 'T':
        return InterfaceHeader(*d, depth);
      case 'N':
        return "object";
    }
    return "?";
  }

  std::string FieldText(const DcuMember& m, int depth) const {
    std::string name =
        m.Name.empty() ? "{field at offset " + std::to_string(m.Offset) + "}" : NameText(m.Name);
    return name + ": " + TypeName(m.TypeRef, depth) + ";";
  }

  std::string ClassHeader(const DcuType& d, int depth) const {
    std::vector<std::string> bases;
    if (d.Parent) bases.push_back(TypeName(d.Parent, depth));
    for (uint32_t i : d.Interfaces) bases.push_back(TypeName(i, depth));
    return bases.empty() ? "class" : "class(" + Join(bases, ", ") + ")";
  }

  std::string InterfaceHeader(const DcuType& d, int depth) const {
    if (d.Byte & 0x04) return "dispinterface";
    return d.Parent ? "interface(" + TypeName(d.Parent, depth) + ")" : "interface";
  }

  static std::string CallConv(uint8_t cc) {
    switch (cc) {
      case 0x81:
        return "cdecl";
      case 0x82:
        return "pascal";
      case 0x83:
        return "stdcall";
      case 0x84:
        return "safecall";
    }
    return "";
  }

  bool IsProcedure(uint32_t resultType) const {
    const DcuType* r = u_.TypeAt(resultType);
    return resultType == 0 || (r && r->Def == '@');
  }

  // Declared parameters: hidden ones ('.'), the result pointer and locals
  // are left out, and Self when skipSelf.
  std::vector<DcuParamItem> Params(const DcuRoutine& rt, bool skipSelf, bool skipHidden,
                                   int depth) const {
    std::vector<DcuParamItem> out;
    bool first = true;
    for (const DcuParamRec& p : rt.Params) {
      if (p.Tag != '!' && p.Tag != '"') break;
      const bool self = first && skipSelf;
      first = false;
      if (self || (p.Name == "." && skipHidden) || p.Name == ".") continue;
      DcuParamItem item;
      item.Name = NameText(p.Name);
      if (p.Tag == '"')
        item.Kind = (p.Flags & 0x80) ? "out" : (p.Flags & 0x02) ? "var" : "const";
      else
        item.Kind = (p.Flags & 0x02) ? "" : "const";
      const DcuType* t = u_.TypeAt(p.TypeRef);
      item.Type = t && t->Def == '@' ? "" : TypeName(p.TypeRef, depth);
      out.push_back(std::move(item));
    }
    return out;
  }

  static std::string ParamsText(const std::vector<DcuParamItem>& ps) {
    if (ps.empty()) return "";
    std::vector<std::string> parts;
    for (const DcuParamItem& p : ps)
      parts.push_back((p.Kind.empty() ? "" : p.Kind + " ") + p.Name +
                      (p.Type.empty() ? "" : ": " + p.Type));
    return "(" + Join(parts, "; ") + ")";
  }

  std::string ProcType(const DcuType& d, int depth) const {
    const bool proc = IsProcedure(d.Signature.ResultType);
    std::string s = proc ? "procedure" : "function";
    s += ParamsText(Params(d.Signature, false, true, depth));
    if (!proc) s += ": " + TypeName(d.Signature.ResultType, depth);
    if (d.Flags & 0x10) s += " of object";
    if (d.Signature.CallConv) s += "; " + CallConv(d.Signature.CallConv);
    return s;
  }

  void RoutineItem(const DcuDecl& d, DcuItem& item) const {
    const DcuRoutine& rt = d.Routine;
    const bool proc = IsProcedure(rt.ResultType);
    item.Kind = proc ? "procedure" : "function";
    item.Parameters = Params(rt, false, true, 0);
    if (!proc) item.Type = TypeName(rt.ResultType);
    if (rt.CallConv) item.Value = CallConv(rt.CallConv) + ";";
    item.Text = item.Kind + " " + item.Name + ParamsText(item.Parameters) +
                (proc ? "" : ": " + item.Type) + ";" + (item.Value.empty() ? "" : " " + item.Value);
    if (!rt.HasSignature) item.Text += " { signature not stored }";
  }

  // Accessor and stored targets: the part of the name after the last dot.
  std::string RefName(uint32_t a) const {
    const DcuAddr* addr = u_.AddrAt(a);
    return addr ? LastPart(addr->Name) : "?";
  }

  static std::string Visibility(uint32_t flags) {
    switch (flags & 0x0E) {
      case 0x00:
        return "private";
      case 0x02:
        return "public";
      case 0x04:
        return "protected";
      case 0x0A:
        return "published";
    }
    char buf[40];
    std::snprintf(buf, sizeof buf, "public { visibility $%02X }", unsigned(flags & 0x0E));
    return buf;
  }

  DcuItem MethodItem(const DcuMember& m) const {
    DcuItem item;
    item.Name = NameText(m.Name);
    item.Visibility = Visibility(m.Flags);
    const DcuDecl* body = u_.RoutineAt(m.ImplRef);
    const DcuRoutine* rt = body && body->Routine.HasSignature ? &body->Routine : nullptr;
    const bool proc = !rt || IsProcedure(rt->ResultType);
    item.Kind = m.Tag == '.'   ? "constructor"
                : m.Tag == '/' ? "destructor"
                : proc         ? "procedure"
                               : "function";
    if (m.Flags & 0x01) item.Kind = "class " + item.Kind;
    if (rt) {
      item.Parameters = Params(*rt, true, true, 0);
      if (!proc && m.Tag == '-') item.Type = TypeName(rt->ResultType);
    }
    std::vector<std::string> dirs;
    const uint32_t vm = m.Flags & 0xE0;
    if ((vm & 0xC0) == 0xC0)
      dirs.push_back("message " + std::to_string(uint32_t(m.Slot) & 0xFFFF));
    else if (vm & 0x20)
      dirs.push_back("override");
    else if (vm == 0x40)
      dirs.push_back("virtual");
    else if (vm == 0x80)
      dirs.push_back("dynamic");
    if (rt && rt->CallConv) dirs.push_back(CallConv(rt->CallConv));
    for (const std::string& s : dirs) item.Value += (item.Value.empty() ? "" : " ") + s + ";";
    item.Text = item.Kind + " " + item.Name + ParamsText(item.Parameters) +
                (item.Type.empty() ? "" : ": " + item.Type) + ";" +
                (item.Value.empty() ? "" : " " + item.Value);
    if (!rt) item.Text += " { signature not stored }";
    return item;
  }

  // Interface and dispinterface methods take their signature from an H.
  DcuItem InterfaceMethodItem(const DcuMember& m, bool disp) const {
    DcuItem item;
    item.Name = NameText(m.Name);
    const DcuType* sig = u_.TypeAt(m.TypeRef);
    const DcuRoutine* rt = sig && sig->Def == 'H' ? &sig->Signature : nullptr;
    const bool proc = !rt || IsProcedure(rt->ResultType);
    item.Kind = proc ? "procedure" : "function";
    if (rt) {
      const bool self = !rt->Params.empty() && rt->Params[0].Name == "Self";
      item.Parameters = Params(*rt, self, true, 0);
      if (!proc) item.Type = TypeName(rt->ResultType);
      if (rt->CallConv) item.Value = CallConv(rt->CallConv) + ";";
    }
    if (disp) item.Value = "dispid " + std::to_string(m.DispId) + ";";
    item.Text = item.Kind + " " + item.Name + ParamsText(item.Parameters) +
                (item.Type.empty() ? "" : ": " + item.Type) + ";" +
                (item.Value.empty() ? "" : " " + item.Value);
    return item;
  }

  DcuItem PropertyItem(const DcuMember& m, bool disp, bool inClass) const {
    DcuItem item;
    item.Kind = "property";
    item.Name = NameText(m.Name);
    if (inClass) item.Visibility = Visibility(m.Flags);
    if (m.TypeRef == 0) {
      item.Text = "property " + item.Name + ";";
      return item;
    }
    const DcuType* t = u_.TypeAt(m.TypeRef);
    uint32_t valueType = m.TypeRef;
    if (t && t->Def == 'H' && t->Size == 0) {
      item.Parameters = Params(t->Signature, false, true, 0);
      item.Type = TypeName(t->Signature.ResultType);
      valueType = t->Signature.ResultType;
    } else {
      item.Type = TypeName(m.TypeRef);
    }
    std::vector<std::string> clauses;
    if (disp) {
      if (m.Access == 2)
        clauses.push_back("readonly");
      else if (m.Access == 4)
        clauses.push_back("writeonly");
      clauses.push_back("dispid " + std::to_string(m.DispId));
    } else {
      if (m.IndexValue != kDcuNoValue) clauses.push_back("index " + std::to_string(m.IndexValue));
      if (m.ReadRef) clauses.push_back("read " + RefName(m.ReadRef));
      if (m.WriteRef) clauses.push_back("write " + RefName(m.WriteRef));
      if (m.StoredRef) clauses.push_back("stored " + RefName(m.StoredRef));
      if (m.DefaultValue != kDcuNoValue)
        clauses.push_back("default " + DefaultText(valueType, m.DefaultValue));
    }
    item.Value = Join(clauses, " ");
    std::string idx;
    if (!item.Parameters.empty()) {
      std::vector<std::string> parts;
      for (const DcuParamItem& p : item.Parameters)
        parts.push_back((p.Kind.empty() ? "" : p.Kind + " ") + p.Name +
                        (p.Type.empty() ? "" : ": " + p.Type));
      idx = "[" + Join(parts, "; ") + "]";
    }
    item.Text = "property " + item.Name + idx + ": " + item.Type +
                (item.Value.empty() ? "" : " " + item.Value) + ";";
    if (m.Flags & 0x20) item.Text += " default;";
    return item;
  }

  std::string DefaultText(uint32_t t, int32_t v) const {
    const DcuType* d = u_.TypeAt(t);
    if (d && d->Def == 'J') {
      std::vector<int64_t> ords;
      for (int b = 0; b < 32; ++b)
        if (uint32_t(v) >> b & 1) ords.push_back(b);
      return SetText(d->Base, ords);
    }
    return Ordinal(t, v, false, false);
  }

  std::string ConstValue(const DcuDecl& d) const {
    if (!d.HasRaw) return Ordinal(d.TypeRef, d.Ordinal, false, true);
    std::string text;
    if (StringValue(d.Raw, text)) return StringLiteral(text);
    const DcuType* t = u_.TypeAt(d.TypeRef);
    if (t && t->Def == 'I' && d.Raw.size() == 10) return ExtendedText(d.Raw.data());
    if (t && t->Def == 'J') {
      std::vector<int64_t> ords;
      for (size_t i = 0; i < d.Raw.size(); ++i)
        for (int b = 0; b < 8; ++b)
          if (d.Raw[i] >> b & 1) ords.push_back(int64_t(t->Byte + i) * 8 + b);
      return SetText(t->Base, ords);
    }
    return "{" + std::to_string(d.Raw.size()) + " bytes not decoded}";
  }

  void TypeItem(const DcuDecl& d, DcuItem& item) const {
    item.Kind = "type";
    const DcuType* t = u_.TypeAt(d.TypeRef);
    const bool canonical = t && t->Def != 0 && t->Owner == d.Addr;
    if (!canonical) {
      item.Type = TypeName(d.TypeRef);
      if (item.Type == item.Name) item.Type = Expand(d.TypeRef, 1);
      item.Text = item.Name + " = " + item.Type + ";";
      return;
    }
    item.Type = Expand(d.TypeRef, 1);
    if (t->Def == 'F' || t->Def == 'T' || t->Def == 'M') {
      item.Block = true;
      const bool intf = t->Def == 'T', disp = intf && (t->Byte & 0x04);
      if (t->Def == 'M') item.Type = "record";
      if (intf) item.Value = GuidText(t->Guid);
      for (const DcuMember& m : t->Members) {
        DcuItem mi;
        if (m.Tag == ',') {
          mi.Kind = "field";
          mi.Name = NameText(m.Name);
          if (t->Def == 'F') mi.Visibility = Visibility(m.Flags);
          mi.Type = TypeName(m.TypeRef);
          mi.Text = FieldText(m, 0);
        } else if (m.Tag == '0') {
          mi = PropertyItem(m, disp, t->Def == 'F');
        } else if (intf) {
          mi = InterfaceMethodItem(m, disp);
        } else {
          mi = MethodItem(m);
        }
        item.Members.push_back(std::move(mi));
      }
    }
    item.Text = item.Name + " = " + item.Type + ";";
  }

  static std::string GuidText(const uint8_t* g) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  unsigned(g[0] | g[1] << 8 | g[2] << 16) | unsigned(g[3]) << 24,
                  unsigned(g[4] | g[5] << 8), unsigned(g[6] | g[7] << 8), g[8], g[9], g[10], g[11],
                  g[12], g[13], g[14], g[15]);
    return buf;
  }

  const DcuUnit& u_;
  mutable uint64_t budget_;
};

std::string Section(const std::string& kind) {
  if (kind == "type" || kind == "const" || kind == "resourcestring" || kind == "var" ||
      kind == "threadvar")
    return kind;
  if (kind == "typed const") return "const";
  return "";
}

void UsesClause(std::string& out, const std::vector<std::string>& names) {
  if (names.empty()) return;
  out += "uses\n";
  std::string line = " ";
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string item = names[i] + (i + 1 < names.size() ? "," : ";");
    if (line.size() > 1 && line.size() + 1 + item.size() > 78) {
      out += line + "\n";
      line = " ";
    }
    line += " " + item;
  }
  out += line + "\n\n";
}

void BlockText(std::string& out, const DcuItem& item) {
  out += "  " + item.Name + " = " + item.Type + "\n";
  if (!item.Value.empty()) out += "    ['" + item.Value + "']\n";
  const bool cls = item.Type.rfind("class", 0) == 0;
  std::string vis;
  for (size_t i = 0; i < item.Members.size(); ++i) {
    const DcuItem& m = item.Members[i];
    if (cls && (i == 0 || m.Visibility != vis)) out += "  " + m.Visibility + "\n";
    vis = m.Visibility;
    out += "    " + m.Text + "\n";
  }
  out += "  end;\n";
}

}  // namespace

DcuInterface MakeDcuInterface(const DcuUnit& unit) { return Renderer(unit).Make(); }

std::string DcuInterfaceText(const DcuInterface& intf) {
  std::string out = "unit " + intf.Unit + ";\n\ninterface\n\n";
  UsesClause(out, intf.InterfaceUses);
  std::string section = "\x01";
  bool first = true, prevBlock = false;
  for (const DcuItem& item : intf.Declarations) {
    const std::string sec = Section(item.Kind);
    if (sec != section) {
      if (section != "\x01") out += "\n";
      if (!sec.empty()) out += sec + "\n";
      section = sec;
      first = true;
    }
    if (!first && (item.Block || prevBlock)) out += "\n";
    if (item.Block)
      BlockText(out, item);
    else
      out += (sec.empty() ? "" : "  ") + item.Text + "\n";
    first = false;
    prevBlock = item.Block;
  }
  if (!intf.Declarations.empty()) out += "\n";
  out += "implementation\n\n";
  UsesClause(out, intf.ImplementationUses);
  out += "end.\n";
  return out;
}

}  // namespace kx
