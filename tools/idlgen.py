#!/usr/bin/env python3
"""Turns an interface definition file into C++ interface declarations and, when the file holds a
library block, type-library descriptors with one argument-unpacking function per dispatchable member.

Usage: idlgen.py INPUT.idl --header OUT.h [--typelib OUT.cpp]
"""

import argparse
import re
import sys
from dataclasses import dataclass, field


class IdlError(Exception):
    pass


# ---------------------------------------------------------------------------------------------------
# Lexing and parsing

TOKEN_RE = re.compile(
    r"""\s+|//[^\n]*|/\*.*?\*/|
        (?P<str>"(?:[^"\\]|\\.)*")|
        (?P<uuid>[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12})|
        (?P<num>-?(?:0[xX][0-9A-Fa-f]+|\d+(?:\.\d+)?))|
        (?P<id>[A-Za-z_][A-Za-z0-9_]*)|
        (?P<punct>[\[\](){};:,*=])""",
    re.VERBOSE | re.DOTALL,
)


def tokenize(text):
    pos = 0
    tokens = []
    line = 1
    while pos < len(text):
        m = TOKEN_RE.match(text, pos)
        if not m:
            raise IdlError(f"line {line}: unexpected character {text[pos]!r}")
        kind = m.lastgroup
        if kind:
            tokens.append((kind, m.group(kind), line))
        line += m.group(0).count("\n")
        pos = m.end()
    tokens.append(("eof", "", line))
    return tokens


@dataclass
class Param:
    name: str
    type: str          # base type name, e.g. "long", "BSTR", "INUVObject", "SAFEARRAY(BSTR)"
    pointers: int
    const: bool
    attrs: dict


@dataclass
class Member:
    name: str
    attrs: dict
    result: str        # "HRESULT" or "void"
    params: list


@dataclass
class Interface:
    name: str
    attrs: dict
    base: str | None
    members: list
    dispinterface: bool = False


@dataclass
class Enum:
    name: str | None   # tag name; None for an unnamed enumeration
    alias: str         # typedef name
    attrs: dict
    constants: list


@dataclass
class CoClass:
    name: str
    attrs: dict
    impls: list        # (attrs, name, is_dispinterface)


@dataclass
class Library:
    name: str
    attrs: dict
    items: list = field(default_factory=list)


