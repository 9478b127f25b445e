#include "model/model.hpp"

#include <algorithm>
#include <array>
#include <memory>

#include <fmt/format.h>

#include "util/file.hpp"
#include "util/text.hpp"

namespace orvik {

namespace {

using Shape = std::vector<std::uint64_t>;

// A tensor the plan writes out, taken from the layer's record.
std::optional<TensorSpec> take_tensor(LayerSpec& spec, LayerTensor field) {
  TensorSpec* given = spec.tensor(field);
  if (given == nullptr) return std::nullopt;
  return std::move(*given);
}

using SharedTensor = std::shared_ptr<const Tensor>;

// The zero values a shape needs, taken from the budget, with the size limits' messages.
Result<std::uint64_t> take_zero_values(std::string_view context,
                                       std::span<const std::uint64_t> shape, ZeroBudget& budget) {
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
  return *count;
}

// `count` zeros in the shape, which holds that many values.
Tensor zeros_of(std::span<const std::uint64_t> shape, std::uint64_t count) {
  return Tensor{Shape(shape.begin(), shape.end()),
                std::vector<float>(static_cast<std::size_t>(count), 0.0f)};
}

// The layers' zero-filled tensors: one asking for the shape of one made recently shares it, as
// the layers of a plan that repeats a layer or a block of layers do. The budget is charged for
// every use, shared or not.
class ZeroTensors {
 public:
  Result<SharedTensor> get(std::string_view context, std::span<const std::uint64_t> shape,
                           ZeroBudget& budget) {
    const auto count = take_zero_values(context, shape, budget);
    if (!count) return fail(count.error());
    for (const SharedTensor& made : recent_) {
      if (made != nullptr && std::ranges::equal(made->shape, shape)) return made;
    }
    SharedTensor made = std::make_shared<const Tensor>(zeros_of(shape, *count));
    recent_[next_] = made;
    next_ = (next_ + 1) % recent_.size();
    return made;
  }

