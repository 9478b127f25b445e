#include "model/model.hpp"

#include <fmt/format.h>

#include "util/file.hpp"
#include "util/text.hpp"

namespace orvik {

namespace {

using Shape = std::vector<std::uint64_t>;

// One attention weight: the given tensor, or zeros of [features or F, width] sized from the
// running shape [T, F].
Result<Tensor> attention_weight(std::string_view context, std::optional<TensorSpec> spec,
                                const Shape& running, std::optional<std::uint64_t> tokens,
                                std::optional<std::uint64_t> features,
                                std::optional<std::uint64_t> width, ZeroBudget& budget) {
  if (spec) return tensor_from_spec(context, std::move(*spec));
  if (running.size() != 2) {
    return fail("shape-only self_attention layer needs rank-2 input [tokens, features]");
  }
  if (tokens && *tokens != running[0]) {
    return fail(fmt::format("shape-only self_attention tokens={} does not match input tokens={}",
                            *tokens, running[0]));
  }
  const std::uint64_t rows = features.value_or(running[1]);
  if (!width) return fail("shape-only self_attention layer needs `head_dim`");
  const Shape shape = {rows, *width};
  return zero_tensor(context, shape, budget);
}

// The input shape a plan without input or input_shape gets from its first layer.
Result<Shape> inferred_input_shape(const LayerSpec& first) {
  switch (first.kind) {
    case LayerKind::Linear:
      if (first.in) return Shape{1, *first.in};
      if (first.weights && !first.weights->shape.empty()) {
        return Shape{1, first.weights->shape[0]};
      }
      return fail("shape-only linear first layer needs `in` or weights shape");
    case LayerKind::SelfAttention: {
      if (!first.tokens) {
        return fail("shape-only self_attention first layer needs `tokens` or input_shape");
      }
      std::optional<std::uint64_t> columns = first.features;
      if (!columns) columns = first.head_dim;
      if (!columns && first.wq && !first.wq->shape.empty()) columns = first.wq->shape[0];
      if (!columns) {
        return fail(
            "shape-only self_attention first layer needs `features`, `head_dim`, or Wq shape");
      }
      return Shape{*first.tokens, *columns};
    }
    case LayerKind::Relu:
    case LayerKind::Gelu:
    case LayerKind::Softmax:
      break;
  }
  return fail(
      "first layer needs input, input_shape, or a shape-bearing linear/self_attention layer");
}

Result<Layer> build_linear(LayerSpec& spec, const Shape& running, ZeroBudget& budget, Layer layer) {
  const std::optional<std::uint64_t> width = spec.out ? spec.out : spec.out_features;
  constexpr std::string_view kNeedsOut = "shape-only linear layer needs `out`";
  Result<Tensor> weights;
  if (spec.weights) {
    weights = tensor_from_spec("weights", std::move(*spec.weights));
  } else {
    if (running.size() != 2)
      return fail("shape-only linear layer needs rank-2 input [batch, in_features]");
    if (!width) return fail(std::string(kNeedsOut));
    const Shape shape = {spec.in.value_or(running[1]), *width};
    weights = zero_tensor("weights", shape, budget);
  }
  if (!weights) return fail(std::move(weights.error()));
  Result<Tensor> bias;
  if (spec.bias) {
    bias = tensor_from_spec("bias", std::move(*spec.bias));
  } else {
    if (!width) return fail(std::string(kNeedsOut));
    const Shape shape = {*width};
    bias = zero_tensor("bias", shape, budget);
  }
  if (!bias) return fail(std::move(bias.error()));
  layer.weights = std::move(*weights);
  layer.bias = std::move(*bias);
  return layer;
}

Result<Layer> build_attention(LayerSpec& spec, const Shape& running, ZeroBudget& budget,
                              Layer layer) {
  auto wq = attention_weight("Wq", std::move(spec.wq), running, spec.tokens, spec.features,
                             spec.head_dim, budget);
  if (!wq) return fail(std::move(wq.error()));
  auto wk = attention_weight("Wk", std::move(spec.wk), running, spec.tokens, spec.features,
                             spec.head_dim, budget);
  if (!wk) return fail(std::move(wk.error()));
  const std::optional<std::uint64_t> value_width = spec.value_dim ? spec.value_dim : spec.head_dim;
  auto wv = attention_weight("Wv", std::move(spec.wv), running, spec.tokens, spec.features,
                             value_width, budget);
  if (!wv) return fail(std::move(wv.error()));
  layer.wq = std::move(*wq);
  layer.wk = std::move(*wk);
  layer.wv = std::move(*wv);
  return layer;
}

}  // namespace

Result<Tensor> zero_tensor(std::string_view context, std::span<const std::uint64_t> shape,
                           ZeroBudget& budget) {
  const std::optional<std::uint64_t> count = element_count(shape);
  if (!count) {
    return fail(fmt::format("{}: shape {} holds more values than a 64-bit count can hold", context,
                            format_shape(shape)));
  }
  if (*count > budget.remaining) {
    return fail(fmt::format(
        "{}: shape {} needs {} zero values, more than the {} left for the zero-filled tensors of "
        "one plan",
        context, format_shape(shape), *count, budget.remaining));
  }
  budget.remaining -= *count;
  auto tensor = make_tensor(Shape(shape.begin(), shape.end()),
                            std::vector<float>(static_cast<std::size_t>(*count), 0.0f));
  if (!tensor) return fail(fmt::format("{}: {}", context, tensor.error()));
  return tensor;
}

Result<Tensor> tensor_from_spec(std::string_view context, TensorSpec spec) {
  auto tensor = make_tensor(std::move(spec.shape), std::move(spec.data));
  if (!tensor) return fail(fmt::format("{}: {}", context, tensor.error()));
  return tensor;
}

Result<Model> build_model(ModelSpec spec, ZeroBudget budget) {
  Result<Tensor> input;
  if (spec.input) {
    input = tensor_from_spec("input", std::move(*spec.input));
  } else if (spec.input_shape) {
    input = zero_tensor("input", *spec.input_shape, budget);
  } else if (spec.layers.empty()) {
    return fail("model must define input, input_shape, or at least one layer");
  } else {
    const auto shape = inferred_input_shape(spec.layers.front());
    if (!shape) return fail(shape.error());
    input = zero_tensor("input", *shape, budget);
  }
  if (!input) return fail(std::move(input.error()));

  Model model;
  model.name = spec.name.value_or("model");
  model.input = std::move(*input);
  model.labels = std::move(spec.labels).value_or(std::vector<std::string>{});
  model.description = std::move(spec.description);
  model.layers.reserve(spec.layers.size());
  Shape running = model.input.shape;
  for (std::size_t i = 0; i < spec.layers.size(); ++i) {
    LayerSpec& layer_spec = spec.layers[i];
    Layer layer;
    layer.kind = layer_spec.kind;
    layer.name = layer_spec.name ? std::move(*layer_spec.name) : fmt::format("layer_{}", i + 1);
    layer.explain = std::move(layer_spec.explain);
    Result<Layer> built = std::move(layer);
    if (layer_spec.kind == LayerKind::Linear) {
      built = build_linear(layer_spec, running, budget, std::move(*built));
    } else if (layer_spec.kind == LayerKind::SelfAttention) {
      built = build_attention(layer_spec, running, budget, std::move(*built));
    }
    if (!built) return fail(std::move(built.error()));
    // The output width of a linear or attention layer sizes the next shape-only layer.
    const Tensor* produced = built->kind == LayerKind::Linear          ? &built->weights
                             : built->kind == LayerKind::SelfAttention ? &built->wv
                                                                       : nullptr;
    if (produced != nullptr && !running.empty() && produced->shape.size() >= 2) {
      running = {running[0], produced->shape[1]};
    }
    model.layers.push_back(std::move(*built));
  }
  return model;
}

Result<Model> load_model(const std::string& path) {
  auto text = read_whole_file(path);
  if (!text) return fail(fmt::format("read {}: {}", path, text.error()));
  if (!is_valid_utf8(*text)) {
    return fail(fmt::format("read {}: stream did not contain valid UTF-8", path));
  }
  auto spec = deserialize_model_spec(*text);
  if (!spec) return fail(fmt::format("parse {}: {}", path, spec.error()));
  return build_model(std::move(*spec));
}

}  // namespace orvik