class Parser:
    def __init__(self, tokens):
        self.t = tokens
        self.i = 0

    def peek(self, k=0):
        return self.t[self.i + k]

    def next(self):
        tok = self.t[self.i]
        self.i += 1
        return tok

    def expect(self, value):
        tok = self.next()
        if tok[1] != value:
            raise IdlError(f"line {tok[2]}: expected {value!r}, found {tok[1]!r}")
        return tok

    def ident(self):
        tok = self.next()
        if tok[0] != "id":
            raise IdlError(f"line {tok[2]}: expected a name, found {tok[1]!r}")
        return tok[1]

    def accept(self, value):
        if self.peek()[1] == value:
            self.i += 1
            return True
        return False

    def attributes(self):
        attrs = {}
        if not self.accept("["):
            return attrs
        while not self.accept("]"):
            name = self.ident()
            if self.accept("("):
                depth, parts = 1, []
                while True:
                    tok = self.next()
                    if tok[0] == "eof":
                        raise IdlError("unterminated attribute argument")
                    if tok[1] == "(":
                        depth += 1
                    elif tok[1] == ")":
                        depth -= 1
                        if depth == 0:
                            break
                    parts.append(tok[1])
                attrs[name] = " ".join(parts)
            else:
                attrs[name] = True
            self.accept(",")
        return attrs

    def parse_file(self):
        items = []
        while self.peek()[0] != "eof":
            items.extend(self.item(top=True))
        return items

    def item(self, top):
        if self.peek()[1] in ("import", "importlib"):
            self.next()
            self.accept("(")
            self.next()
            self.accept(")")
            self.expect(";")
            return []
        attrs = self.attributes()
        word = self.ident()
        if word == "library":
            lib = Library(self.ident(), attrs)
            self.expect("{")
            while not self.accept("}"):
                lib.items.extend(self.item(top=False))
            self.accept(";")
            return [lib]
        if word == "typedef":
            return [self.typedef()]
        if word == "interface":
            name = self.ident()
            if self.accept(";"):
                return []
            base = None
            if self.accept(":"):
                base = self.ident()
            self.expect("{")
            members = []
            while not self.accept("}"):
                members.append(self.member())
            self.accept(";")
            return [Interface(name, attrs, base, members)]
        if word == "dispinterface":
            name = self.ident()
            if self.accept(";"):
                return []
            self.expect("{")
            members = []
            while not self.accept("}"):
                if self.peek()[1] in ("properties", "methods") and self.peek(1)[1] == ":":
                    self.next()
                    self.next()
                    continue
                members.append(self.member())
            self.accept(";")
            return [Interface(name, attrs, None, members, dispinterface=True)]
        if word == "coclass":
            name = self.ident()
            self.expect("{")
            impls = []
            while not self.accept("}"):
                iattrs = self.attributes()
                kind = self.ident()
                if kind not in ("interface", "dispinterface"):
                    raise IdlError(f"coclass {name}: unexpected {kind}")
                impls.append((iattrs, self.ident(), kind == "dispinterface"))
                self.expect(";")
            self.accept(";")
            return [CoClass(name, attrs, impls)]
        raise IdlError(f"line {self.peek()[2]}: unexpected {word!r}")

    def typedef(self):
        attrs = self.attributes()
        if self.ident() != "enum":
            raise IdlError("only enumerations can be declared with typedef")
        tag = self.ident() if self.peek()[0] == "id" else None
        self.expect("{")
        constants = []
        while not self.accept("}"):
            cname = self.ident()
            self.expect("=")
            tok = self.next()
            if tok[0] != "num":
                raise IdlError(f"line {tok[2]}: enumeration constant {cname} needs a number")
            constants.append((cname, int(tok[1], 0)))
            self.accept(",")
        alias = self.ident()
        self.expect(";")
        return Enum(tag, alias, attrs, constants)

    def member(self):
        attrs = self.attributes()
        result = self.ident()
        name = self.ident()
        self.expect("(")
        params = []
        if not self.accept(")"):
            while True:
                params.append(self.param())
                if self.accept(")"):
                    break
                self.expect(",")
        self.expect(";")
        return Member(name, attrs, result, params)

    def param(self):
        attrs = self.attributes()
        const = self.accept("const")
        words = [self.ident()]
        if words[0] in ("unsigned", "signed") and self.peek()[1] in ("long", "int", "short", "char"):
            words.append(self.ident())
        base = " ".join(words)
        if base == "SAFEARRAY":
            self.expect("(")
            elem = self.ident()
            self.expect(")")
            base = f"SAFEARRAY({elem})"
        pointers = 0
        while self.accept("*"):
            pointers += 1
        return Param(self.ident(), base, pointers, const, attrs)


# ---------------------------------------------------------------------------------------------------
# Type model

SCALARS = {
    # idl name: (C++ type, VARTYPE, coercion VARTYPE, VARIANT field, result VARTYPE)
    "long": ("LONG", "VT_I4", "VT_I4", "lVal", "VT_I4"),
    "int": ("INT", "VT_INT", "VT_I4", "lVal", "VT_I4"),
    "short": ("SHORT", "VT_I2", "VT_I2", "iVal", "VT_I2"),
    "unsigned long": ("ULONG", "VT_UI4", "VT_UI4", "ulVal", "VT_UI4"),
    "double": ("DOUBLE", "VT_R8", "VT_R8", "dblVal", "VT_R8"),
    "BSTR": ("BSTR", "VT_BSTR", "VT_BSTR", "bstrVal", "VT_BSTR"),
    "VARIANT_BOOL": ("VARIANT_BOOL", "VT_BOOL", "VT_BOOL", "boolVal", "VT_BOOL"),
    "VARIANT": ("VARIANT", "VT_VARIANT", "VT_VARIANT", None, "VT_VARIANT"),
    "IUnknown": ("IUnknown", "VT_UNKNOWN", "VT_UNKNOWN", "punkVal", "VT_UNKNOWN"),
    "IDispatch": ("IDispatch", "VT_DISPATCH", "VT_DISPATCH", "pdispVal", "VT_DISPATCH"),
    "char": ("char", "VT_I1", None, None, None),
    "byte": ("BYTE", "VT_UI1", "VT_UI1", "bVal", "VT_UI1"),
    "boolean": ("unsigned char", "VT_UI1", "VT_UI1", "bVal", "VT_UI1"),
    "HRESULT": ("HRESULT", "VT_HRESULT", None, None, None),
    "void": ("void", "VT_VOID", None, None, None),
}

