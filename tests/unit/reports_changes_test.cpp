#include "reports/changes.hpp"

#include <algorithm>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace orvik {
namespace {

using Names = std::vector<std::string>;

// The set difference taken the plain way: ordered sets of owned strings.
Names plain_difference(const Names& from, const Names& other) {
  const std::set<std::string> from_set(from.begin(), from.end());
  const std::set<std::string> other_set(other.begin(), other.end());
  Names out;
  std::set_difference(from_set.begin(), from_set.end(), other_set.begin(), other_set.end(),
                      std::back_inserter(out));
  return out;
}

void expect_plain_change(const Names& old_names, const Names& new_names, const std::string& what) {
  const NameList old_list(old_names);
  const NameList new_list(new_names);
  const NameSetChange change = name_set_change(old_list, new_list);
  EXPECT_EQ(Names(change.added.begin(), change.added.end()), plain_difference(new_names, old_names))
      << what;
  EXPECT_EQ(Names(change.removed.begin(), change.removed.end()),
            plain_difference(old_names, new_names))
      << what;
}

// Names that share prefixes, repeat, are empty, hold 0 bytes and bytes from 0x80 up, and some of
// them run past the lengths a sort key or a length byte holds.
class NamePool {
 public:
  NamePool(std::mt19937_64& rng, std::size_t most) : rng_(rng) {
    static constexpr char kBytes[] = {'\0', '\x01', 'a', 'b', 'z', '\x7f', '\x80', '\xc3', '\xff'};
    const std::size_t alphabet = 2 + rng_() % (sizeof kBytes - 1);
    const std::size_t count = 1 + rng_() % most;
    for (std::size_t i = 0; i < count; ++i) {
      std::string name;
      const int shape = static_cast<int>(rng_() % 8);
      if (shape == 0 && !names_.empty()) name = pick();      // a prefix of the next one
      if (shape == 1) name.assign(100 + rng_() % 200, 'p');  // long, shared by many
      const std::size_t extra = shape == 2 ? 0 : rng_() % (shape == 3 ? 30 : 5);
      for (std::size_t k = 0; k < extra; ++k)
        name.push_back(kBytes[rng_() % alphabet]);
      names_.push_back(name);
    }
  }

  std::string pick() { return names_[rng_() % names_.size()]; }

  Names list(std::size_t size) {
    Names out;
    for (std::size_t i = 0; i < size; ++i)
      out.push_back(pick());
    return out;
  }

 private:
  std::mt19937_64& rng_;
  Names names_;
};

TEST(NameSetChange, MatchesThePlainSetDifference) {
  std::mt19937_64 rng(17);
  for (int round = 0; round < 4000; ++round) {
    // Mostly short lists; some long, of many names or of a few repeated.
    const std::size_t size = round % 40 == 0 ? 2000 + rng() % 3000 : rng() % 60;
    NamePool pool(rng, size > 1000 && round % 80 == 0 ? 2 * size : 40);
    Names old_names = pool.list(size);
    Names new_names;
    switch (rng() % 5) {
      case 0:  // unrelated lists
        new_names = pool.list(rng() % 60);
        break;
      case 1:  // names replaced in place (few in a long list), some appended or dropped at the end
        new_names = old_names;
        for (std::size_t i = 0; i < new_names.size(); i += 1 + rng() % (size > 1000 ? size : 8))
          new_names[i] = pool.pick();
        new_names.resize(new_names.size() + rng() % 5 - std::min<std::size_t>(new_names.size(), 2),
                         pool.pick());
        break;
      case 2:  // the same names in another order, one more at the front
        new_names = old_names;
        std::shuffle(new_names.begin(), new_names.end(), rng);
        new_names.insert(new_names.begin(), pool.pick());
        break;
      case 3:  // both in ascending order
        new_names = pool.list(rng() % 60);
        std::sort(old_names.begin(), old_names.end());
        std::sort(new_names.begin(), new_names.end());
        break;
      default:  // one list empty
        if (rng() % 2 == 0) std::swap(old_names, new_names);
        break;
    }
    expect_plain_change(old_names, new_names, "round " + std::to_string(round));
  }
}

TEST(NameSetChange, ComparesLongListsWhateverTheirOrder) {
  // Decimal names as a huge LightGBM header holds them, names sharing up to 12 bytes: a few renamed
  // in place (one to a name found elsewhere) and two appended; then every name moved one place on;
  // then all in reverse order.
  Names old_names;
  for (int i = 0; i < 300000; ++i)
    old_names.push_back("feature_" + std::to_string(i));
  Names new_names = old_names;
  new_names[7] += "_renamed";
  new_names[100] = old_names[299999];
  new_names[200000] = "feature_";
  new_names.insert(new_names.end(), {"feature_07", "feature_1"});
  expect_plain_change(old_names, new_names, "in place");
  new_names.insert(new_names.begin(), "feature_3000000");
  expect_plain_change(old_names, new_names, "shifted");
  std::reverse(new_names.begin(), new_names.end());
  expect_plain_change(old_names, new_names, "reversed");
}

}  // namespace
}  // namespace orvik
