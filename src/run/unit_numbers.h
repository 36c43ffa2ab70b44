// The text units of a run: the one place that numbers them. The layers below
// run/ are handed the unit they read or write.
#ifndef SEGMIX_RUN_UNIT_NUMBERS_H_
#define SEGMIX_RUN_UNIT_NUMBERS_H_

namespace segmix {

inline constexpr int kControlUnit = 1;  // par.inp
// The family data files while they are loaded; later max.dat, then sigma.dat.
inline constexpr int kDataUnit = 2;
inline constexpr int kResultUnit = 2;
inline constexpr int kFamilyUnit = 3;  // LH_fam.dat
inline constexpr int kErrorUnit = 25;  // par.err

}  // namespace segmix

#endif  // SEGMIX_RUN_UNIT_NUMBERS_H_
