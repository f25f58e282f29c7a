"""Drive image creator.

Turns drive scripts (Python source written against the drive's module
"targetlib") into a drive image, the ".pymbin" file that is downloaded into a
drive and run by the drive's small virtual machine. The program runs it inside
its embedded interpreter:

    pic = pmImgCreator.PmImgCreator()                   # generation 8
    pic = pmImgCreator.PmImgCreator(".../pmfeatures.py")  # generation 9
    pic.set_options(outfn, ".bin", "std", "flash", None, [script, ...])
    pic.convert_files()
    pic.write_image_file()

Errors in a script are raised as SyntaxError with the script's file name and
line, so that the traceback points at the offending line.

Image layout (all integers little-endian, texts UTF-8 with a 16-bit length):

    header, 16 bytes
      0  4  magic b"PMIM"
      4  1  layout version, 1
      5  1  virtual-machine generation, 8 or 9
      6  2  feature bits (FEATURES order: bit 0 HAVE_FLOAT, ...)
      8  2  number of module records
     10  2  reserved, 0
     12  4  image size in bytes, header and trailer included
    module records, one per script in the order given:
      a code object (tag 0x0A) whose name is the module name
    trailer, 8 bytes
      0  4  magic b"PMEN"
      4  4  CRC-32 (IEEE, as zlib.crc32) of every byte before the trailer

Objects, each a one-byte tag and its body:
    0x00 None, 0x01 False, 0x02 True
    0x03 int: signed 32 bits
    0x04 float: IEEE double
    0x05 str: u16 length, UTF-8 bytes
    0x06 tuple: u16 count, objects
    0x07 bytes: u32 length, bytes
    0x0A code: str name, u16 first line, u8 argument count,
         u16 local count, u16 stack size, u32 flags,
         bytes code, tuple names, tuple local names, tuple constants,
         bytes line table (empty without HAVE_DEBUG_INFO)

The image depends only on the scripts, the features and the interpreter's
byte-code version: the same input gives the same bytes.
"""

import dis
import os
import struct
import zlib

LAYOUT_VERSION = 1
HEADER_MAGIC = b"PMIM"
TRAILER_MAGIC = b"PMEN"

# Feature bits of the header, in bit order.
FEATURES = ("HAVE_FLOAT", "HAVE_CLASSES", "HAVE_GENERATORS", "HAVE_CLOSURES",
            "HAVE_DEBUG_INFO")

# Generation 8 drives come without a feature file.
GENERATION_8_FEATURES = {
    "HAVE_FLOAT": True,
    "HAVE_CLASSES": False,
    "HAVE_GENERATORS": False,
    "HAVE_CLOSURES": False,
    "HAVE_DEBUG_INFO": True,
}

CO_GENERATOR_LIKE = 0x20 | 0x80 | 0x100 | 0x200

TAG_NONE, TAG_FALSE, TAG_TRUE, TAG_INT, TAG_FLOAT = 0x00, 0x01, 0x02, 0x03, 0x04
TAG_STR, TAG_TUPLE, TAG_BYTES, TAG_CODE = 0x05, 0x06, 0x07, 0x0A


def _script_error(message, filename, lineno, source_lines):
    text = None
    if lineno and 0 < lineno <= len(source_lines):
        text = source_lines[lineno - 1]
    return SyntaxError(message, (filename, lineno or 1, 1, text))