PARAMFLAGS = [("in", "PARAMFLAG_FIN"), ("out", "PARAMFLAG_FOUT"), ("lcid", "PARAMFLAG_FLCID"),
              ("retval", "PARAMFLAG_FRETVAL"), ("optional", "PARAMFLAG_FOPT")]


def guid_literal(text):
    return text.strip().strip('"').upper()


class Model:
    def __init__(self, items):
        self.library = None
        self.interfaces = {}
        self.enums = {}
        self.aliases = {}
        self.coclasses = []
        self.order = []          # every declared type, in declaration order
        for it in items:
            if isinstance(it, Library):
                if self.library:
                    raise IdlError("only one library block per file")
                self.library = it
                for sub in it.items:
                    self.add(sub, in_library=True)
            else:
                self.add(it, in_library=False)
        self.check()

    def add(self, it, in_library):
        self.order.append((it, in_library))
        if isinstance(it, Interface):
            if it.name in self.interfaces:
                raise IdlError(f"interface {it.name} defined twice")
            if "uuid" not in it.attrs:
                raise IdlError(f"interface {it.name} has no uuid")
            self.interfaces[it.name] = it
        elif isinstance(it, Enum):
            self.enums[it.alias] = it
        elif isinstance(it, CoClass):
            self.coclasses.append(it)

    def check(self):
        position = {it.name: i for i, (it, _) in enumerate(self.order) if isinstance(it, Interface)}
        for itf in self.interfaces.values():
            if not itf.dispinterface and not itf.base:
                raise IdlError(f"{itf.name}: an interface needs a base")
            if itf.base and itf.base not in self.interfaces and itf.base not in ("IUnknown", "IDispatch"):
                raise IdlError(f"{itf.name}: unknown base {itf.base}")
            if itf.base in position and position[itf.base] > position[itf.name]:
                raise IdlError(f"{itf.name}: base {itf.base} must be defined first")
            seen = set()
            for m in itf.members:
                kind = invkind(m)
                key = (m.name.lower(), kind)
                if key in seen:
                    raise IdlError(f"{itf.name}.{m.name}: declared twice")
                seen.add(key)
                if "id" not in m.attrs and self.dispatchable(itf):
                    raise IdlError(f"{itf.name}.{m.name}: no dispatch id")
                for p in m.params:
                    self.type_info(p.type)
        for co in self.coclasses:
            for _, name, _ in co.impls:
                if name not in self.interfaces:
                    raise IdlError(f"coclass {co.name}: unknown interface {name}")

    def type_info(self, name):
        if name in SCALARS:
            return ("scalar", name)
        if name.startswith("SAFEARRAY("):
            elem = name[10:-1]
            if elem not in SCALARS:
                raise IdlError(f"unsupported array element {elem}")
            return ("array", elem)
        if name in self.enums:
            return ("enum", name)
        if name in self.interfaces:
            return ("interface", name)
        raise IdlError(f"unknown type {name}")

    def dispatchable(self, itf):
        if itf.dispinterface:
            return True
        while itf:
            if itf.base == "IDispatch":
                return True
            itf = self.interfaces.get(itf.base)
        return False

    def dual(self, itf):
        return "dual" in itf.attrs

    def chain(self, itf):
        """The interface and its bases, most basic first."""
        out = []
        while itf:
            out.append(itf)
            itf = self.interfaces.get(itf.base)
        return list(reversed(out))

    def first_slot(self, itf):
        if itf.dispinterface:
            return 7
        base = itf.base
        if base == "IUnknown":
            return 3
        if base == "IDispatch":
            return 7
        b = self.interfaces[base]
        return self.first_slot(b) + len(b.members)


