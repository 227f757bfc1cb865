#include "dcu/DcuUnit.h"
#include "platform/codepage.h"

#include <cstdio>

namespace kx {

namespace {

std::string TagText(uint8_t tag) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "$%02X", tag);
  return buf;
}

// Walks the tag stream once, filling the unit.
class Parser {
 public:
  Parser(ByteReader& r, DcuUnit& u) : r_(r), u_(u) {
    u_.Addrs.emplace_back();
    u_.Types.emplace_back();
  }

  void Run() {
    Header();
    MainList();
  }

 private:
  // Names are stored in the system code page of the machine that compiled the
  // unit; the one-byte placeholder $80 (a name not stored) is kept as it is.
  std::string Name(std::string_view what) {
    const std::string_view raw = r_.ShortString(what);
    return raw == "\x80" ? std::string(raw) : AnsiToUtf8(raw);
  }

  uint32_t NewAddr(DcuAddr::Role kind, uint8_t tag, size_t index, uint32_t type = 0) {
    DcuAddr a;
    a.Kind = kind;
    a.Tag = tag;
    a.Index = index;
    a.Type = type;
    u_.Addrs.push_back(std::move(a));
    return uint32_t(u_.Addrs.size() - 1);
  }

  void Header() {
    if (r_.U8("unit flags record") != 0x96) r_.Fail(0x11, "unit flags record missing");
    u_.UnitFlags = r_.PackedU("unit flags");
    u_.Packaged = (u_.UnitFlags & 0x08) != 0;
    for (;;) {
      const uint8_t tag = r_.Peek("header record");
      if (tag == 'p' || tag == 'r' || tag == 'q' || tag == 's') {
        r_.U8("source record");
        DcuSource s;
        s.Kind = char(tag);
        s.FileName = Name("source file name");
        s.DosTime = r_.U32("source file time");
        s.Index = r_.PackedU("source file index");
        u_.Sources.push_back(std::move(s));
        continue;
      }
      if (tag == 'd' || tag == 'e' || tag == 'h') {
        r_.U8("uses entry");
        DcuUses e;
        e.Kind = char(tag);
        const size_t index = u_.Uses.size();
        const uint32_t a = NewAddr(DcuAddr::Uses, tag, index);
        e.Name = Name("uses entry name");
        u_.Addrs[a].Name = e.Name;
        e.Stamp = r_.U32("uses entry stamp");
        u_.Uses.push_back(std::move(e));
        Imports(index);
        continue;
      }
      break;
    }
  }

  void Imports(size_t usesIndex) {
    for (;;) {
      const size_t at = r_.Position();
      const uint8_t tag = r_.U8("import record");
      if (tag == 'c') return;
      if (tag != 'f' && tag != 'g' && tag != 'n')
        r_.Fail(at, "unexpected tag " + TagText(tag) + " in a uses entry");
      const uint32_t a = NewAddr(DcuAddr::Import, tag, usesIndex);
      std::string name = Name("import name");
      if (tag == 'n') r_.PackedU("import");
      r_.U32("import fingerprint");
      if (tag != 'g') {
        DcuType t;
        t.Name = name;
        t.UsesIndex = usesIndex;
        u_.Types.push_back(std::move(t));
      }
      u_.Addrs[a].Name = std::move(name);
    }
  }

  // Name flags and the fingerprint that follows them on interface records.
  uint32_t NameFlags() {
    const uint32_t f = r_.PackedU("name flags");
    if (f & 0x40) r_.U32("fingerprint");
    return f;
  }

  void PkgRef(uint32_t nflags) {
    if (u_.Packaged && (nflags & 0x80)) r_.PackedU("package reference");
  }

  // A named declaration record whose tag has been read; returns its index.
  size_t Declaration(uint8_t tag, bool embedded, int depth) {
    DcuDecl d;
    d.Tag = tag;
    d.Embedded = embedded;
    const size_t index = u_.Decls.size();
    d.Addr = NewAddr(DcuAddr::Decl, tag, index);
    d.Name = Name("declaration name");
    u_.Addrs[d.Addr].Name = d.Name;
    switch (tag) {
      case '*':
        d.NameFlags = NameFlags();
        d.TypeRef = r_.PackedU("type reference");
        PkgRef(d.NameFlags);
        break;
      case '&':
      case ' ':
      case '\'':
      case '2':
      case '1':
      case '$':
        d.NameFlags = NameFlags();
        d.TypeRef = r_.PackedU("type reference");
        r_.PackedU("address");
        PkgRef(d.NameFlags);
        break;
      case '%': {
        d.NameFlags = NameFlags();
        d.TypeRef = r_.PackedU("constant type");
        const uint32_t size = r_.PackedU("constant size");
        if (size == 0) {
          d.Ordinal = r_.PackedS("constant value");
        } else {
          auto raw = r_.Bytes(size, "constant value");
          d.Raw.assign(raw.begin(), raw.end());
          d.HasRaw = true;
        }
        break;
      }
      case '(':
        d.NameFlags = NameFlags();
        r_.PackedU("routine entry");
        r_.PackedU("routine code size");
        u_.Decls.push_back(std::move(d));
        if (!u_.Decls[index].Name.empty() && u_.Decls[index].Name != ".") {
          DcuRoutine rt;
          Signature(rt, true, depth + 1, index);
          u_.Decls[index].Routine = std::move(rt);
        }
        return index;
      case ')':
        r_.PackedU("built-in routine");
        r_.PackedS("built-in routine index");
        break;
      case 'i':
        r_.PackedU("export symbol");
        r_.PackedU("export ordinal");
        break;
    }
    u_.Decls.push_back(std::move(d));
    return index;
  }

