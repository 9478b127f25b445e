# Writes mlp_deeper.onnx, which the diff cases compare against ../onnx/mlp_helper.onnx: W2 and b2
# change shape, b1 is renamed fc1.bias, W3 is new; Gemm and Relu grow, Softmax gives way to
# Sigmoid; a fixed batch gives the cost estimates static shapes.
# Run: /usr/bin/python3 diff_variants.py (Debian's python3-onnx).
import os, numpy as np, onnx
from onnx import helper as h, TensorProto as T, numpy_helper as nh

here = os.path.dirname(os.path.abspath(__file__))
rng = np.random.default_rng(1)
def init(name, *shape): return nh.from_array(rng.standard_normal(shape).astype(np.float32), name)

m = onnx.load(os.path.join(here, "..", "onnx", "mlp_helper.onnx"))
g = h.make_graph(
    [h.make_node("Gemm", ["x", "W1", "fc1.bias"], ["h1"], transB=1, name="fc1"),
     h.make_node("Relu", ["h1"], ["r1"], name="relu1"),
     h.make_node("Gemm", ["r1", "W2", "b2"], ["h2"], transB=1, name="fc2"),
     h.make_node("Relu", ["h2"], ["r2"], name="relu2"),
     h.make_node("Gemm", ["r2", "W3"], ["logits"], transB=1, name="fc3"),
     h.make_node("Sigmoid", ["logits"], ["probs"], name="sigmoid")],
    "mlp", [h.make_tensor_value_info("x", T.FLOAT, [8, 16])],
    [h.make_tensor_value_info("probs", T.FLOAT, [8, 4])],
    [m.graph.initializer[0], nh.from_array(nh.to_array(m.graph.initializer[1]), "fc1.bias"),
     init("W2", 8, 32), init("b2", 8), init("W3", 4, 8)])
m = h.make_model(g, producer_name="corpus-scout", opset_imports=[h.make_opsetid("", 13)])
onnx.checker.check_model(m)
onnx.save(m, os.path.join(here, "mlp_deeper.onnx"))
