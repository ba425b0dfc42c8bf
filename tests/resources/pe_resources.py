"""Reads a PE file's headers, imports and resource tree, PE32 or PE32+ (standard library only)."""

import struct

RT_ICON, RT_MENU, RT_DIALOG, RT_STRING, RT_ACCELERATOR = 3, 4, 5, 6, 9
RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 14, 16, 24


class PeError(Exception):
    pass


class PeFile:
    """Headers and resources of one image.

    resources maps (type, name) to {language: bytes}; type and name are ints
    for numeric ids and str for named ones. stamps lists every time stamp the
    image carries (file header, resource directories, debug and export
    directories) as (where, value).
    """

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PeError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        (self.machine, sections, file_stamp, self.symbol_table, self.symbol_count, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        if self.magic not in (0x10B, 0x20B):
            raise PeError("not PE32 or PE32+ (optional header magic 0x%x)" % self.magic)
        # PE32+ has 8-byte image base and stack sizes, 16 bytes more before the directories.
        wide = 16 if self.magic == 0x20B else 0
        self.thunk_size = 8 if wide else 4
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, optional + 68)
        directory_count = struct.unpack_from("<I", data, optional + 92 + wide)[0]
        self.directories = [struct.unpack_from("<II", data, optional + 96 + wide + 8 * i)
                            for i in range(directory_count)]
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            name, vsize, rva, raw_size, raw_offset = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("latin-1"), rva, max(vsize, raw_size),
                                  raw_offset, raw_size))
        self.stamps = [("file header", file_stamp)]
        self._read_export_and_debug_stamps()
        self.resources = {}
        if len(self.directories) > 2 and self.directories[2][0]:
            self._read_resources(self.directories[2][0])

    def offset(self, rva):
        for _, start, size, raw_offset, raw_size in self.sections:
            if start <= rva < start + size:
                if rva - start >= raw_size:
                    raise PeError("RVA 0x%x lies in uninitialised data" % rva)
                return raw_offset + rva - start
        raise PeError("RVA 0x%x outside every section" % rva)

    def imports(self):
        """{DLL name: [function names, or "#ordinal"]} from the import directory."""
        found = {}
        if len(self.directories) < 2 or not self.directories[1][0]:
            return found
        at = self.offset(self.directories[1][0])
        while True:
            lookup, _, _, name_rva, address = struct.unpack_from("<IIIII", self.data, at)
            if name_rva == 0:
                return found
            functions = found.setdefault(self._string(name_rva), [])
            entry = self.offset(lookup or address)
            ordinal_flag = 1 << (8 * self.thunk_size - 1)
            while True:
                value = struct.unpack_from("<Q" if self.thunk_size == 8 else "<I", self.data, entry)[0]
                if value == 0:
                    break
                if value & ordinal_flag:
                    functions.append("#%d" % (value & 0xFFFF))
                else:
                    functions.append(self._string((value & 0x7FFFFFFF) + 2))
                entry += self.thunk_size
            at += 20

    def _string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("latin-1")

    def _read_export_and_debug_stamps(self):
        if len(self.directories) > 0 and self.directories[0][0]:
            stamp = struct.unpack_from("<I", self.data, self.offset(self.directories[0][0]) + 4)[0]
            self.stamps.append(("export directory", stamp))
        if len(self.directories) > 6 and self.directories[6][0]:
            rva, size = self.directories[6]
            base = self.offset(rva)
            for i in range(size // 28):
                stamp = struct.unpack_from("<I", self.data, base + 28 * i + 4)[0]
                self.stamps.append(("debug directory", stamp))

    def _read_resources(self, root_rva):
        root = self.offset(root_rva)

        def name_at(value):
            if value & 0x80000000:
                at = root + (value & 0x7FFFFFFF)
                length = struct.unpack_from("<H", self.data, at)[0]
                return self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            return value

        def directory(at, depth):
            _, stamp, _, _, named, ids = struct.unpack_from("<IIHHHH", self.data, at)
            self.stamps.append(("resource directory", stamp))
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                below = target & 0x80000000
                if below != (0x80000000 if depth < 2 else 0):
                    raise PeError("resource tree is not three levels deep")
                if below:
                    yield from ((name_at(name),) + rest
                                for rest in directory(root + (target & 0x7FFFFFFF), depth + 1))
                else:
                    data_rva, size, _, _ = struct.unpack_from("<IIII", self.data, root + target)
                    start = self.offset(data_rva)
                    yield (name, self.data[start:start + size])

        for kind, name, language, body in directory(root, 0):
            self.resources.setdefault((kind, name), {})[language] = body

    def types(self):
        return {kind for kind, _ in self.resources}

    def resource(self, kind, name):
        """The one language version of a resource; None when absent."""
        versions = self.resources.get((kind, name))
        if not versions:
            return None
        if len(versions) != 1:
            raise PeError("resource %r/%r exists in %d languages" % (kind, name, len(versions)))
        return next(iter(versions.values()))


def string_block(block):
    """The 16 strings of one RT_STRING block."""
    strings, at = [], 0
    for _ in range(16):
        length = struct.unpack_from("<H", block, at)[0]
        strings.append(block[at + 2:at + 2 + 2 * length].decode("utf-16-le"))
        at += 2 + 2 * length
    return strings


def version_tree(data):
    """The VS_VERSIONINFO tree as nested (key, value bytes, value type, children)."""
    return _version_node(data, 0)[0]


def _version_node(data, at):
    length, value_length, value_type = struct.unpack_from("<HHH", data, at)
    if length < 6 or at + length > len(data):
        raise PeError("version node at %d has a bad length" % at)
    end = at + length
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    cursor = (key_end + 2 + 3) & ~3
    # Text values count UTF-16 code units, binary values bytes.
    value_size = value_length * 2 if value_type == 1 else value_length
    value = data[cursor:cursor + value_size]
    cursor = (cursor + value_size + 3) & ~3
    children = []
    while cursor < end:
        child, child_length = _version_node(data, cursor)
        children.append(child)
        cursor = (cursor + child_length + 3) & ~3
    return (key, value, value_type, children), length
