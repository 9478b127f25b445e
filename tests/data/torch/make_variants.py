#!/usr/bin/env python3
"""Rewrites mlp_state_dict.pt (a real torch.save archive) into the variants the reader tests use.
Run from this folder: python3 make_variants.py

  mlp_state_dict_zip64.pt          every central-directory size and offset saturated (0xFFFFFFFF)
                                   with the real values in a zip64 extra block (uncompressed,
                                   compressed, offset), a foreign extra block before it, and a
                                   zip64 end-of-central-directory record and locator
  mlp_state_dict_zip64_offsets.pt  only the local header offsets saturated (the extra block holds
                                   just the offset); plain 32-bit end record
  mlp_state_dict_renamed.pt        the top folder renamed from mlp_state_dict/ to model/

Entry names, data and order are those of the original, so counts, names and fingerprints match
(the renamed one keeps only the learned-state fingerprint).
"""
import struct
import zipfile

SOURCE = "mlp_state_dict.pt"
FULL = 0xFFFFFFFF


def entries():
    with zipfile.ZipFile(SOURCE) as z:
        return [(i.filename, z.read(i)) for i in z.infolist()]


def local_header(name, data):
    return struct.pack("<4sHHHHHIIIHH", b"PK\x03\x04", 20, 0, 0, 0, 0,
                       zipfile.crc32(data), len(data), len(data), len(name), 0) + name


def central_header(name, size, offset, extra, sizes_field, offset_field):
    return struct.pack("<4sHHHHHHIIIHHHHHII", b"PK\x01\x02", 45, 45, 0, 0, 0, 0, 0,
                       sizes_field, sizes_field, len(name), len(extra), 0, 0, 0, 0,
                       offset_field) + name + extra


def write(path, items, mode):
    body, directory = b"", b""
    for name, data in items:
        raw = name.encode()
        offset = len(body)
        body += local_header(raw, data) + data
        foreign = struct.pack("<HH", 0x5455, 5) + b"\x01\x00\x00\x00\x00"
        if mode == "zip64":
            extra = foreign + struct.pack("<HHQQQ", 1, 24, len(data), len(data), offset)
            directory += central_header(raw, len(data), offset, extra, FULL, FULL)
        elif mode == "offsets":
            extra = foreign + struct.pack("<HHQ", 1, 8, offset)
            directory += central_header(raw, len(data), offset, extra, len(data), FULL)
        else:
            directory += central_header(raw, len(data), offset, b"", len(data), offset)
    cd_offset, cd_size = len(body), len(directory)
    tail = b""
    if mode == "zip64":
        record_offset = cd_offset + cd_size
        tail += struct.pack("<4sQHHIIQQQQ", b"PK\x06\x06", 44, 45, 45, 0, 0, len(items),
                            len(items), cd_size, cd_offset)
        tail += struct.pack("<4sIQI", b"PK\x06\x07", 0, record_offset, 1)
        tail += struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, 0xFFFF, 0xFFFF, FULL, FULL, 0)
    else:
        tail += struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, len(items), len(items), cd_size,
                            cd_offset, 0)
    with open(path, "wb") as f:
        f.write(body + directory + tail)


def main():
    items = entries()
    write("mlp_state_dict_zip64.pt", items, "zip64")
    write("mlp_state_dict_zip64_offsets.pt", items, "offsets")
    renamed = [(n.replace("mlp_state_dict/", "model/", 1), d) for n, d in items]
    write("mlp_state_dict_renamed.pt", renamed, "plain")


if __name__ == "__main__":
    main()