  // rflags, result, calling convention, then the parameter and local list.
  void Signature(DcuRoutine& rt, bool routineList, int depth, size_t owner) {
    if (depth > kDcuMaxDepth) r_.Fail("nesting too deep");
    rt.HasSignature = true;
    rt.Flags = r_.PackedU("routine flags");
    rt.ResultType = r_.PackedU("result type");
    uint8_t tag = r_.U8("parameter list");
    if (tag >= 0x81 && tag <= 0x84) {
      rt.CallConv = tag;
      tag = r_.U8("parameter list");
    }
    ParamList(rt, tag, routineList, owner);
  }

  // Records up to 'c', the first tag already read.
  void ParamList(DcuRoutine& rt, uint8_t tag, bool routineList, size_t owner) {
    for (;; tag = r_.U8("parameter list")) {
      const size_t at = r_.Position() - 1;
      if (tag == 'c') return;
      const bool param = tag == '!' || tag == '"';
      const bool local = tag == '#' || tag == ' ' || tag == '$';
      if (param || (routineList && local)) {
        DcuParamRec p;
        p.Tag = tag;
        const uint32_t a =
            NewAddr(DcuAddr::Param, tag, rt.Params.size(), routineList ? uint32_t(owner + 1) : 0);
        p.Name = Name("parameter name");
        u_.Addrs[a].Name = p.Name;
        p.Flags = r_.PackedU("parameter flags");
        p.TypeRef = r_.PackedU("parameter type");
        r_.PackedS("parameter location");
        rt.Params.push_back(std::move(p));
      } else if (routineList && (tag == '%' || tag == '*')) {
        // Local constants and types: main-list layouts, kept out of the
        // declarations so that they are never printed.
        DcuDecl d;
        const uint32_t a =
            NewAddr(DcuAddr::Param, tag, rt.Params.size(), routineList ? uint32_t(owner + 1) : 0);
        u_.Addrs[a].Name = Name("local name");
        const uint32_t nflags = NameFlags();
        r_.PackedU("local type");
        if (tag == '*') {
          PkgRef(nflags);
        } else {
          const uint32_t size = r_.PackedU("local constant size");
          if (size == 0)
            r_.PackedS("local constant value");
          else
            r_.Skip(size, "local constant value");
        }
      } else {
        r_.Fail(at, "unexpected tag " + TagText(tag) + " in a parameter list");
      }
    }
  }

  void EmbeddedList(int depth) {
    if (depth > kDcuMaxDepth) r_.Fail("nesting too deep");
    for (;;) {
      const size_t at = r_.Position();
      const uint8_t tag = r_.U8("embedded list");
      if (tag == 'k') return;
      if (tag == '\'' || tag == '(')
        Declaration(tag, true, depth);
      else if (tag == 'j')
        EmbeddedList(depth + 1);
      else
        r_.Fail(at, "unexpected tag " + TagText(tag) + " in an embedded list");
    }
  }