def invkind(m):
    if "propget" in m.attrs:
        return "INVOKE_PROPERTYGET"
    if "propput" in m.attrs:
        return "INVOKE_PROPERTYPUT"
    if "propputref" in m.attrs:
        return "INVOKE_PROPERTYPUTREF"
    return "INVOKE_FUNC"


def cxx_method_name(m):
    prefix = {"INVOKE_PROPERTYGET": "get_", "INVOKE_PROPERTYPUT": "put_", "INVOKE_PROPERTYPUTREF": "putref_"}
    return prefix.get(invkind(m), "") + m.name


def dispid(m):
    return int(str(m.attrs["id"]), 0)


# ---------------------------------------------------------------------------------------------------
# C++ header

def cxx_param_type(model, p):
    kind, name = model.type_info(p.type)
    if kind == "array":
        base = "SAFEARRAY*"
    elif kind == "scalar":
        base = SCALARS[name][0]
    else:
        base = name
    if p.const:
        base = "const " + base
    return base + "*" * p.pointers


def emit_header(model, src_name, lib_descriptor_fn):
    out = []
    w = out.append
    w(f"// Generated from {src_name} by tools/idlgen.py. Do not edit.")
    w("#pragma once")
    w("#include <windows.h>")
    w("#include <oaidl.h>")
    w("#include <nuv_guid.h>")
    w("#include \"atl/nuvtypelib.h\"")
    w("")
    for name in model.interfaces:
        w(f"struct {name};")
    w("")
    if model.library:
        lib = model.library
        w(f"inline constexpr GUID LIBID_{lib.name} = guid_from_literal(\"{guid_literal(lib.attrs['uuid'])}\");")
        w("")
    for it, _ in model.order:
        if isinstance(it, Enum):
            consts = ",\n".join(f"    {n} = {v}" for n, v in it.constants)
            # An automation enumeration travels as a 4-byte integer and a client may send any value; the
            # fixed underlying type makes every such value a valid value of the C++ enumeration, so a
            # member can receive it and refuse it rather than hold an out-of-range enumeration.
            if it.name:
                w(f"enum {it.name} : int {{\n{consts}\n}};")
                if it.name != it.alias:
                    w(f"typedef enum {it.name} {it.alias};")
            else:
                w(f"typedef enum : int {{\n{consts}\n}} {it.alias};")
            w("")
    for it, _ in model.order:
        if not isinstance(it, Interface):
            continue
        base = it.base or "IDispatch"
        w(f"struct {it.name} : {base} {{")
        if not it.dispinterface:
            for m in it.members:
                params = ", ".join(f"{cxx_param_type(model, p)} {p.name}" for p in m.params)
                w(f"    virtual HRESULT STDMETHODCALLTYPE {cxx_method_name(m)}({params}) = 0;")
        w("};")
        w(f"DECLARE_UUIDOF({it.name}, \"{guid_literal(it.attrs['uuid'])}\");")
        prefix = "DIID" if it.dispinterface else "IID"
        w(f"inline constexpr IID {prefix}_{it.name} = __uuidof({it.name});")
        if not it.dispinterface:
            chain = [i.name for i in reversed(model.chain(it))]
            if model.dispatchable(it):
                chain.append("IDispatch")
            w(f"template <> struct nuv::typelib::InterfaceChain<{it.name}> : "
              f"nuv::typelib::InterfaceList<{', '.join(chain)}> {{}};")
        w("")
    for co in model.coclasses:
        w(f"inline constexpr CLSID CLSID_{co.name} = guid_from_literal(\"{guid_literal(co.attrs['uuid'])}\");")
    if model.library:
        w("")
        w("// The type library's descriptors; ITypeLib objects are built over them. Every binary that")
        w("// includes this header makes the library known in-process for IDispatch implementations.")
        w(f"const nuv::typelib::LibraryDesc& {lib_descriptor_fn}();")
        w(f"inline const nuv::typelib::InProcessRegistration {lib_descriptor_fn}_registration{{&{lib_descriptor_fn}()}};")
    return "\n".join(out) + "\n"


