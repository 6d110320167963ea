"""The interface-definition generator: what it emits for small definitions, and how it refuses bad ones."""

import os
import subprocess
import sys
import tempfile
import unittest

GENERATOR = os.environ.get("NUV_IDLGEN", os.path.join(os.path.dirname(__file__), "..", "..", "tools", "idlgen.py"))

LIBRARY = """
[uuid(11111111-2222-3333-4444-555555555555), version(2.1), lcid(0x409)]
library Lib {
    typedef enum Color { Red = 0, Blue = 7 } Color;
    [object, uuid(00000001-0000-0000-0000-0000000000AA), dual, oleautomation]
    interface IThing : IDispatch {
        [propget, id(1)] HRESULT Size([out, retval] long* p);
        [propput, id(1)] HRESULT Size([in] long v);
        [id(2)] HRESULT Paint([in] Color c, [in, optional, defaultvalue(3)] long times, [out, retval] IThing** next);
    };
    [object, uuid(00000002-0000-0000-0000-0000000000AA), dual]
    interface IThing2 : IThing {
        [id(3)] HRESULT More([in, out] VARIANT* v, [out] SAFEARRAY(BSTR)* names);
    };
    [uuid(00000003-0000-0000-0000-0000000000AA), noncreatable]
    coclass Thing { [default] interface IThing2; };
};
"""


def run(source, typelib=True):
    with tempfile.TemporaryDirectory() as d:
        idl = os.path.join(d, "x.idl")
        with open(idl, "w") as f:
            f.write(source)
        args = [sys.executable, GENERATOR, idl, "--header", os.path.join(d, "x.h")]
        if typelib:
            args += ["--typelib", os.path.join(d, "x.cpp")]
        proc = subprocess.run(args, capture_output=True, text=True)
        out = {}
        for name in ("x.h", "x.cpp"):
            path = os.path.join(d, name)
            if os.path.exists(path):
                with open(path) as f:
                    out[name] = f.read()
        return proc.returncode, proc.stderr, out


class Emitted(unittest.TestCase):
    def test_interfaces_keep_their_order_and_property_prefixes(self):
        rc, err, out = run(LIBRARY)
        self.assertEqual(rc, 0, err)
        header = out["x.h"]
        get = header.index("get_Size(LONG* p)")
        put = header.index("put_Size(LONG v)")
        paint = header.index("Paint(Color c, LONG times, IThing** next)")
        self.assertLess(get, put)
        self.assertLess(put, paint)
        self.assertIn("struct IThing2 : IThing", header)
        self.assertIn("More(VARIANT* v, SAFEARRAY** names)", header)
        self.assertIn('DECLARE_UUIDOF(IThing, "00000001-0000-0000-0000-0000000000AA")', header)
        self.assertIn("CLSID_Thing", header)
        self.assertIn("Blue = 7", header)

    def test_descriptors_carry_slots_flags_and_defaults(self):
        rc, err, out = run(LIBRARY)
        self.assertEqual(rc, 0, err)
        cpp = out["x.cpp"]
        # IThing's members follow IDispatch's seven slots; IThing2's follow IThing's three members.
        self.assertRegex(cpp, r'\{OLESTR\("Size"\), [^,]+, INVOKE_PROPERTYGET, FUNC_PUREVIRTUAL, 7,')
        self.assertRegex(cpp, r'\{OLESTR\("Paint"\), [^,]+, INVOKE_FUNC, FUNC_PUREVIRTUAL, 9,')
        self.assertRegex(cpp, r'\{OLESTR\("More"\), [^,]+, INVOKE_FUNC, FUNC_PUREVIRTUAL, 10,')
        self.assertIn('{OLESTR("times"), {VT_I4, VT_EMPTY, -1, 0}, PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT, 3}', cpp)
        self.assertIn("PARAMFLAG_FIN | PARAMFLAG_FOUT", cpp)
        self.assertIn("{VT_SAFEARRAY, VT_BSTR, -1, 1}", cpp)
        self.assertIn("static_cast<Color>(args[0]->lVal)", cpp)

    def test_header_only_files_need_no_library(self):
        rc, err, out = run("""[object, uuid(00000001-0000-0000-0000-0000000000AB)]
            interface IPlain : IUnknown { HRESULT Go([in, string] const char* text, [out] char** copy); };""",
                           typelib=False)
        self.assertEqual(rc, 0, err)
        self.assertIn("Go(const char* text, char** copy)", out["x.h"])
        self.assertNotIn("Descriptor", out["x.h"])


class Refused(unittest.TestCase):
    CASES = {
        "unknown type": ("[id(1)] HRESULT F([in] Widget w);", "unknown type Widget"),
        "member declared twice": ("[id(1)] HRESULT F(); [id(2)] HRESULT F();", "declared twice"),
        "no dispatch id": ("HRESULT F();", "no dispatch id"),
        "retval by value": ("[id(1)] HRESULT F([out, retval] long v);", "retval"),
    }

    def test_bad_definitions_fail_with_a_message(self):
        for what, (member, message) in self.CASES.items():
            with self.subTest(what):
                source = ("[uuid(11111111-2222-3333-4444-555555555555), version(1.0)] library L {"
                          "[object, uuid(00000001-0000-0000-0000-0000000000AA), dual] interface I : IDispatch {"
                          + member + "}; };")
                rc, err, _ = run(source)
                self.assertNotEqual(rc, 0)
                self.assertIn(message, err)

    def test_bases_must_exist_and_come_first(self):
        for what, body, message in [
            ("no base", "interface A { };", "needs a base"),
            ("later base", "interface A : B { }; [object, uuid(00000001-0000-0000-0000-0000000000AB)] "
                           "interface B : IUnknown { };", "must be defined first"),
            ("unknown base", "interface A : Nowhere { };", "unknown base"),
        ]:
            with self.subTest(what):
                rc, err, _ = run("[object, uuid(00000001-0000-0000-0000-0000000000AA)] " + body, typelib=False)
                self.assertNotEqual(rc, 0)
                self.assertIn(message, err)

    def test_syntax_errors_name_the_line(self):
        rc, err, _ = run("library L {\n interface I : IDispatch { ?? };\n};")
        self.assertNotEqual(rc, 0)
        self.assertIn("line 2", err)


if __name__ == "__main__":
    unittest.main()