  void Definition(uint8_t tag) {
    const uint32_t t = uint32_t(u_.Types.size());
    u_.Types.emplace_back();
    DcuType d;
    d.Def = tag;
    d.RttiSize = r_.PackedS("type information size");
    d.Size = r_.PackedS("type size");
    d.Owner = r_.PackedU("type owner");
    switch (tag) {
      case '@':
      case 'P':
        break;
      case 'A':
      case 'B':
      case 'D':
      case 'Q':
      case 'V':
        d.Base = r_.PackedU("range base");
        d.Low = r_.PackedS("range low");
        d.High = r_.PackedS("range high");
        r_.U8("range fit");
        break;
      case 'C':
        d.FirstConst = r_.PackedU("first element");
        d.Base = r_.PackedU("enumeration base");
        d.Low = r_.PackedS("enumeration low");
        d.High = r_.PackedS("enumeration high");
        r_.U8("enumeration fit");
        if (d.High < d.Low || int64_t(d.High) - d.Low >= kDcuMaxEnumSpan)
          r_.Fail("enumeration range too large");
        break;
      case 'E':
        d.Base = r_.PackedU("pointer target");
        break;
      case 'O':
        d.Base = r_.PackedU("file element");
        break;
      case 'F':
        Class(d, t);
        break;
      case 'G':
        d.Base = r_.PackedU("class reference");
        r_.PackedU("class reference info");
        break;
      case 'H': {
        d.Signature.HasSignature = true;
        d.Flags = r_.PackedU("procedural type flags");
        d.Signature.ResultType = r_.PackedU("procedural type result");
        uint8_t next = r_.U8("procedural type parameters");
        while (next >= 0x81 && next <= 0x84) {
          d.Signature.CallConv = next;
          next = r_.U8("procedural type parameters");
        }
        if (next == 'j') next = r_.U8("procedural type parameters");
        ParamList(d.Signature, next, false, 0);
        break;
      }
      case 'I':
        d.Byte = r_.U8("float kind");
        break;
      case 'J':
        d.Byte = r_.U8("set first byte");
        d.Base = r_.PackedU("set element");
        break;
      case 'K':
      case 'R':
      case 'U':
        r_.U8("string kind");
        d.Index = r_.PackedU("string index");
        d.Base = r_.PackedU("string character");
        break;
      case 'L':
        r_.U8("array alignment");
        d.Index = r_.PackedU("array index");
        d.Base = r_.PackedU("array element");
        break;
      case 'M':
        r_.U8("record alignment");
        Members(d, t, 'M');
        break;
      case 'N':
        r_.U8("object kind");
        d.Parent = r_.PackedU("object parent");
        r_.PackedU("object");
        r_.PackedS("object");
        r_.PackedS("object");
        Members(d, t, 'F');
        break;
      case 'S':
        r_.U8("variant kind");
        break;
      case 'T': {
        d.Parent = r_.PackedU("interface parent");
        r_.PackedS("interface slots");
        auto g = r_.Bytes(16, "interface GUID");
        std::copy(g.begin(), g.end(), d.Guid);
        d.Byte = r_.U8("interface kind");
        Members(d, t, (d.Byte & 0x04) ? 'D' : 'T');
        break;
      }
    }
    u_.Types[t] = std::move(d);
  }

  void Class(DcuType& d, uint32_t t) {
    d.Parent = r_.PackedU("class parent");
    r_.PackedU("class type information");
    r_.PackedS("instance size");
    r_.PackedU("class VMT");
    r_.PackedS("class VMT slots");
    r_.PackedU("class dynamic info");
    r_.PackedU("class property count");
    d.Flags = r_.U8("class flags");
    if (u_.Packaged && (d.Flags & 0x10)) {
      r_.PackedU("class extra");
      const uint32_t n = r_.Count(r_.PackedU("class extra count"), 1, "class extra");
      for (uint32_t i = 0; i < n; ++i) r_.PackedU("class extra");
    }
    const int32_t n = r_.PackedS("interface count");
    if (n < 0) r_.Fail("negative interface count");
    r_.Count(uint32_t(n), 2, "interface table");
    for (int32_t i = 0; i < n; ++i) {
      d.Interfaces.push_back(r_.PackedU("implemented interface"));
      r_.PackedU("interface offset");
    }
    Members(d, t, 'F');
  }

  // Member lists: 'M' record fields, 'F' class members, 'T' interface and
  // 'D' dispinterface members.
  void Members(DcuType& d, uint32_t t, char context) {
    for (;;) {
      const size_t at = r_.Position();
      const uint8_t tag = r_.U8("member list");
      if (tag == 'c') return;
      const bool ok = tag == ','                 ? context == 'M' || context == 'F'
                      : tag == '-' || tag == '0' ? context != 'M'
                      : tag == '.' || tag == '/' ? context == 'F'
                                                 : false;
      if (!ok) r_.Fail(at, "unexpected tag " + TagText(tag) + " in a member list");
      DcuMember m;
      m.Tag = tag;
      m.Addr = NewAddr(DcuAddr::Member, tag, d.Members.size(), t);
      m.Name = Name("member name");
      u_.Addrs[m.Addr].Name = m.Name;
      m.Flags = r_.PackedU("member flags");
      if (tag == ',') {
        m.TypeRef = r_.PackedU("field type");
        m.Offset = r_.PackedS("field offset");
      } else if (tag == '0' && context == 'D') {
        m.TypeRef = r_.PackedU("property type");
        m.Access = r_.PackedU("property access");
        m.DispId = r_.PackedS("property dispid");
      } else if (tag == '0') {
        m.TypeRef = r_.PackedU("property type");
        m.PropIndex = r_.PackedS("property index");
        m.IndexValue = r_.PackedS("property index value");
        m.ReadRef = r_.PackedU("property read");
        m.WriteRef = r_.PackedU("property write");
        m.StoredRef = r_.PackedU("property stored");
        m.DefaultValue = r_.PackedS("property default");
      } else if (context == 'F') {
        m.Slot = r_.PackedS("method slot");
        m.ImplRef = r_.PackedU("method body");
        if (m.Name.empty()) r_.PackedU("method");
      } else {
        m.Slot = r_.PackedS("method slot");
        m.DispId = r_.PackedS("method dispid");
        m.TypeRef = r_.PackedU("method signature");
      }
      d.Members.push_back(std::move(m));
    }
  }

