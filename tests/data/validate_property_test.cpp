// ValidateFamilyStructure against a brute-force restatement of its contract
// on many random small stores: the two must agree on accept or reject, an
// accepted store must keep every read of the likelihood inside the loaded
// arrays, and a rejection must be an InputRejected naming iway.dat.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "data/family_store.h"
#include "data/validate_family_structure.h"
#include "textio/termination.h"

namespace segmix {
namespace {

using Ints = std::vector<std::int32_t>;

// The contract of ValidateFamilyStructure, written as plainly as possible:
// quadratic loops, .at() everywhere, nothing shared with the implementation.
bool ContractHolds(const FamilyStore& s) {
  const std::int32_t n = s.listed_family_count;
  const std::int32_t m = s.list_offset_count;
  const std::int32_t l = s.member_list_length;
  const std::int32_t size_s = s.member_count;
  if (n < 0 || m < 2 || l < 0 || size_s < 0) return false;
  const std::int32_t stored = s.member_offset.at(0);
  if (stored < 0 || stored > n) return false;
  auto monotone = [](const Ints& v, std::int32_t last, std::int32_t limit) {
    for (std::int32_t i = 1; i <= last; ++i) {
      if (v.at(i) < 0 || v.at(i) > limit) return false;
      if (i > 1 && v.at(i) < v.at(i - 1)) return false;
    }
    return true;
  };
  if (!monotone(s.member_offset, n + 1, size_s)) return false;
  if (!monotone(s.nuclear_offset, n + 1, m - 2)) return false;
  if (!monotone(s.list_offset, m - 1, l)) return false;
  // Closing offsets equal their counts.
  if (s.nuclear_offset.at(n + 1) != m - 2) return false;
  if (m - 1 >= 1 && s.list_offset.at(m - 1) != l) return false;
  for (std::int32_t g = 1; g <= n; ++g) {
    const std::int32_t size = s.member_offset.at(g + 1) - s.member_offset.at(g);
    std::vector<Ints> lists;
    Ints onto;
    for (std::int32_t w = s.nuclear_offset.at(g) + 1;
         w <= s.nuclear_offset.at(g + 1); ++w) {
      Ints e;
      for (std::int32_t p = s.list_offset.at(w) + 1;
           p <= s.list_offset.at(w + 1); ++p) {
        e.push_back(s.member_list.at(p));
      }
      if (e.size() < 2) return false;
      for (std::size_t i = 0; i < e.size(); ++i) {
        if (e[i] < 1 || e[i] > size) return false;
        for (std::size_t j = 0; j < i; ++j) {
          if (e[j] == e[i]) return false;
        }
      }
      const std::int32_t c = s.connector.at(w);
      if (c != 0 && c != e[0] && c != e[1] && !(e.size() >= 3 && c == e[2])) {
        return false;
      }
      onto.push_back(c == 0 ? e[0] : c);
      lists.push_back(e);
    }
    // One pair of parents per member.
    for (std::int32_t x = 1; x <= size; ++x) {
      int child_of = 0;
      for (const Ints& e : lists) {
        child_of += static_cast<int>(std::count(e.begin() + 2, e.end(), x));
      }
      if (child_of > 1) return false;
    }
    // Once summed out (listed, not peeled onto), never listed again.
    for (std::size_t u = 0; u < lists.size(); ++u) {
      for (const std::int32_t x : lists[u]) {
        if (x == onto[u]) continue;
        for (std::size_t v = u + 1; v < lists.size(); ++v) {
          if (std::count(lists[v].begin(), lists[v].end(), x) > 0) return false;
        }
      }
    }
  }
  return true;
}

// A random store near a valid one: families of 0..7 members with 0..3
// nuclear families of 0..5 entries, mostly distinct members of the family,
// connectors mostly a parent, the first child or 0; then, sometimes, one
// count or offset nudged.
class RandomStores {
 public:
  explicit RandomStores(std::uint32_t seed) : rng_(seed) {}

