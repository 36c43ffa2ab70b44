// Families, parents and matings from the rows of a pedigree table, and the
// checks that the result is a pedigree without loops.
//
// Loops. Put the persons and the matings of a family into one graph, each
// mating joined to its father, its mother and each of its children. Peeling
// by nuclear families sums each mating out onto one member and needs that
// graph to be a forest: a cycle (two relatives with a child together, two
// brothers married to two sisters, ...) would make some member's weights
// depend on themselves. So the edges are added one by one to a union-find
// structure; an edge whose two ends are already connected closes a loop.
#include "prep/pedigree_structure.h"

#include <cstdint>
#include <map>
#include <numeric>
#include <set>
#include <unordered_map>

#include "data/family_store.h"

namespace segmix::prep {
namespace {

// A person's position among the table's rows, for messages.
struct Named {
  const PedigreeTable& table;
  std::string Place(int row) const {
    const PersonRow& r = table.rows[row];
    return RowPlace(table.source, r.line, r.family, r.id);
  }
  std::string Id(int row) const { return ShownId(table.rows[row].id); }
  int Line(int row) const { return table.rows[row].line; }
};

class UnionFind {
 public:
  explicit UnionFind(std::size_t n) : parent_(n) {
    std::iota(parent_.begin(), parent_.end(), 0);
  }
  std::size_t Find(std::size_t x) {
    while (parent_[x] != x) {
      parent_[x] = parent_[parent_[x]];
      x = parent_[x];
    }
    return x;
  }
  // False when a and b were already connected.
  bool Join(std::size_t a, std::size_t b) {
    a = Find(a);
    b = Find(b);
    if (a == b) return false;
    parent_[b] = a;
    return true;
  }