  // Counted tables of packed integers.
  void Table(uint8_t tag) {
    switch (tag) {
      case 'l':
        r_.Skip(r_.PackedU("code block size"), "code block");
        break;
      case 'm': {
        const uint32_t n = r_.Count(r_.PackedU("fixup count"), 3, "fixup table");
        for (uint32_t i = 0; i < n; ++i) {
          r_.PackedU("fixup");
          r_.U8("fixup kind");
          r_.PackedU("fixup target");
        }
        break;
      }
      case 0x90:
        Rows(2, "line table");
        break;
      case 0x91:
        Rows(3, "line range table");
        break;
      case 0x92:
        Rows(5, "scope table");
        break;
      case 0x93: {
        const uint32_t n = r_.Count(r_.PackedU("symbol table count"), 4, "symbol table");
        r_.PackedU("symbol table");
        for (uint32_t i = 0; i < n; ++i) {
          r_.PackedU("symbol table");
          r_.PackedU("symbol table");
          const uint32_t k = r_.Count(r_.PackedU("symbol table"), 2, "symbol table");
          r_.PackedU("symbol table");
          for (uint32_t j = 0; j < k; ++j) r_.PackedU("symbol table");
        }
        break;
      }
      case 0x94:
        Rows(3, "local variable table");
        break;
      case 0x98:
        r_.U8("declaration flag record");
        r_.PackedU("declaration flag target");
        break;
    }
    if (tag == 0x92 || tag == 0x94) u_.HasScopeTables = true;
  }

  void Rows(size_t width, std::string_view what) {
    const uint32_t n = r_.Count(r_.PackedU(what), width, what);
    for (uint32_t i = 0; i < n * width; ++i) r_.PackedU(what);
  }

  void MainList() {
    for (;;) {
      const size_t at = r_.Position();
      const uint8_t tag = r_.U8("declaration list");
      switch (tag) {
        case 'a':
          return;
        case 0x00:
          u_.Warnings.push_back("the declaration list ends with tag $00");
          return;
        case ' ':
        case '%':
        case '&':
        case '\'':
        case '(':
        case ')':
        case '*':
        case '1':
        case '2':
        case '$':
        case 'i':
          Declaration(tag, false, 0);
          break;
        case 'j':
          EmbeddedList(1);
          break;
        case 'l':
        case 'm':
        case 0x90:
        case 0x91:
        case 0x92:
        case 0x93:
        case 0x94:
        case 0x98:
          Table(tag);
          break;
        default:
          if (tag == '@' || (tag >= 'A' && tag <= 'V')) {
            Definition(tag);
            break;
          }
          r_.Fail(at, "unexpected tag " + TagText(tag) + " in the declaration list");
      }
    }
  }

  ByteReader& r_;
  DcuUnit& u_;
};

}  // namespace

bool LooksLikeDcu(std::span<const uint8_t> b) {
  return b.size() >= 4 && b[0] == 0x41 && b[1] == 0x86 && b[2] == 0x51 && b[3] == 0x44;
}

const DcuDecl* DcuUnit::RoutineAt(uint32_t a) const {
  const DcuAddr* addr = AddrAt(a);
  if (!addr || addr->Kind != DcuAddr::Decl || addr->Tag != '(') return nullptr;
  return &Decls[addr->Index];
}

DcuUnit DecodeDcu(std::span<const uint8_t> image, std::string_view fileName, uint64_t base) {
  if (!LooksLikeDcu(image)) throw EDcuNotUnit(fileName);
  DcuUnit u;
  u.FileName = std::string(fileName);
  ByteReader r(image, fileName, base);
  r.U32("unit magic");
  u.Size = r.U32("unit size");
  if (u.Size != image.size())
    r.Fail(4, "the unit size " + std::to_string(u.Size) + " differs from the " +
                  std::to_string(image.size()) + " bytes of the unit");
  u.CompileTime = r.U32("compile time");
  u.Stamp = r.U32("unit stamp");
  if (r.U8("header") != 0) r.Fail(16, "header byte is not zero");
  Parser p(r, u);
  p.Run();
  if (!r.AtEnd()) r.Fail("bytes after the end of the unit");
  return u;
}

}  // namespace kx
