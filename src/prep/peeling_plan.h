// The peeling plan of one family: the member positions of its persons and
// its nuclear families in a peeling order, each with the member it is peeled
// onto.
//
// The persons and matings of a loop-free family form a forest (see
// pedigree_structure.cpp). Each connected part with at least one mating is
// rooted at one of its matings, the terminal nuclear family of that part.
// Every other mating is peeled onto the person through which it hangs from
// the root side of the tree, its connector: a parent of that mating, or one
// of its children, who is then listed first among the children. Matings are
// listed in post-order, so every mating comes before the mating that sums its
// connector out, which is the peeling order iway.dat needs.
#ifndef SEGMIX_PREP_PEELING_PLAN_H_
#define SEGMIX_PREP_PEELING_PLAN_H_

#include <vector>

#include "prep/pedigree_structure.h"

namespace segmix::prep {

struct PeelOptions {
  // Which mating of each connected part is terminal: its index among the
  // part's matings in table order, counted from the end when negative (-1 is
  // the last), taken modulo the part's mating count. 0, the part's first
  // mating, usually is its oldest, so the family is peeled upwards.
  int terminal = 0;
  // List the mother as entry 1 and the father as entry 2.
  bool mother_first = false;
};

struct NuclearPlan {
  // Person indices: the two parents, then the children; a connecting child
  // comes first among the children.
  std::vector<int> entries;
  // The person the nuclear family is peeled onto, or -1 for the terminal
  // nuclear family of its part (peeled onto entries[0]).
  int connector = -1;
};

struct FamilyPlan {
  // person_at_position[k - 1] is the person at member position k: first every
  // person listed in a nuclear family, in table order, then the others.
  std::vector<int> person_at_position;
  std::vector<int> position_of_person;  // 1-based
  int listed_count = 0;                 // persons in some nuclear family
  std::vector<NuclearPlan> nuclear;     // in peeling order
};

// Precondition: `family` came from BuildPedigreeFamilies (loop-free).
FamilyPlan PlanPeeling(const PedigreeFamily& family,
                       const PeelOptions& options = {});

}  // namespace segmix::prep

#endif  // SEGMIX_PREP_PEELING_PLAN_H_
