# Writes the small models of the ONNX golden cases that each hinge on one detail: int64_data
# values [1, 2, 3] and [1, 2, 4] (field 7, not raw_data), a bfloat16 [2, 4] initializer (2 bytes a
# value), and a graph with exactly two LayerNormalization nodes and no Softmax or Attention.
# Run: /usr/bin/python3 small_variants.py (Debian's python3-onnx).
import os, onnx
from onnx import helper as h, TensorProto as T

here = os.path.dirname(os.path.abspath(__file__))

def save(name, nodes, inputs, outputs, initializers):
    graph = h.make_graph(nodes, name.split(".")[0], inputs, outputs, initializers)
    model = h.make_model(graph, producer_name="orvik-tests", opset_imports=[h.make_opsetid("", 17)])
    onnx.checker.check_model(model)
    onnx.save(model, os.path.join(here, name))

for name, values in (("int64_123.onnx", [1, 2, 3]), ("int64_124.onnx", [1, 2, 4])):
    save(name, [h.make_node("Add", ["x", "k"], ["y"], name="add")],
         [h.make_tensor_value_info("x", T.INT64, [3])], [h.make_tensor_value_info("y", T.INT64, [3])],
         [h.make_tensor("k", T.INT64, [3], values)])

save("bfloat16_2x4.onnx", [h.make_node("Add", ["x", "w"], ["y"], name="add")],
     [h.make_tensor_value_info("x", T.BFLOAT16, [2, 4])],
     [h.make_tensor_value_info("y", T.BFLOAT16, [2, 4])],
     [h.make_tensor("w", T.BFLOAT16, [2, 4], bytes(range(16)), raw=True)])

save("two_layernorms.onnx",
     [h.make_node("LayerNormalization", ["x", "g", "b"], ["n1"], name="ln1"),
      h.make_node("MatMul", ["n1", "w"], ["m"], name="proj"),
      h.make_node("LayerNormalization", ["m", "g", "b"], ["y"], name="ln2")],
     [h.make_tensor_value_info("x", T.FLOAT, [2, 4])], [h.make_tensor_value_info("y", T.FLOAT, [2, 4])],
     [h.make_tensor("g", T.FLOAT, [4], [1.0] * 4), h.make_tensor("b", T.FLOAT, [4], [0.0] * 4),
      h.make_tensor("w", T.FLOAT, [4, 4], [0.5] * 16)])