 private:
  std::array<SharedTensor, 8> recent_;
  std::size_t next_ = 0;
};

Result<SharedTensor> shared_from_spec(std::string_view context, TensorSpec spec) {
  auto tensor = tensor_from_spec(context, std::move(spec));
  if (!tensor) return fail(std::move(tensor.error()));
  return std::make_shared<const Tensor>(std::move(*tensor));
}

// One attention weight: the given tensor, or zeros of [features or F, width] sized from the
// running shape [T, F].
Result<SharedTensor> attention_weight(std::string_view context, std::optional<TensorSpec> spec,
                                      const Shape& running, std::optional<std::uint64_t> tokens,
                                      std::optional<std::uint64_t> features,
                                      std::optional<std::uint64_t> width, ZeroTensors& zeros,
                                      ZeroBudget& budget) {
  if (spec) return shared_from_spec(context, std::move(*spec));
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
  return zeros.get(context, shape, budget);
}

// The input shape a plan without input or input_shape gets from its first layer.
Result<Shape> inferred_input_shape(const LayerSpec& first) {
  switch (first.kind) {
    case LayerKind::Linear: {
      if (const auto in = first.size(LayerSize::In)) return Shape{1, *in};
      const TensorSpec* weights = first.tensor(LayerTensor::Weights);
      if (weights != nullptr && !weights->shape.empty()) return Shape{1, weights->shape[0]};
      return fail("shape-only linear first layer needs `in` or weights shape");
    }
    case LayerKind::SelfAttention: {
      const auto tokens = first.size(LayerSize::Tokens);
      if (!tokens) {
        return fail("shape-only self_attention first layer needs `tokens` or input_shape");
      }
      std::optional<std::uint64_t> columns = first.size(LayerSize::Features);
      if (!columns) columns = first.size(LayerSize::HeadDim);
      const TensorSpec* wq = first.tensor(LayerTensor::Wq);
      if (!columns && wq != nullptr && !wq->shape.empty()) columns = wq->shape[0];
      if (!columns) {
        return fail(
            "shape-only self_attention first layer needs `features`, `head_dim`, or Wq shape");
      }
      return Shape{*tokens, *columns};
    }
    case LayerKind::Relu:
    case LayerKind::Gelu:
    case LayerKind::Softmax:
      break;
  }
  return fail(
      "first layer needs input, input_shape, or a shape-bearing linear/self_attention layer");
}

Result<void> build_linear(LayerSpec& spec, const Shape& running, ZeroTensors& zeros,
                          ZeroBudget& budget, Layer& layer) {
  std::optional<std::uint64_t> width = spec.size(LayerSize::Out);
  if (!width) width = spec.size(LayerSize::OutFeatures);
  constexpr std::string_view kNeedsOut = "shape-only linear layer needs `out`";
  Result<SharedTensor> weights;
  if (auto given = take_tensor(spec, LayerTensor::Weights)) {
    weights = shared_from_spec("weights", std::move(*given));
  } else {
    if (running.size() != 2)
      return fail("shape-only linear layer needs rank-2 input [batch, in_features]");
    if (!width) return fail(std::string(kNeedsOut));
    const Shape shape = {spec.size(LayerSize::In).value_or(running[1]), *width};
    weights = zeros.get("weights", shape, budget);
  }
  if (!weights) return fail(std::move(weights.error()));
  Result<SharedTensor> bias;
  if (auto given = take_tensor(spec, LayerTensor::Bias)) {
    bias = shared_from_spec("bias", std::move(*given));
  } else {
    if (!width) return fail(std::string(kNeedsOut));
    const Shape shape = {*width};
    bias = zeros.get("bias", shape, budget);
  }
  if (!bias) return fail(std::move(bias.error()));
  layer.tensors = {std::move(*weights), std::move(*bias)};
  return {};
}

Result<void> build_attention(LayerSpec& spec, const Shape& running, ZeroTensors& zeros,
                             ZeroBudget& budget, Layer& layer) {
  const auto tokens = spec.size(LayerSize::Tokens);
  const auto features = spec.size(LayerSize::Features);
  const auto head_dim = spec.size(LayerSize::HeadDim);
  auto wq = attention_weight("Wq", take_tensor(spec, LayerTensor::Wq), running, tokens, features,
                             head_dim, zeros, budget);
  if (!wq) return fail(std::move(wq.error()));
  auto wk = attention_weight("Wk", take_tensor(spec, LayerTensor::Wk), running, tokens, features,
                             head_dim, zeros, budget);
  if (!wk) return fail(std::move(wk.error()));
  std::optional<std::uint64_t> value_width = spec.size(LayerSize::ValueDim);
  if (!value_width) value_width = head_dim;
  auto wv = attention_weight("Wv", take_tensor(spec, LayerTensor::Wv), running, tokens, features,
                             value_width, zeros, budget);
  if (!wv) return fail(std::move(wv.error()));
  layer.tensors = {std::move(*wq), std::move(*wk), std::move(*wv)};
  return {};
}

}  // namespace

Result<Tensor> zero_tensor(std::string_view context, std::span<const std::uint64_t> shape,
                           ZeroBudget& budget) {
  const auto count = take_zero_values(context, shape, budget);
  if (!count) return fail(count.error());
  return zeros_of(shape, *count);
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
  Shape running = model.input.shape;
  ZeroTensors zeros;
  // Each record is released as soon as its layer is built.
  for (std::size_t number = 1; !spec.layers.empty(); ++number, spec.layers.pop_front()) {
    LayerSpec& layer_spec = spec.layers.front();
    Layer& layer = model.layers.emplace_back();
    layer.kind = layer_spec.kind;
    layer.name = layer_spec.name ? std::move(*layer_spec.name) : fmt::format("layer_{}", number);
    layer.explain = std::move(layer_spec.explain);
    Result<void> built;
    if (layer.kind == LayerKind::Linear) {
      built = build_linear(layer_spec, running, zeros, budget, layer);
    } else if (layer.kind == LayerKind::SelfAttention) {
      built = build_attention(layer_spec, running, zeros, budget, layer);
    }
    if (!built) return fail(std::move(built.error()));
    // The output width of a linear or attention layer sizes the next shape-only layer.
    const Tensor* produced = layer.kind == LayerKind::Linear          ? &layer.weights()
                             : layer.kind == LayerKind::SelfAttention ? &layer.wv()
                                                                      : nullptr;
    if (produced != nullptr && !running.empty() && produced->shape.size() >= 2) {
      running = {running[0], produced->shape[1]};
    }
  }
  return model;
}

namespace {

// The plan's text lives only while it is read.
Result<ModelSpec> read_plan(const std::string& path) {
  auto text = read_whole_file(path);
  if (!text) return fail(fmt::format("read {}: {}", path, text.error()));
  if (!is_valid_utf8(*text)) {
    return fail(fmt::format("read {}: stream did not contain valid UTF-8", path));
  }
  auto spec = deserialize_model_spec(*text);
  if (!spec) return fail(fmt::format("parse {}: {}", path, spec.error()));
  return spec;
}

}  // namespace

Result<Model> load_model(const std::string& path) {
  auto spec = read_plan(path);
  if (!spec) return fail(std::move(spec.error()));
  return build_model(std::move(*spec));
}

}  // namespace orvik