# ---------------------------------------------------------------------------------------------------
# Type-library descriptors and dispatch functions

def u16(text):
    if text is None:
        return "nullptr"
    return 'OLESTR("' + text.replace("\\", "\\\\").replace('"', '\\"') + '")'


class TypelibWriter:
    def __init__(self, model, src_name, header_name, descriptor_fn):
        self.m = model
        self.src = src_name
        self.header = header_name
        self.fn = descriptor_fn
        self.types = []          # library types in order: (kind, object)
        for it, in_lib in model.order:
            if not in_lib:
                continue
            if isinstance(it, Enum):
                self.types.append(("enum", it))
                if not it.name:
                    self.types.append(("alias", it))
            elif isinstance(it, Interface):
                self.types.append(("interface", it))
            elif isinstance(it, CoClass):
                self.types.append(("coclass", it))
        self.index = {}
        for i, (kind, obj) in enumerate(self.types):
            if kind == "enum":
                self.index[("enum", obj.alias)] = i
            elif kind == "alias":
                self.index[("alias", obj.alias)] = i
            else:
                self.index[(kind, obj.name)] = i

    def type_name(self, kind, obj):
        if kind == "enum":
            return obj.name if obj.name else obj.alias + "_enum"
        if kind == "alias":
            return obj.alias
        return obj.name

    def typeref(self, type_name, pointers):
        kind, name = self.m.type_info(type_name)
        if kind == "scalar":
            if name in ("IUnknown", "IDispatch"):
                pointers -= 1
            return f"{{{SCALARS[name][1]}, VT_EMPTY, -1, {pointers}}}"
        if kind == "array":
            return f"{{VT_SAFEARRAY, {SCALARS[name][1]}, -1, {pointers}}}"
        if kind == "enum":
            e = self.m.enums[name]
            idx = self.index[("alias", name)] if not e.name else self.index[("enum", name)]
            return f"{{VT_USERDEFINED, VT_EMPTY, {idx}, {pointers}}}"
        return f"{{VT_USERDEFINED, VT_EMPTY, {self.index[('interface', name)]}, {pointers}}}"

    def param_flags(self, p):
        flags = [f for a, f in PARAMFLAGS if a in p.attrs]
        if "defaultvalue" in p.attrs:
            flags += ["PARAMFLAG_FOPT", "PARAMFLAG_FHASDEFAULT"]
            flags = list(dict.fromkeys(flags))
        return " | ".join(flags) if flags else "PARAMFLAG_NONE"

    def thunk(self, itf, m):
        """Code of the argument-unpacking function of one member; args arrive coerced (see dispatch.cpp)."""
        fname = f"Call_{itf.name}_{cxx_method_name(m)}"
        body = []
        call_args = []
        result = None
        post = []
        for i, p in enumerate(m.params):
            kind, name = self.m.type_info(p.type)
            a = f"args[{i}]"
            is_itf = kind == "interface" or name in ("IUnknown", "IDispatch")
            if "retval" in p.attrs:
                if p.pointers != 1 + (1 if is_itf else 0):
                    raise IdlError(f"{itf.name}.{m.name}: retval {p.name} must be one level of pointer")
                result = (kind, name)
                ctype = cxx_param_type(self.m, Param(p.name, p.type, p.pointers - 1, False, {}))
                body.append(f"    {ctype} ret{{}};")
                call_args.append("&ret")
                continue
            if p.pointers == 0 or (is_itf and p.pointers == 1):
                if kind == "scalar" and name == "VARIANT":
                    call_args.append(f"*{a}")
                elif kind == "scalar":
                    if name in ("IUnknown", "IDispatch"):
                        call_args.append(f"{a}->{SCALARS[name][3]}")
                    else:
                        ctype = SCALARS[name][0]
                        call_args.append(f"static_cast<{ctype}>({a}->{SCALARS[name][3]})")
                elif kind == "enum":
                    call_args.append(f"static_cast<{name}>({a}->lVal)")
                elif kind == "array":
                    call_args.append(f"{a}->parray")
                elif kind == "interface":
                    call_args.append(f"static_cast<{name}*>({a}->punkVal)")
                continue
            # A pointer parameter: the argument is a VT_BYREF variant over storage of the coercion type.
            levels = p.pointers - (1 if is_itf else 0)
            if levels != 1:
                raise IdlError(f"{itf.name}.{m.name}: {p.name} has unsupported indirection")
            if kind == "enum":
                body.append(f"    {name} p{i} = static_cast<{name}>(*static_cast<LONG*>({a}->byref));")
                call_args.append(f"&p{i}")
                post.append(f"    *static_cast<LONG*>({a}->byref) = static_cast<LONG>(p{i});")
            elif is_itf:
                body.append(f"    {name}* p{i} = static_cast<{name}*>(*static_cast<IUnknown**>({a}->byref));")
                call_args.append(f"&p{i}")
                post.append(f"    *static_cast<IUnknown**>({a}->byref) = p{i};")
            elif kind == "array":
                call_args.append(f"static_cast<SAFEARRAY**>({a}->byref)")
            else:
                ctype = SCALARS[name][0]
                call_args.append(f"static_cast<{ctype}*>({a}->byref)")
        lines = [f"HRESULT {fname}(IDispatch* self, VARIANT* const* args, VARIANT* result) {{"]
        if not m.params:
            lines[0] = f"HRESULT {fname}(IDispatch* self, VARIANT* const*, VARIANT*) {{"
        elif result is None:
            lines[0] = f"HRESULT {fname}(IDispatch* self, VARIANT* const* args, VARIANT*) {{"
        elif all("retval" in p.attrs for p in m.params):
            lines[0] = f"HRESULT {fname}(IDispatch* self, VARIANT* const*, VARIANT* result) {{"
        lines += body
        lines.append(f"    HRESULT hr = static_cast<{itf.name}*>(self)->{cxx_method_name(m)}({', '.join(call_args)});")
        lines += post
        if result:
            kind, name = result
            # A failing member may have filled its result before failing: what it holds is freed, not leaked.
            release = None
            if kind == "scalar" and name == "VARIANT":
                release = "VariantClear(&ret);"
            elif kind == "scalar" and name == "BSTR":
                release = "SysFreeString(ret);"
            elif kind == "interface" or (kind == "scalar" and name in ("IUnknown", "IDispatch")):
                release = "if (ret) ret->Release();"
            elif kind == "array":
                release = "if (ret) SafeArrayDestroy(ret);"
            if release:
                lines.append("    if (FAILED(hr)) {")
                lines.append(f"        {release}")
                lines.append("        return hr;")
                lines.append("    }")
            else:
                lines.append("    if (FAILED(hr)) return hr;")
            if kind == "scalar" and name == "VARIANT":
                lines.append("    *result = ret;")
            elif kind == "scalar" and name in ("IUnknown", "IDispatch"):
                lines.append(f"    result->vt = {SCALARS[name][4]};")
                lines.append(f"    result->{SCALARS[name][3]} = ret;")
            elif kind == "scalar":
                vt, fld = SCALARS[name][4], SCALARS[name][3]
                lines.append(f"    result->vt = {vt};")
                lines.append(f"    result->{fld} = ret;")
            elif kind == "enum":
                lines.append("    result->vt = VT_I4;")
                lines.append("    result->lVal = static_cast<LONG>(ret);")
            elif kind == "array":
                lines.append(f"    result->vt = VT_ARRAY | {SCALARS[name][1]};")
                lines.append("    result->parray = ret;")
            elif kind == "interface":
                if self.m.dispatchable(self.m.interfaces[name]):
                    lines.append("    result->vt = VT_DISPATCH;")
                    lines.append("    result->pdispVal = ret;")
                else:
                    lines.append("    result->vt = VT_UNKNOWN;")
                    lines.append("    result->punkVal = ret;")
        lines.append("    return hr;")
        lines.append("}")
        return fname, "\n".join(lines)

    def emit(self):
        out = []
        w = out.append
        w(f"// Generated from {self.src} by tools/idlgen.py. Do not edit.")
        w(f"#include \"{self.header}\"")
        w("#include \"atl/nuvtypelib.h\"")
        w("")
        w("namespace {")
        w("using namespace nuv::typelib;")
        w("")
        type_entries = []
        for ti, (kind, obj) in enumerate(self.types):
            tag = f"t{ti}"
            name = self.type_name(kind, obj)
            help_text = obj.attrs.get("helpstring")
            help_text = help_text.strip('"') if isinstance(help_text, str) else None
            funcs, consts, impls = "nullptr", "nullptr", "nullptr"
            nfuncs = nconsts = nimpls = 0
            flags = []
            guid = "GUID_NULL"
            base_index, builtin, vtable = -1, "BuiltinBase::None", 0
            alias = "{VT_EMPTY, VT_EMPTY, -1, 0}"
            if kind == "enum":
                tkind = "TKIND_ENUM"
                if "uuid" in obj.attrs:
                    guid = f"guid_from_literal(\"{guid_literal(obj.attrs['uuid'])}\")"
                w(f"const ConstDesc {tag}_consts[] = {{")
                for cname, value in obj.constants:
                    w(f"    {{{u16(cname)}, {value}}},")
                w("};")
                consts, nconsts = f"{tag}_consts", len(obj.constants)
            elif kind == "alias":
                tkind = "TKIND_ALIAS"
                alias = f"{{VT_USERDEFINED, VT_EMPTY, {ti - 1}, 0}}"
            elif kind == "coclass":
                tkind = "TKIND_COCLASS"
                guid = f"guid_from_literal(\"{guid_literal(obj.attrs['uuid'])}\")"
                if "noncreatable" not in obj.attrs:
                    flags.append("TYPEFLAG_FCANCREATE")
                w(f"const ImplDesc {tag}_impls[] = {{")
                for iattrs, iname, _ in obj.impls:
                    iflags = [f for a, f in (("default", "IMPLTYPEFLAG_FDEFAULT"), ("source", "IMPLTYPEFLAG_FSOURCE"),
                                             ("restricted", "IMPLTYPEFLAG_FRESTRICTED")) if a in iattrs]
                    w(f"    {{{self.index[('interface', iname)]}, {' | '.join(iflags) if iflags else '0'}}},")
                w("};")
                impls, nimpls = f"{tag}_impls", len(obj.impls)
            else:
                itf = obj
                guid = f"guid_from_literal(\"{guid_literal(itf.attrs['uuid'])}\")"
                if itf.dispinterface:
                    tkind = "TKIND_DISPATCH"
                    flags.append("TYPEFLAG_FDISPATCHABLE")
                    builtin = "BuiltinBase::IDispatch"
                    vtable = 7
                else:
                    tkind = "TKIND_INTERFACE"
                    if self.m.dual(itf):
                        flags.append("TYPEFLAG_FDUAL")
                    if "oleautomation" in itf.attrs or self.m.dual(itf):
                        flags.append("TYPEFLAG_FOLEAUTOMATION")
                    if self.m.dispatchable(itf):
                        flags.append("TYPEFLAG_FDISPATCHABLE")
                    if itf.base in ("IUnknown", "IDispatch"):
                        builtin = f"BuiltinBase::{itf.base}"
                    else:
                        base_index = self.index[("interface", itf.base)]
                    vtable = self.m.first_slot(itf) + len(itf.members)
                thunks = []
                if itf.members:
                    for m in itf.members:
                        if not itf.dispinterface and self.m.dispatchable(itf):
                            thunks.append(self.thunk(itf, m))
                        else:
                            thunks.append((None, None))
                    for _, code in thunks:
                        if code:
                            w(code)
                    for mi, m in enumerate(itf.members):
                        if m.params:
                            w(f"const ParamDesc {tag}_m{mi}_params[] = {{")
                            for p in m.params:
                                default = p.attrs.get("defaultvalue")
                                dval = int(str(default), 0) if isinstance(default, str) else 0
                                w(f"    {{{u16(p.name)}, {self.typeref(p.type, p.pointers)}, "
                                  f"{self.param_flags(p)}, {dval}}},")
                            w("};")
                    w(f"const FuncDesc {tag}_funcs[] = {{")
                    slot = self.m.first_slot(itf)
                    for mi, m in enumerate(itf.members):
                        fflags = []
                        if "restricted" in m.attrs:
                            fflags.append("FUNCFLAG_FRESTRICTED")
                        params = f"{tag}_m{mi}_params" if m.params else "nullptr"
                        thunk_name = thunks[mi][0] or "nullptr"
                        ret = "{VT_VOID, VT_EMPTY, -1, 0}" if m.result == "void" else "{VT_HRESULT, VT_EMPTY, -1, 0}"
                        funckind = "FUNC_DISPATCH" if itf.dispinterface else "FUNC_PUREVIRTUAL"
                        mslot = 0 if itf.dispinterface else slot + mi
                        w(f"    {{{u16(m.name)}, static_cast<MEMBERID>({hex(dispid(m) & 0xFFFFFFFF)}u), {invkind(m)}, "
                          f"{funckind}, {mslot}, {' | '.join(fflags) if fflags else '0'}, {ret}, {params}, "
                          f"{len(m.params)}, {thunk_name}}},")
                    w("};")
                    funcs, nfuncs = f"{tag}_funcs", len(itf.members)
            flag_text = " | ".join(flags) if flags else "0"
            type_entries.append(
                f"    {{{u16(name)}, {guid}, {tkind}, static_cast<WORD>({flag_text}), {u16(help_text)}, {base_index}, "
                f"{builtin}, {vtable}, {funcs}, {nfuncs}, {consts}, {nconsts}, {impls}, {nimpls}, {alias}}},")
            w("")
        w("const TypeDesc kTypes[] = {")
        out.extend(type_entries)
        w("};")
        w("")
        lib = self.m.library
        ver = str(lib.attrs.get("version", "1.0")).replace(" ", "")
        major, _, minor = ver.partition(".")
        lcid = int(str(lib.attrs.get("lcid", "0")), 0)
        help_text = lib.attrs.get("helpstring")
        help_text = help_text.strip('"') if isinstance(help_text, str) else None
        w(f"const LibraryDesc kLibrary = {{{u16(lib.name)}, LIBID_{lib.name}, {int(major)}, {int(minor or 0)}, "
          f"{hex(lcid)}, {u16(help_text)}, kTypes, static_cast<SHORT>(sizeof(kTypes) / sizeof(kTypes[0]))}};")
        w("}  // namespace")
        w("")
        w(f"const nuv::typelib::LibraryDesc& {self.fn}() {{ return kLibrary; }}")
        return "\n".join(out) + "\n"


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("input")
    ap.add_argument("--header", required=True)
    ap.add_argument("--typelib")
    args = ap.parse_args(argv)
    with open(args.input, encoding="utf-8") as f:
        text = f.read()
    src_name = args.input.replace("\\", "/").split("/")[-1]
    try:
        model = Model(Parser(tokenize(text)).parse_file())
        fn = f"{model.library.name}_Descriptor" if model.library else None
        header = emit_header(model, src_name, fn)
        typelib = None
        if args.typelib:
            if not model.library:
                raise IdlError("--typelib needs a library block")
            header_name = args.header.replace("\\", "/").split("/")[-1]
            typelib = TypelibWriter(model, src_name, header_name, fn).emit()
    except IdlError as e:
        print(f"{args.input}: error: {e}", file=sys.stderr)
        return 1
    write_if_changed(args.header, header)
    if typelib is not None:
        write_if_changed(args.typelib, typelib)
    return 0


def write_if_changed(path, text):
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
