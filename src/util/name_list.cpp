#include "util/name_list.hpp"

#include <cstring>

#include "util/memory.hpp"

namespace orvik {

NameList::Iterator::Iterator(const char* at, const char* end) : end_(end) {
  if (at == end) {
    name_ = std::string_view(end, 0);
    return;
  }
  const auto* newline =
      static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
  name_ = std::string_view(at, static_cast<std::size_t>(newline - at));
}

NameList::Iterator& NameList::Iterator::operator++() {
  *this = Iterator(name_.data() + name_.size() + 1, end_);
  return *this;
}

void NameList::reserve(std::size_t bytes) {
  text_.reserve(bytes);
  prefer_huge_pages(text_.data(), text_.capacity());
}

NameList::NameList(std::initializer_list<std::string_view> names) {
  for (const std::string_view name : names)
    push_back(name);
}

NameList::NameList(const std::vector<std::string>& names) {
  for (const std::string& name : names)
    push_back(name);
}

NameList::Iterator NameList::begin() const {
  return Iterator(text_.data(), text_.data() + text_.size());
}

NameList::Iterator NameList::end() const {
  return Iterator(text_.data() + text_.size(), text_.data() + text_.size());
}

std::vector<std::string> NameList::to_vector() const {
  std::vector<std::string> names;
  names.reserve(count_);
  for (const std::string_view name : *this)
    names.emplace_back(name);
  return names;
}

bool operator==(const NameList& list, const std::vector<std::string>& names) {
  if (list.size() != names.size()) return false;
  auto it = list.begin();
  for (const std::string& name : names) {
    if (*it != name) return false;
    ++it;
  }
  return true;
}

}  // namespace orvik
