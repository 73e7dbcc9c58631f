#!/usr/bin/env python3
"""Checks the resources of the built QMLoader.exe:
  - exactly one RT_MANIFEST resource (a toolchain's default manifest must not
    be added beside ours), asking for common controls 6, per-monitor DPI
    awareness, asInvoker and a supported-OS list;
  - the icon, the four bitmaps and the version resource;
  - the plain server base URL, and each mirror's, appears nowhere in the file.
Usage: check-resources.py QMLoader.exe SERVER_BASE_URL
"""
import struct
import sys

RT_ICON, RT_BITMAP, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 2, 14, 16, 24


def sections(pe):
    pe_offset = struct.unpack_from("<I", pe, 0x3C)[0]
    assert pe[pe_offset:pe_offset + 4] == b"PE\0\0", "not a PE file"
    count = struct.unpack_from("<H", pe, pe_offset + 6)[0]
    optional_size = struct.unpack_from("<H", pe, pe_offset + 20)[0]
    table = pe_offset + 24 + optional_size
    for i in range(count):
        name, vsize, vaddr, rsize, raddr = struct.unpack_from("<8sIIII", pe, table + 40 * i)
        yield name.rstrip(b"\0"), vaddr, raddr, rsize


def resources(pe):
    """{type id: [(name id, language, data bytes)]}"""
    rsrc = next(s for s in sections(pe) if s[0] == b".rsrc")
    _, vaddr, raddr, _ = rsrc

    def entries(offset):
        named, ids = struct.unpack_from("<HH", pe, raddr + offset + 12)
        for i in range(named + ids):
            ident, target = struct.unpack_from("<II", pe, raddr + offset + 16 + 8 * i)
            yield ident, target

    found = {}
    for type_id, type_dir in entries(0):
        for name_id, name_dir in entries(type_dir & 0x7FFFFFFF):
            for lang, data_entry in entries(name_dir & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", pe, raddr + data_entry)
                start = raddr + rva - vaddr
                found.setdefault(type_id, []).append((name_id, lang, pe[start:start + size]))
    return found


def main():
    exe, urls = sys.argv[1], [u for u in sys.argv[2:] if u]
    pe = open(exe, "rb").read()
    found = resources(pe)
    failures = []

    manifests = found.get(RT_MANIFEST, [])
    if len(manifests) != 1:
        failures.append(f"{len(manifests)} manifests, expected exactly 1")
    else:
        text = manifests[0][2].decode("utf-8")
        for needed in ("Microsoft.Windows.Common-Controls", 'version="6.0.0.0"', "PerMonitorV2", "true/pm",
                       'level="asInvoker"', "supportedOS Id="):
            if needed not in text:
                failures.append(f"the manifest lacks {needed}")
    bitmaps = sorted(name for name, _, _ in found.get(RT_BITMAP, []))
    if bitmaps != [101, 102, 103, 104]:
        failures.append(f"bitmaps {bitmaps}, expected [101, 102, 103, 104]")
    if not found.get(RT_GROUP_ICON) or not found.get(RT_ICON):
        failures.append("no application icon")
    if not found.get(RT_VERSION):
        failures.append("no version resource")
    for url in urls:
        for encoding in ("latin-1", "utf-16-le"):
            if url.encode(encoding) in pe:
                failures.append(f"the plain server URL {url} is in the program ({encoding})")

    for failure in failures:
        print("FAIL:", failure)
    print(f"{exe}: {len(manifests)} manifest, bitmaps {bitmaps}, "
          f"{len(found.get(RT_ICON, []))} icon images, {'no ' if failures else ''}problems{' found' if failures else ' none'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
