#include "model/plan_schema.hpp"

#include <array>
#include <cmath>
#include <limits>
#include <utility>

#include <fmt/format.h>

#include "model/plan_json.hpp"

namespace orvik {

namespace {

using SeqState = PlanJsonReader::SeqState;
using MapState = PlanJsonReader::MapState;

// One field of a record: its key, whether it must be given, and how its value is read from the
// document (for records read directly) or from a buffered value (for records inside a layer).
template <class Record>
struct Field {
  std::string_view name;
  bool required;
  PlanRead<void> (*from_stream)(PlanJsonReader&, Record&);
  PlanRead<void> (*from_content)(PlanContent::Value, Record&);
};

template <class T>
PlanRead<void> assign(T& slot, PlanRead<T> value) {
  if (!value) return std::unexpected(std::move(value.error()));
  slot = std::move(*value);
  return {};
}

template <class Record, std::size_t N>
const Field<Record>* find_field(const std::array<Field<Record>, N>& fields, std::string_view key,
                                std::size_t& index) {
  for (index = 0; index < N; ++index) {
    if (fields[index].name == key) return &fields[index];
  }
  return nullptr;
}

// A record read from the document, in either form.
template <class Record, std::size_t N>
PlanRead<Record> read_record(PlanJsonReader& r, std::string_view expected,
                             std::string_view length_text,
                             const std::array<Field<Record>, N>& fields) {
  const auto visit_seq = [&](SeqState& seq) -> PlanRead<Record> {
    Record record;
    for (std::size_t i = 0; i < N; ++i) {
      const auto present = r.next_element(seq, [&]() -> PlanRead<bool> {
        if (auto read = fields[i].from_stream(r, record); !read) {
          return std::unexpected(std::move(read.error()));
        }
        return true;
      });
      if (!present) return std::unexpected(present.error());
      if (!*present) return plan_error(invalid_length_message(i, length_text));
    }
    return record;
  };
  const auto visit_map = [&](MapState& map) -> PlanRead<Record> {
    Record record;
    std::array<bool, N> seen{};
    while (true) {
      auto key = r.next_key(map);
      if (!key) return std::unexpected(std::move(key.error()));
      if (!*key) break;
      std::size_t i = 0;
      const Field<Record>* field = find_field(fields, **key, i);
      if (field != nullptr && seen[i]) return plan_error(duplicate_field_message(field->name));
      const auto read = r.next_value([&]() -> PlanRead<void> {
        if (field == nullptr) {
          return r.ignore_value();
        }
        return field->from_stream(r, record);
      });
      if (!read) return std::unexpected(read.error());
      if (field != nullptr) seen[i] = true;
    }
    for (std::size_t i = 0; i < N; ++i) {
      if (fields[i].required && !seen[i]) return plan_error(missing_field_message(fields[i].name));
    }
    return record;
  };
  return r.read_struct<Record>(expected, visit_seq, visit_map);
}

// A record read from a buffered value: a map, or a list whose first `skip` elements are not
// fields (a layer's tag). A list longer than the record fails with "invalid length {}, expected
// {} elements in sequence".
template <class Record, std::size_t N>
PlanRead<Record> content_record(PlanContent::Value content, std::string_view expected,
                                std::string_view length_text,
                                const std::array<Field<Record>, N>& fields, std::size_t skip = 0) {
  Record record;
  if (content.kind() == PlanContent::Kind::Seq) {
    const std::size_t count = content.size() - skip;
    PlanContent::Value item = content.first();
    for (std::size_t i = 0; i < skip; ++i)
      item = item.next();
    for (std::size_t i = 0; i < N; ++i, item = item.next()) {
      if (i >= count) return plan_error(invalid_length_message(i, length_text));
      if (auto read = fields[i].from_content(item, record); !read) {
        return std::unexpected(std::move(read.error()));
      }
    }
    if (count > N) {
      return plan_error(invalid_length_message(count, fmt::format("{} elements in sequence", N)));
    }
    return record;
  }
  if (content.kind() != PlanContent::Kind::Map) {
    return plan_error(invalid_type_message(found_content_text(content), expected));
  }
  std::array<bool, N> seen{};
  PlanContent::Value key = content.first();
  for (std::size_t m = 0; m < content.size(); ++m) {
    const PlanContent::Value value = key.next();
    std::size_t i = 0;
    const Field<Record>* field = find_field(fields, key.text(), i);
    key = value.next();
    if (field == nullptr) continue;
    if (seen[i]) return plan_error(duplicate_field_message(field->name));
    if (auto read = field->from_content(value, record); !read) {
      return std::unexpected(std::move(read.error()));
    }
    seen[i] = true;
  }
  for (std::size_t i = 0; i < N; ++i) {
    if (fields[i].required && !seen[i]) return plan_error(missing_field_message(fields[i].name));
  }
  return record;
}

// Numbers into field types.

PlanRead<std::uint64_t> number_to_u64(const PlanNumber& number) {
  switch (number.kind) {
    case PlanNumber::Kind::U64:
      return number.u64;
    case PlanNumber::Kind::I64:
      return plan_error(invalid_value_message(found_number_text(number), "u64"));
    case PlanNumber::Kind::F64:
      break;
  }
  return plan_error(invalid_type_message(found_number_text(number), "u64"));
}

// The nearest float; beyond the float range (from the largest float plus half a step, which
// rounds to even, upwards) an infinity of the number's sign.
float nearest_f32(double value) {
  constexpr double kOverflow = 0x1.ffffffp127;
  if (value >= kOverflow) return std::numeric_limits<float>::infinity();
  if (value <= -kOverflow) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

float number_to_f32(const PlanNumber& number) {
  switch (number.kind) {
    case PlanNumber::Kind::U64:
      return static_cast<float>(number.u64);
    case PlanNumber::Kind::I64:
      return static_cast<float>(number.i64);
    case PlanNumber::Kind::F64:
      break;
  }
  return nearest_f32(number.f64);
}

// Values read from the document.

PlanRead<std::uint64_t> read_u64(PlanJsonReader& r) {
  const auto number = r.read_number("u64");
  if (!number) return std::unexpected(number.error());
  auto value = number_to_u64(*number);
  if (!value) return std::unexpected(r.fix_position(std::move(value.error())));
  return value;
}

PlanRead<float> read_f32(PlanJsonReader& r) {
  const auto number = r.read_number("f32");
  if (!number) return std::unexpected(number.error());
  return number_to_f32(*number);
}

PlanRead<std::optional<std::string>> read_opt_string(PlanJsonReader& r) {
  return r.read_option([&] { return r.read_string("a string"); });
}

PlanRead<std::vector<std::uint64_t>> read_u64_list(PlanJsonReader& r) {
  return r.read_seq([&] { return read_u64(r); });
}

// Values read from a buffered layer.

PlanRead<std::optional<std::string>> content_opt_string(PlanContent::Value c) {
  if (c.kind() == PlanContent::Kind::Null) return std::nullopt;
  if (c.kind() == PlanContent::Kind::String) return std::string(c.text());
  return plan_error(invalid_type_message(found_content_text(c), "a string"));
}

PlanRead<std::uint64_t> content_u64(PlanContent::Value c) {
  if (c.kind() == PlanContent::Kind::Number) return number_to_u64(c.number());
  return plan_error(invalid_type_message(found_content_text(c), "u64"));
}

PlanRead<std::optional<std::uint64_t>> content_opt_u64(PlanContent::Value c) {
  if (c.kind() == PlanContent::Kind::Null) return std::nullopt;
  auto value = content_u64(c);
  if (!value) return std::unexpected(std::move(value.error()));
  return *value;
}

template <class T, class Element>
PlanRead<std::vector<T>> content_list(PlanContent::Value c, Element element) {
  if (c.kind() != PlanContent::Kind::Seq) {
    return plan_error(invalid_type_message(found_content_text(c), "a sequence"));
  }
  std::vector<T> out;
  out.reserve(c.size());
  PlanContent::Value item = c.first();
  for (std::size_t i = 0; i < c.size(); ++i, item = item.next()) {
    auto value = element(item);
    if (!value) return std::unexpected(std::move(value.error()));
    out.push_back(*value);
  }
  return out;
}

PlanRead<float> content_f32(PlanContent::Value c) {
  if (c.kind() == PlanContent::Kind::Number) return number_to_f32(c.number());
  return plan_error(invalid_type_message(found_content_text(c), "f32"));
}

// Records.

constexpr std::array<Field<TensorSpec>, 2> kTensorSpecFields = {{
    {"shape", true,
     [](PlanJsonReader& r, TensorSpec& t) { return assign(t.shape, read_u64_list(r)); },
     [](PlanContent::Value c, TensorSpec& t) {
       return assign(t.shape, content_list<std::uint64_t>(c, content_u64));
     }},
    {"data", true,
     [](PlanJsonReader& r, TensorSpec& t) {
       return assign(t.data, r.read_seq([&] { return read_f32(r); }));
     },
     [](PlanContent::Value c, TensorSpec& t) {
       return assign(t.data, content_list<float>(c, content_f32));
     }},
}};

PlanRead<TensorSpec> read_tensor_spec(PlanJsonReader& r) {
  return read_record(r, "struct TensorSpec", "struct TensorSpec with 2 elements",
                     kTensorSpecFields);
}

PlanRead<std::optional<TensorSpec>> content_opt_tensor(PlanContent::Value c) {
  if (c.kind() == PlanContent::Kind::Null) return std::nullopt;
  auto tensor = content_record(c, "struct TensorSpec", "struct TensorSpec with 2 elements",
                               kTensorSpecFields);
  if (!tensor) return std::unexpected(std::move(tensor.error()));
  return std::optional(std::move(*tensor));
}

// Layer fields, all read from the buffered value of the layer.
template <auto Member>
PlanRead<void> opt_string_field(PlanContent::Value c, LayerSpec& layer) {
  return assign(layer.*Member, content_opt_string(c));
}
template <LayerTensor Slot>
PlanRead<void> opt_tensor_field(PlanContent::Value c, LayerSpec& layer) {
  auto tensor = content_opt_tensor(c);
  if (!tensor) return std::unexpected(std::move(tensor.error()));
  layer.set_tensor(Slot, std::move(*tensor));
  return {};
}
template <LayerSize Slot>
PlanRead<void> opt_u64_field(PlanContent::Value c, LayerSpec& layer) {
  const auto value = content_opt_u64(c);
  if (!value) return std::unexpected(value.error());
  layer.set_size(Slot, *value);
  return {};
}

constexpr Field<LayerSpec> kName = {"name", false, nullptr, opt_string_field<&LayerSpec::name>};
constexpr Field<LayerSpec> kExplain = {"explain", false, nullptr,
                                       opt_string_field<&LayerSpec::explain>};

constexpr std::array<Field<LayerSpec>, 7> kLinearFields = {{
    kName,
    kExplain,
    {"weights", false, nullptr, opt_tensor_field<LayerTensor::Weights>},
    {"bias", false, nullptr, opt_tensor_field<LayerTensor::Bias>},
    {"in", false, nullptr, opt_u64_field<LayerSize::In>},
    {"out", false, nullptr, opt_u64_field<LayerSize::Out>},
    {"out_features", false, nullptr, opt_u64_field<LayerSize::OutFeatures>},
}};

constexpr std::array<Field<LayerSpec>, 9> kSelfAttentionFields = {{
    kName,
    kExplain,
    {"wq", false, nullptr, opt_tensor_field<LayerTensor::Wq>},
    {"wk", false, nullptr, opt_tensor_field<LayerTensor::Wk>},
    {"wv", false, nullptr, opt_tensor_field<LayerTensor::Wv>},
    {"tokens", false, nullptr, opt_u64_field<LayerSize::Tokens>},
    {"features", false, nullptr, opt_u64_field<LayerSize::Features>},
    {"head_dim", false, nullptr, opt_u64_field<LayerSize::HeadDim>},
    {"value_dim", false, nullptr, opt_u64_field<LayerSize::ValueDim>},
}};

constexpr std::array<Field<LayerSpec>, 2> kActivationFields = {{kName, kExplain}};

struct LayerTag {
  std::string_view tag;
  LayerKind kind;
};
constexpr std::array<LayerTag, 5> kLayerTags = {{
    {"linear", LayerKind::Linear},
    {"self_attention", LayerKind::SelfAttention},
    {"relu", LayerKind::Relu},
    {"gelu", LayerKind::Gelu},
    {"softmax", LayerKind::Softmax},
}};

// The tag of a buffered layer: the value of its one "type" key, or the first element of its
// list.
PlanRead<PlanContent::Value> layer_tag(PlanContent::Value layer) {
  if (layer.kind() == PlanContent::Kind::Seq) {
    if (layer.size() == 0) return plan_error(missing_field_message("type"));
    return layer.first();
  }
  std::optional<PlanContent::Value> tag;
  PlanContent::Value key = layer.first();
  for (std::size_t m = 0; m < layer.size(); ++m) {
    const PlanContent::Value value = key.next();
    if (key.text() == "type") {
      if (tag) return plan_error(duplicate_field_message("type"));
      tag = value;
    }
    key = value.next();
  }
  if (!tag) return plan_error(missing_field_message("type"));
  return *tag;
}

PlanRead<LayerKind> layer_kind(PlanContent::Value tag) {
  if (tag.kind() != PlanContent::Kind::String) {
    return plan_error(invalid_type_message(found_content_text(tag), "variant identifier"));
  }
  for (const LayerTag& known : kLayerTags) {
    if (known.tag == tag.text()) return known.kind;
  }
  return plan_error(fmt::format(
      "unknown variant `{}`, expected one of `linear`, `self_attention`, `relu`, `gelu`, "
      "`softmax`",
      tag.text()));
}

// A buffered layer: the tag first (a second "type" key, then its kind and value), then the
// variant's fields from the other keys, or from the elements after the tag. The "type" key is
// a field of no variant, so the variant skips it.
PlanRead<LayerSpec> layer_from_content(PlanContent::Value layer) {
  const auto tag = layer_tag(layer);
  if (!tag) return std::unexpected(tag.error());
  const auto kind = layer_kind(*tag);
  if (!kind) return std::unexpected(kind.error());
  const std::size_t skip = layer.kind() == PlanContent::Kind::Seq ? 1 : 0;
  PlanRead<LayerSpec> spec;
  switch (*kind) {
    case LayerKind::Linear:
      spec = content_record(layer, "", "struct variant LayerSpec::Linear with 7 elements",
                            kLinearFields, skip);
      break;
    case LayerKind::SelfAttention:
      spec = content_record(layer, "", "struct variant LayerSpec::SelfAttention with 9 elements",
                            kSelfAttentionFields, skip);
      break;
    case LayerKind::Relu:
      spec = content_record(layer, "", "struct variant LayerSpec::Relu with 2 elements",
                            kActivationFields, skip);
      break;
    case LayerKind::Gelu:
      spec = content_record(layer, "", "struct variant LayerSpec::Gelu with 2 elements",
                            kActivationFields, skip);
      break;
    case LayerKind::Softmax:
      spec = content_record(layer, "", "struct variant LayerSpec::Softmax with 2 elements",
                            kActivationFields, skip);
      break;
  }
  if (spec) spec->kind = *kind;
  return spec;
}

// A layer is read whole before anything in it is checked, so a syntax error anywhere in the
// layer comes first and the tag may stand anywhere among the keys. What is found in the buffered
// layer is positioned at its closing bracket, the last byte read. `scratch` holds one layer at a
// time and keeps its storage from layer to layer.
PlanRead<LayerSpec> read_layer_spec(PlanJsonReader& r, PlanContent& scratch) {
  scratch.clear();
  if (auto read = r.read_record_content("internally tagged enum LayerSpec", scratch); !read) {
    return std::unexpected(std::move(read.error()));
  }
  auto layer = layer_from_content(scratch.root());
  if (!layer) return std::unexpected(r.fix_position(std::move(layer.error())));
  return layer;
}

PlanRead<std::deque<LayerSpec>> read_layers(PlanJsonReader& r) {
  PlanContent scratch;
  return r.read_list<std::deque<LayerSpec>>([&] { return read_layer_spec(r, scratch); });
}

constexpr std::array<Field<ModelSpec>, 6> kModelSpecFields = {{
    {"name", false,
     [](PlanJsonReader& r, ModelSpec& m) { return assign(m.name, read_opt_string(r)); }, nullptr},
    {"description", false,
     [](PlanJsonReader& r, ModelSpec& m) { return assign(m.description, read_opt_string(r)); },
     nullptr},
    {"input", false,
     [](PlanJsonReader& r, ModelSpec& m) {
       return assign(m.input, r.read_option([&] { return read_tensor_spec(r); }));
     },
     nullptr},
    {"input_shape", false,
     [](PlanJsonReader& r, ModelSpec& m) {
       return assign(m.input_shape, r.read_option([&] { return read_u64_list(r); }));
     },
     nullptr},
    {"layers", true,
     [](PlanJsonReader& r, ModelSpec& m) { return assign(m.layers, read_layers(r)); }, nullptr},
    {"labels", false,
     [](PlanJsonReader& r, ModelSpec& m) {
       return assign(m.labels, r.read_option([&] {
         return r.read_seq([&] { return r.read_string("a string"); });
       }));
     },
     nullptr},
}};

}  // namespace

void LayerSpec::set_size(LayerSize field, std::optional<std::uint64_t> value) {
  const auto bit = static_cast<std::uint8_t>(1u << static_cast<unsigned>(field));
  given_sizes_ = static_cast<std::uint8_t>(value ? given_sizes_ | bit : given_sizes_ & ~bit);
  sizes_[static_cast<std::size_t>(field)] = value.value_or(0);
}

const TensorSpec* LayerSpec::tensor(LayerTensor field) const {
  const auto slot = static_cast<std::size_t>(field);
  if (slot >= tensors_.size() || !tensors_[slot]) return nullptr;
  return &*tensors_[slot];
}

TensorSpec* LayerSpec::tensor(LayerTensor field) {
  return const_cast<TensorSpec*>(std::as_const(*this).tensor(field));
}

void LayerSpec::set_tensor(LayerTensor field, std::optional<TensorSpec> value) {
  const auto slot = static_cast<std::size_t>(field);
  if (!value && slot >= tensors_.size()) return;
  if (tensors_.empty()) tensors_.resize(kLayerTensorFields);
  tensors_[slot] = std::move(value);
}

Result<ModelSpec> deserialize_model_spec(std::string_view text) {
  PlanJsonReader reader(text);
  auto spec =
      read_record(reader, "struct ModelSpec", "struct ModelSpec with 6 elements", kModelSpecFields);
  if (!spec) return fail(plan_error_text(spec.error()));
  if (auto end = reader.end(); !end) return fail(plan_error_text(end.error()));
  return std::move(*spec);
}

}  // namespace orvik
