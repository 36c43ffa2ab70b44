// The relations between the rows of a pedigree table: families, parents and
// matings (the nuclear families: one father, one mother, their children),
// with the checks that make a table a pedigree this likelihood can peel.
#ifndef SEGMIX_PREP_PEDIGREE_STRUCTURE_H_
#define SEGMIX_PREP_PEDIGREE_STRUCTURE_H_

#include <string>
#include <string_view>
#include <vector>

#include "prep/pedigree_table.h"

namespace segmix::prep {

struct PedigreePerson {
  int row = 0;      // index into PedigreeTable::rows
  int father = -1;  // person index within the family; -1: a founder
  int mother = -1;
  int child_of = -1;         // the mating this person is a child of, or -1
  std::vector<int> matings;  // the matings this person is a parent in
};

struct Mating {
  int father = 0;  // person indices within the family
  int mother = 0;
  std::vector<int> children;  // in table order
};

struct PedigreeFamily {
  std::string id;
  std::vector<PedigreePerson> persons;  // in table order
  // Every distinct father-mother pair, in the table order of its first child.
  std::vector<Mating> matings;
};

// Groups the rows into families (in the order each family first appears;
// its rows need not be adjacent) and links parents and children. Throws
// InputRejected listing every problem, each naming the table, line, family
// and person: an id used twice in a family; a father or mother who is not a
// person of the family; one parent given without the other; the same person
// as father and mother; a father whose sex is not 1 or a mother whose sex is
// not 2 (named once per parent); a person who is their own ancestor; a loop
// (a marriage or inbreeding loop: two relatives who have a child, or any
// other cycle of matings), which peeling by nuclear families cannot handle;
// more families than N_FAM or more persons than N_SIZE, naming the limit.
std::vector<PedigreeFamily> BuildPedigreeFamilies(const PedigreeTable& table);

// The same, adding the problems to `problems` instead of throwing; the
// families are then incomplete wherever a problem was found.
std::vector<PedigreeFamily> BuildPedigreeFamilies(const PedigreeTable& table,
                                                  ProblemList& problems);

// What to do when a sample exceeds a capacity: how to rebuild with the CMake
// option `option` ("SEGMIX_N_FAM", "SEGMIX_N_WAY" or "SEGMIX_N_SIZE") raised.
std::string CapacityAdvice(std::string_view option);

}  // namespace segmix::prep

#endif  // SEGMIX_PREP_PEDIGREE_STRUCTURE_H_