 private:
  std::vector<std::size_t> parent_;
};

// Links the parents of every person whose parent ids are known members of
// the family; reports unknown ids, one parent without the other and a person
// given as both parents.
void LinkParents(const Named& named, PedigreeFamily& family,
                 ProblemList& problems) {
  std::unordered_map<std::string, int> index_of;
  for (int p = 0; p < static_cast<int>(family.persons.size()); ++p) {
    const int row = family.persons[p].row;
    const std::string& id = named.table.rows[row].id;
    if (id.empty() || id == "0") continue;  // reported with the row's values
    const auto [at, inserted] = index_of.emplace(id, p);
    if (!inserted) {
      problems.Add(named.Place(row) + "the id " + named.Id(row) +
                   " is used again in this family (first on line " +
                   std::to_string(named.Line(family.persons[at->second].row)) +
                   "); ids must be unique within a family. Give this person"
                   " an id of their own.");
    }
  }
  for (PedigreePerson& person : family.persons) {
    const PersonRow& row = named.table.rows[person.row];
    const std::string place = named.Place(person.row);
    if (row.father.empty() != row.mother.empty()) {
      const bool father_given = !row.father.empty();
      problems.Add(place + "only the " +
                   (father_given ? "father (" + ShownId(row.father) + ")"
                                 : "mother (" + ShownId(row.mother) + ")") +
                   " is given; give both parents or neither (0). For a parent"
                   " who is not in the table, add a row for them with trait"
                   " NA and name it as the " +
                   (father_given ? "mother" : "father") +
                   " of every child who shares that parent.");
      continue;
    }
    if (row.father.empty()) continue;
    bool known = true;
    auto look_up = [&](const std::string& id, const char* role) {
      const auto found = index_of.find(id);
      if (found == index_of.end()) {
        problems.Add(place + role + " " + ShownId(id) +
                     " is not a person of this family; add a row for " +
                     ShownId(id) + " in family " + ShownId(row.family) +
                     " (with trait NA if unmeasured), or write 0 for both"
                     " parents if they are unknown.");
        known = false;
        return -1;
      }
      return found->second;
    };
    const int father = look_up(row.father, "father");
    const int mother = look_up(row.mother, "mother");
    if (!known) continue;
    if (father == mother) {
      problems.Add(place + "father and mother are the same person, " +
                   ShownId(row.father) + "; give two different parents.");
      continue;
    }
    person.father = father;
    person.mother = mother;
  }
}

// A father must have sex 1 and a mother sex 2 (unknown sex, 0, is for
// persons who are not parents); each wrong parent is named
// once, on their own line, with the first child that makes them a parent.
void CheckParentSex(const Named& named, const PedigreeFamily& family,
                    ProblemList& problems) {
  std::set<int> reported;
  for (const PedigreePerson& child : family.persons) {
    for (const auto& [parent, sex, role] :
         {std::tuple{child.father, 1, "father"},
          std::tuple{child.mother, 2, "mother"}}) {
      if (parent < 0) continue;
      const int row = family.persons[parent].row;
      const std::int32_t actual = named.table.rows[row].sex;
      // -1: the sex could not be read, which is reported already.
      if (actual == sex || actual == -1 || reported.contains(parent)) continue;
      reported.insert(parent);
      problems.Add(named.Place(row) + "sex is " + std::to_string(actual) +
                   (actual == 0 ? " (unknown)" : "") +
                   ", but this person is the " + role + " of " +
                   named.Id(child.row) + " (line " +
                   std::to_string(named.Line(child.row)) +
                   "); a father has sex 1 and a mother sex 2. Correct the"
                   " sex, or the father and mother fields of the children.");
    }
  }
}

// Depth-first search along child -> parent links; a link back to a person
// on the current path is a cycle of ancestry. Returns false if any.
bool CheckAncestry(const Named& named, const PedigreeFamily& family,
                   ProblemList& problems) {
  const int n = static_cast<int>(family.persons.size());
  enum Colour : unsigned char { kWhite, kGrey, kBlack };
  std::vector<Colour> colour(n, kWhite);
  bool acyclic = true;
  struct Frame {
    int person;
    int next;  // 0: father next, 1: mother next, 2: done
  };
  for (int start = 0; start < n; ++start) {
    if (colour[start] != kWhite) continue;
    std::vector<Frame> path{{start, 0}};
    colour[start] = kGrey;
    while (!path.empty()) {
      Frame& top = path.back();
      if (top.next == 2) {
        colour[top.person] = kBlack;
        path.pop_back();
        continue;
      }
      const PedigreePerson& person = family.persons[top.person];
      const int parent = top.next == 0 ? person.father : person.mother;
      ++top.next;
      if (parent < 0 || colour[parent] == kBlack) continue;
      if (colour[parent] == kWhite) {
        colour[parent] = kGrey;
        path.push_back({parent, 0});
        continue;
      }
      // `parent` is on the path: the chain from it down the path to the top
      // and back to it is the cycle.
      acyclic = false;
      std::size_t k = 0;
      while (path[k].person != parent) ++k;
      std::string chain = named.Id(family.persons[parent].row);
      for (std::size_t i = k; i < path.size(); ++i) {
        const int from = path[i].person;
        const int to = i + 1 < path.size() ? path[i + 1].person : parent;
        const bool is_father = family.persons[from].father == to;
        chain += std::string(" -> ") + (is_father ? "father " : "mother ") +
                 named.Id(family.persons[to].row);
      }
      problems.Add(named.Place(family.persons[parent].row) +
                   "this person is their own ancestor (" + chain +
                   "). Correct the father and mother fields on this path.");
    }
  }
  return acyclic;
}

// Matings in the table order of their first child.
void BuildMatings(PedigreeFamily& family) {
  std::map<std::pair<int, int>, int> mating_of;
  for (int p = 0; p < static_cast<int>(family.persons.size()); ++p) {
    PedigreePerson& child = family.persons[p];
    if (child.father < 0) continue;
    const auto [at, inserted] =
        mating_of.emplace(std::pair{child.father, child.mother},
                          static_cast<int>(family.matings.size()));
    if (inserted) {
      family.matings.push_back(Mating{child.father, child.mother, {}});
      family.persons[child.father].matings.push_back(at->second);
      family.persons[child.mother].matings.push_back(at->second);
    }
    family.matings[at->second].children.push_back(p);
    child.child_of = at->second;
  }
}

void CheckLoops(const Named& named, const PedigreeFamily& family,
                ProblemList& problems) {
  const std::size_t n = family.persons.size();
  UnionFind parts(n + family.matings.size());
  for (std::size_t m = 0; m < family.matings.size(); ++m) {
    const Mating& mating = family.matings[m];
    const int first_child = mating.children.front();
    const std::string father = named.Id(family.persons[mating.father].row);
    const std::string mother = named.Id(family.persons[mating.mother].row);
    const std::string advice =
        " Peeling by nuclear families cannot handle a loop (a marriage or"
        " inbreeding loop). Break it by entering one member of the loop"
        " twice: keep the person with their parents, and add a copy with a"
        " new id, no parents and trait NA in their place as a parent.";
    if (!parts.Join(mating.father, n + m) ||
        !parts.Join(mating.mother, n + m)) {
      problems.Add(named.Place(family.persons[first_child].row) +
                   "the pedigree has a loop: the parents of " +
                   named.Id(family.persons[first_child].row) + ", father " +
                   father + " and mother " + mother +
                   ", are already related through other members of the"
                   " family." +
                   advice);
      return;
    }
    for (const int child : mating.children) {
      if (!parts.Join(child, n + m)) {
        problems.Add(named.Place(family.persons[child].row) +
                     "the pedigree has a loop: this person is already"
                     " related to their parents, father " +
                     father + " and mother " + mother +
                     ", through other members of the family." + advice);
        return;
      }
    }
  }
}

}  // namespace

std::vector<PedigreeFamily> BuildPedigreeFamilies(const PedigreeTable& table) {
  ProblemList problems;
  std::vector<PedigreeFamily> families = BuildPedigreeFamilies(table, problems);
  problems.ThrowIfAny();
  return families;
}

std::string CapacityAdvice(std::string_view option) {
  return "The capacities are fixed when the programs are built, and splitting"
         " the sample would change the joint estimates: build segmix and"
         " segmix-prep again with a larger one, for example cmake -S . -B"
         " build/large -D" +
         std::string(option) +
         "=<larger> && cmake --build build/large, and run both from"
         " build/large (the README, \"Larger samples\").";
}

std::vector<PedigreeFamily> BuildPedigreeFamilies(const PedigreeTable& table,
                                                  ProblemList& problems) {
  const Named named{table};
  std::vector<PedigreeFamily> families;
  std::unordered_map<std::string, int> family_of;
  for (int r = 0; r < static_cast<int>(table.rows.size()); ++r) {
    const PersonRow& row = table.rows[r];
    const auto [at, inserted] =
        family_of.emplace(row.family, static_cast<int>(families.size()));
    if (inserted) {
      families.push_back(PedigreeFamily{row.family, {}, {}});
      if (families.size() == static_cast<std::size_t>(N_FAM) + 1) {
        problems.Add(
            named.Place(r) + "this row opens family number " +
            std::to_string(N_FAM + 1) +
            "; the program holds at most N_FAM = " + std::to_string(N_FAM) +
            " families. " + CapacityAdvice("SEGMIX_N_FAM"));
      }
    }
    PedigreePerson person;
    person.row = r;
    families[at->second].persons.push_back(person);
    if (r + 1 == N_SIZE + 1) {
      problems.Add(
          named.Place(r) + "this row is person number " +
          std::to_string(N_SIZE + 1) + "; the program holds at most N_SIZE = " +
          std::to_string(N_SIZE) + " persons in all families together. " +
          CapacityAdvice("SEGMIX_N_SIZE"));
    }
  }
  for (PedigreeFamily& family : families) {
    const std::size_t before = problems.Size();
    LinkParents(named, family, problems);
    CheckParentSex(named, family, problems);
    const bool acyclic = CheckAncestry(named, family, problems);
    // Matings and loops only mean something once every parent link holds.
    if (problems.Size() != before || !acyclic) continue;
    BuildMatings(family);
    CheckLoops(named, family, problems);
  }
  return families;
}

}  // namespace segmix::prep
