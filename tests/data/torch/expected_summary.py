#!/usr/bin/env python3
"""Computes the PyTorch summary record of checkpoints independently of orvik, for checking the
golden reports by hand: python3 expected_summary.py FILE...  (prints one JSON record per file).

The zip listing comes from Python's zipfile; entry data is taken as stored (the local header is
skipped by its own name and extra lengths), which is how the tool reads torch.save archives.
"""
import json
import os
import re
import struct
import sys
import zipfile

BASIS = 0xcbf29ce484222325
PRIME = 0x100000001b3
MASK = (1 << 64) - 1
DTYPES = [("DoubleStorage", "float64", 8), ("BFloat16Storage", "bfloat16", 2),
          ("HalfStorage", "float16", 2), ("FloatStorage", "float32", 4),
          ("LongStorage", "int64", 8), ("IntStorage", "int32", 4),
          ("ByteStorage", "uint8", 1), ("BoolStorage", "bool", 1)]
NAME_RE = re.compile(rb"[A-Za-z0-9._]{2,200}")


def fnv(state, data):
    for b in data:
        state = ((state ^ b) * PRIME) & MASK
    return state


def fnv_u64(state, value):
    return fnv(state, struct.pack("<Q", value))


def dominant(pickle):
    best, choice = 0, (None, 4)
    for cls, name, size in DTYPES:
        n = pickle.count(cls.encode())  # bytes.count counts non-overlapping matches
        if n > best:
            best, choice = n, (name, size)
    return choice


def param_names(pickle):
    names, i = [], 0
    while i < len(pickle):
        cand = None
        if pickle[i] == 0x58 and len(pickle) - i >= 5:
            (n,) = struct.unpack_from("<I", pickle, i + 1)
            if n <= len(pickle) - i - 5:
                cand, i = pickle[i + 5:i + 5 + n], i + 5 + n
        if cand is None and pickle[i] == 0x8C and len(pickle) - i >= 2:
            n = pickle[i + 1]
            if n <= len(pickle) - i - 2:
                cand, i = pickle[i + 2:i + 2 + n], i + 2 + n
        if cand is None:
            i += 1
            continue
        if NAME_RE.fullmatch(cand) and (b"." in cand or cand.endswith(
                (b"weight", b"bias", b"running_mean", b"running_var"))):
            text = cand.decode()
            if text not in names:
                names.append(text)
    return names


def entry_data(raw, info, length):
    off = info.header_offset
    assert raw[off:off + 4] == b"PK\x03\x04"
    n, e = struct.unpack_from("<HH", raw, off + 26)
    start = off + 30 + n + e
    return raw[start:start + length]


def summary(path):
    raw = open(path, "rb").read()
    rec = {"path": os.path.basename(path), "bytes": len(raw)}
    if raw[:4] != b"PK\x03\x04":
        assert raw[:1] == b"\x80"
        dtype, _ = dominant(raw)
        fp = fnv(BASIS, raw)
        rec.update(is_zip=False, tensor_count=0, total_parameter_bytes=0,
                   estimated_parameter_count=0, dominant_dtype=dtype,
                   param_names=param_names(raw), torch_version=None,
                   file_fingerprint=fp, learned_state_fingerprint=fp)
        return rec
    z = zipfile.ZipFile(path)
    entry_hash, storage_hash = BASIS, BASIS
    pickle, version, count, total = None, None, 0, 0
    for info in z.infolist():
        name, size = info.filename, info.file_size
        entry_hash = fnv(entry_hash, name.encode())
        last = name.rsplit("/", 1)[-1]
        if name.endswith("data.pkl"):
            pickle = entry_data(raw, info, size)
        elif name == "version" or name.endswith("/version"):
            version = entry_data(raw, info, min(size, 32)).decode("utf-8", "replace").strip()
        elif "/data/" in name and last.isdigit() and last.isascii():
            count += 1
            total += size
            if size:
                storage_hash = fnv(storage_hash, entry_data(raw, info, min(size, 1 << 20)))
            storage_hash = fnv_u64(storage_hash, size)
        entry_hash = fnv_u64(entry_hash, size)
    dtype, elem = dominant(pickle)
    rec.update(is_zip=True, tensor_count=count, total_parameter_bytes=total,
               estimated_parameter_count=total // elem, dominant_dtype=dtype,
               param_names=param_names(pickle), torch_version=version,
               file_fingerprint=fnv_u64(fnv(BASIS, pickle), entry_hash),
               learned_state_fingerprint=storage_hash)
    return rec


if __name__ == "__main__":
    for p in sys.argv[1:]:
        r = summary(p)
        print(json.dumps(r, indent=2))
        print("#", p, hex(r["file_fingerprint"]), hex(r["learned_state_fingerprint"]))