  FamilyStore Next() {
    FamilyStore s;
    const std::int32_t n = Pick(0, 3);
    Ints sizes;
    std::int32_t total = 0;
    for (std::int32_t g = 0; g < n; ++g) {
      sizes.push_back(Pick(0, 7));
      total += sizes.back();
    }
    s.listed_family_count = n;
    s.member_offset = {Pick(0, n)};
    s.nuclear_offset = {0};
    s.list_offset = {0};
    s.member_list = {0};
    s.connector = {0};
    std::int32_t base = 0, nuclear = 0;
    for (std::int32_t g = 0; g < n; ++g) {
      s.member_offset.push_back(base);
      s.nuclear_offset.push_back(nuclear);
      const std::int32_t size = sizes[g];
      const std::int32_t count = size >= 2 ? Pick(0, 3) : Pick(0, 1);
      for (std::int32_t w = 0; w < count; ++w, ++nuclear) {
        s.list_offset.push_back(
            static_cast<std::int32_t>(s.member_list.size()) - 1);
        const std::int32_t entries = Pick(0, 9) == 0 ? Pick(0, 1) : Pick(2, 5);
        Ints e;
        if (Pick(0, 4) != 0 && entries <= size) {
          // Distinct members of the family, as a real nuclear family has.
          Ints positions(static_cast<std::size_t>(size));
          for (std::int32_t x = 1; x <= size; ++x) positions[x - 1] = x;
          std::shuffle(positions.begin(), positions.end(), rng_);
          e.assign(positions.begin(), positions.begin() + entries);
        } else {
          for (std::int32_t i = 0; i < entries; ++i) {
            e.push_back(Pick(0, 19) == 0 ? Pick(-1, size + 1)
                                         : Pick(1, std::max(size, 1)));
          }
        }
        s.member_list.insert(s.member_list.end(), e.begin(), e.end());
        std::int32_t c = 0;
        switch (Pick(0, 5)) {
          case 0:
            c = 0;
            break;
          case 1:
            c = e.size() > 0 ? e[0] : 1;
            break;
          case 2:
            c = e.size() > 1 ? e[1] : 2;
            break;
          case 3:
            c = e.size() > 2 ? e[2] : 3;
            break;
          case 4:
            c = e.size() > 3 ? e[3] : 4;
            break;
          default:
            c = Pick(-1, size + 1);
            break;
        }
        s.connector.push_back(c);
      }
      base += size;
    }
    s.member_offset.push_back(base);
    s.nuclear_offset.push_back(nuclear);
    s.list_offset.push_back(static_cast<std::int32_t>(s.member_list.size()) -
                            1);
    s.list_offset_count = nuclear + 2;
    s.member_list_length = static_cast<std::int32_t>(s.member_list.size()) - 1;
    s.member_count = total;
    if (Pick(0, 3) == 0) Nudge(s);
    s.sex.assign(static_cast<std::size_t>(std::max(0, s.member_count)) + 1, 1);
    s.status.assign(s.sex.size(), 2);
    s.trait.assign(s.sex.size(), 1.0f);
    return s;
  }

 private:
  std::int32_t Pick(std::int32_t lo, std::int32_t hi) {
    return std::uniform_int_distribution<std::int32_t>(lo, hi)(rng_);
  }

  // Changes one count or offset by one in either direction, keeping every
  // array as long as the reader would have made it for the counts.
  void Nudge(FamilyStore& s) {
    const std::int32_t d = Pick(0, 1) == 0 ? -1 : 1;
    switch (Pick(0, 5)) {
      case 0:
        s.member_offset[Pick(0, s.listed_family_count + 1)] += d;
        break;
      case 1:
        s.nuclear_offset[Pick(1, s.listed_family_count + 1)] += d;
        break;
      case 2:
        s.list_offset[Pick(1, s.list_offset_count - 1)] += d;
        break;
      case 3:
        s.member_count += d;  // the per-member arrays follow it
        break;
      case 4:
        if (d < 0 && s.member_list_length > 0) {
          --s.member_list_length;
          s.member_list.pop_back();
        }
        break;
      default:
        if (d < 0 && s.list_offset_count > 1) {
          --s.list_offset_count;
          s.list_offset.pop_back();
          if (s.connector.size() > 1) s.connector.pop_back();
        }
        break;
    }
  }

  std::mt19937 rng_;
};

TEST(ValidateFamilyStructureProperty, AgreesWithTheContractOnRandomStores) {
  RandomStores stores(20261207);
  int accepted = 0, rejected = 0;
  for (int trial = 0; trial < 20000; ++trial) {
    const FamilyStore s = stores.Next();
    const bool expected = ContractHolds(s);
    bool valid = true;
    try {
      ValidateFamilyStructure(s);
    } catch (const InputRejected& e) {
      valid = false;
      ASSERT_EQ(e.StderrText().rfind("iway.dat", 0), 0u) << e.StderrText();
      ASSERT_EQ(e.ExitStatus(), kExitRejected);
    }
    ASSERT_EQ(valid, expected) << "trial " << trial;
    if (!valid) {
      ++rejected;
      continue;
    }
    ++accepted;
    // Every read the likelihood makes through the accessors stays inside.
    for (std::int32_t g = 1; g <= s.listed_family_count + 2; ++g) {
      const std::int32_t size = s.FamilySize(g);
      ASSERT_LE(s.MemberOffset(g) + size, s.member_count);
      ASSERT_GE(s.MemberOffset(g), 0);
      for (std::int32_t w = s.FirstNuclear(g); w <= s.LastNuclear(g); ++w) {
        ASSERT_GE(w, 1);
        ASSERT_LT(static_cast<std::size_t>(w), s.connector.size());
        for (const std::int32_t x : s.NuclearMembers(w)) {
          ASSERT_GE(x, 1);
          ASSERT_LE(x, size);
        }
      }
    }
    ASSERT_LE(s.LargestFamilySize(), s.member_count);
  }
  // Both outcomes are well represented.
  EXPECT_GT(accepted, 2000);
  EXPECT_GT(rejected, 2000);
}

}  // namespace
}  // namespace segmix
