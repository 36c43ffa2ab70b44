// Rooting each connected part of a family at its terminal mating and listing
// the matings in post-order. The walk keeps its own stack: a pedigree may be
// many generations deep.
#include "prep/peeling_plan.h"

#include <algorithm>
#include <utility>

namespace segmix::prep {
namespace {

// The matings adjacent to mating m, each with the person they share.
std::vector<std::pair<int, int>> Neighbours(const PedigreeFamily& family,
                                            int m) {
  const Mating& mating = family.matings[m];
  std::vector<int> members{mating.father, mating.mother};
  members.insert(members.end(), mating.children.begin(), mating.children.end());
  std::vector<std::pair<int, int>> neighbours;
  for (const int person : members) {
    const PedigreePerson& p = family.persons[person];
    if (p.child_of >= 0 && p.child_of != m) {
      neighbours.emplace_back(p.child_of, person);
    }
    for (const int other : p.matings) {
      if (other != m) neighbours.emplace_back(other, person);
    }
  }
  return neighbours;
}

NuclearPlan Entries(const PedigreeFamily& family, int m, int connector,
                    const PeelOptions& options) {
  const Mating& mating = family.matings[m];
  NuclearPlan plan;
  plan.connector = connector;
  if (options.mother_first) {
    plan.entries = {mating.mother, mating.father};
  } else {
    plan.entries = {mating.father, mating.mother};
  }
  const bool connecting_child = connector >= 0 && connector != mating.father &&
                                connector != mating.mother;
  if (connecting_child) plan.entries.push_back(connector);
  for (const int child : mating.children) {
    if (!(connecting_child && child == connector)) {
      plan.entries.push_back(child);
    }
  }
  return plan;
}

}  // namespace

FamilyPlan PlanPeeling(const PedigreeFamily& family,
                       const PeelOptions& options) {
  const int matings = static_cast<int>(family.matings.size());
  std::vector<std::vector<std::pair<int, int>>> neighbours(matings);
  for (int m = 0; m < matings; ++m) neighbours[m] = Neighbours(family, m);

  FamilyPlan plan;
  std::vector<bool> in_part(matings, false);
  std::vector<bool> visited(matings, false);
  for (int first = 0; first < matings; ++first) {
    if (in_part[first]) continue;
    // The part's matings in table order (its index order).
    std::vector<int> part{first};
    in_part[first] = true;
    for (std::size_t i = 0; i < part.size(); ++i) {
      for (const auto& [other, via] : neighbours[part[i]]) {
        if (!in_part[other]) {
          in_part[other] = true;
          part.push_back(other);
        }
      }
    }
    std::sort(part.begin(), part.end());
    const int count = static_cast<int>(part.size());
    const int root = part[((options.terminal % count) + count) % count];

    struct Frame {
      int mating;
      int connector;
      std::size_t next = 0;
    };
    std::vector<Frame> stack{{root, -1}};
    visited[root] = true;
    while (!stack.empty()) {
      Frame& top = stack.back();
      if (top.next < neighbours[top.mating].size()) {
        const auto [other, via] = neighbours[top.mating][top.next++];
        if (!visited[other]) {
          visited[other] = true;
          stack.push_back({other, via});
        }
        continue;
      }
      plan.nuclear.push_back(
          Entries(family, top.mating, top.connector, options));
      stack.pop_back();
    }
  }

  const int n = static_cast<int>(family.persons.size());
  std::vector<bool> listed(n, false);
  for (const NuclearPlan& nuclear : plan.nuclear) {
    for (const int person : nuclear.entries) listed[person] = true;
  }
  plan.position_of_person.assign(n, 0);
  for (const bool want_listed : {true, false}) {
    for (int p = 0; p < n; ++p) {
      if (listed[p] != want_listed) continue;
      plan.person_at_position.push_back(p);
      plan.position_of_person[p] =
          static_cast<int>(plan.person_at_position.size());
    }
    if (want_listed)
      plan.listed_count = static_cast<int>(plan.person_at_position.size());
  }
  return plan;
}

}  // namespace segmix::prep