class PmImgCreator:
    """Compiles drive scripts into one drive image."""

    def __init__(self, features_file=None):
        if features_file is None:
            self.generation = 8
            self.features = dict(GENERATION_8_FEATURES)
        else:
            self.generation = 9
            scope = {}
            with open(features_file, "r", encoding="utf-8") as f:
                exec(compile(f.read(), features_file, "exec"), scope)
            declared = scope.get("PM_FEATURES")
            if not isinstance(declared, dict):
                raise ValueError("%s does not define the dictionary PM_FEATURES" % features_file)
            self.features = {name: bool(declared.get(name, False)) for name in FEATURES}
        self.outfn = None
        self.files = []
        self.modules = []

    def set_options(self, outfn, imgtyp, imgtarget, memspace, natfn, fns):
        if imgtyp != ".bin":
            raise ValueError("image type %r is not supported (only \".bin\")" % (imgtyp,))
        if imgtarget != "std":
            raise ValueError("image target %r is not supported (only \"std\")" % (imgtarget,))
        if memspace not in ("flash", "ram"):
            raise ValueError("memory space %r is not supported" % (memspace,))
        if natfn is not None:
            raise ValueError("native function files are not supported")
        self.outfn = outfn
        self.files = list(fns)

    def convert_files(self):
        self.modules = []
        for path in self.files:
            with open(path, "rb") as f:
                source = f.read()
            lines = source.decode("utf-8", "replace").splitlines()
            code = compile(source, path, "exec", dont_inherit=True, optimize=0)
            self._check(code, path, lines)
            name = os.path.splitext(os.path.basename(path))[0]
            self.modules.append((name, code))

    def write_image_file(self):
        if self.outfn is None:
            raise ValueError("set_options() must come first")
        image = self.image_bytes()
        with open(self.outfn, "wb") as f:
            f.write(image)

    def image_bytes(self):
        body = b"".join(self._code(code, name) for name, code in self.modules)
        bits = 0
        for i, name in enumerate(FEATURES):
            if self.features.get(name):
                bits |= 1 << i
        size = 16 + len(body) + 8
        header = HEADER_MAGIC + struct.pack("<BBHHHI", LAYOUT_VERSION, self.generation, bits,
                                            len(self.modules), 0, size)
        data = header + body
        return data + TRAILER_MAGIC + struct.pack("<I", zlib.crc32(data) & 0xFFFFFFFF)

    # --- checks against what the drive can run

    def _check(self, code, path, lines):
        f = self.features
        for instr in dis.get_instructions(code):
            positions = getattr(instr, "positions", None)
            line = positions.lineno if positions else instr.starts_line
            if instr.opname == "LOAD_BUILD_CLASS" and not f["HAVE_CLASSES"]:
                raise _script_error("classes are not supported by this drive", path, line, lines)
            if (instr.opname == "LOAD_CONST" and isinstance(instr.argval, float)
                    and not f["HAVE_FLOAT"]):
                raise _script_error("floating-point numbers are not supported by this drive",
                                    path, line, lines)
            if (instr.opname == "LOAD_CONST" and isinstance(instr.argval, int)
                    and not isinstance(instr.argval, bool)
                    and not -2**31 <= instr.argval < 2**31):
                raise _script_error("integer %d does not fit the drive's 32 bits" % instr.argval,
                                    path, line, lines)
        if code.co_flags & CO_GENERATOR_LIKE and not f["HAVE_GENERATORS"]:
            raise _script_error("generators are not supported by this drive", path,
                                code.co_firstlineno, lines)
        if code.co_freevars and not f["HAVE_CLOSURES"]:
            raise _script_error("closures are not supported by this drive", path,
                                code.co_firstlineno, lines)
        for const in code.co_consts:
            if hasattr(const, "co_code"):
                self._check(const, path, lines)

    # --- serialisation

    def _str(self, text):
        data = text.encode("utf-8")
        if len(data) > 0xFFFF:
            raise ValueError("text too long for the image")
        return struct.pack("<H", len(data)) + data

    def _bytes(self, data):
        return struct.pack("<I", len(data)) + bytes(data)

    def _tuple(self, items):
        return struct.pack("<BH", TAG_TUPLE, len(items)) + b"".join(self._object(i) for i in items)

    def _object(self, value):
        if value is None:
            return bytes([TAG_NONE])
        if value is False:
            return bytes([TAG_FALSE])
        if value is True:
            return bytes([TAG_TRUE])
        if isinstance(value, int):
            return struct.pack("<Bi", TAG_INT, value)
        if isinstance(value, float):
            return struct.pack("<Bd", TAG_FLOAT, value)
        if isinstance(value, str):
            return bytes([TAG_STR]) + self._str(value)
        if isinstance(value, bytes):
            return bytes([TAG_BYTES]) + self._bytes(value)
        if isinstance(value, (tuple, frozenset)):
            items = tuple(value) if isinstance(value, tuple) else tuple(sorted(value, key=repr))
            return self._tuple(items)
        if hasattr(value, "co_code"):
            return self._code(value, value.co_name)
        raise ValueError("constant of type %s cannot go into the image" % type(value).__name__)

    def _code(self, code, name):
        lines = code.co_linetable if self.features.get("HAVE_DEBUG_INFO") else b""
        return (bytes([TAG_CODE]) + self._str(name)
                + struct.pack("<HBHHI", code.co_firstlineno & 0xFFFF, code.co_argcount & 0xFF,
                              code.co_nlocals & 0xFFFF, code.co_stacksize & 0xFFFF,
                              code.co_flags & 0xFFFFFFFF)
                + self._bytes(code.co_code)
                + self._tuple(code.co_names)
                + self._tuple(code.co_varnames)
                + self._tuple(code.co_consts)
                + self._bytes(lines))
