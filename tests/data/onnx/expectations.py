# Writes expectations.json: what the onnx library (Debian's python3-onnx) reports for every model
# in this folder, for the reader's corpus agreement test. Run: /usr/bin/python3 expectations.py
import glob, json, os, onnx

SIZES = {2: 1, 3: 1, 9: 1, 4: 2, 5: 2, 10: 2, 16: 2, 7: 8, 11: 8, 13: 8}
MASK = (1 << 64) - 1

def opt(message, field):
    return getattr(message, field) if message.HasField(field) else None

def value_info(vi):
    elem_type, shape = None, []
    if vi.type.HasField("tensor_type"):
        tt = vi.type.tensor_type
        elem_type = opt(tt, "elem_type")
        for d in tt.shape.dim:
            shape.append(str(d.dim_value) if d.HasField("dim_value")
                         else d.dim_param if d.HasField("dim_param") else "?")
    return {"name": vi.name, "elem_type": elem_type, "shape": shape}

def expect(path):
    m = onnx.load(path, load_external_data=False)
    g = m.graph
    counts = {}
    for n in g.node:
        op = n.op_type if n.HasField("op_type") else "Unknown"
        counts[op] = counts.get(op, 0) + 1
    values = memory = 0
    tensors = []
    for t in g.initializer:
        count = 1
        for d in t.dims:
            count = count * (d & MASK) & MASK
        values = values + count & MASK
        memory = memory + count * SIZES.get(t.data_type, 4) & MASK
        tensors.append({"name": t.name, "dims": list(t.dims), "data_type": opt(t, "data_type"),
                        "data_location": opt(t, "data_location"),
                        "raw_data_bytes": len(t.raw_data),
                        "external_data_entries": len(t.external_data)})
    return {"file": os.path.basename(path), "file_size_bytes": os.path.getsize(path),
            "ir_version": opt(m, "ir_version"), "producer": opt(m, "producer_name"),
            "graph_name": opt(g, "name"),
            "opsets": [[o.domain, opt(o, "version")] for o in m.opset_import],
            "nodes": len(g.node),
            "op_counts": sorted(([op, c] for op, c in counts.items()),
                                key=lambda e: (-e[1], e[0].encode())),
            "initializers": tensors, "inputs": [value_info(v) for v in g.input],
            "outputs": [value_info(v) for v in g.output], "value_info_entries": len(g.value_info),
            "parameter_values": values, "parameter_memory_bytes": memory}

here = os.path.dirname(os.path.abspath(__file__))
models = [expect(p) for p in sorted(glob.glob(os.path.join(here, "*.onnx")))]
with open(os.path.join(here, "expectations.json"), "w") as out:
    json.dump(models, out, indent=1)
    out.write("\n")
