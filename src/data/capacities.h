// The family store's capacities and the program's version, fixed when the
// program is built.
//
// N_FAM, N_WAY and N_SIZE bound the listed families, the list offsets and
// member-list length, and the members of the whole store. Their defaults are
// 604, 2000000 and 25000; a build raises them with the CMake options
// SEGMIX_N_FAM, SEGMIX_N_WAY and SEGMIX_N_SIZE, which reach every target as
// compile definitions (so every library of one build agrees on them).
#ifndef SEGMIX_DATA_CAPACITIES_H_
#define SEGMIX_DATA_CAPACITIES_H_

#include <cstdint>
#include <string>
#include <string_view>

#ifndef SEGMIX_N_FAM
#define SEGMIX_N_FAM 604
#endif
#ifndef SEGMIX_N_WAY
#define SEGMIX_N_WAY 2000000
#endif
#ifndef SEGMIX_N_SIZE
#define SEGMIX_N_SIZE 25000
#endif
#ifndef SEGMIX_VERSION
#define SEGMIX_VERSION "unversioned"
#endif

namespace segmix {

inline constexpr std::int32_t N_FAM = SEGMIX_N_FAM;  // listed families
inline constexpr std::int32_t N_WAY =
    SEGMIX_N_WAY;  // list offsets; member-list length
inline constexpr std::int32_t N_SIZE =
    SEGMIX_N_SIZE;  // members in the whole store
static_assert(N_FAM > 0 && N_WAY > 2 && N_SIZE > 0,
              "capacities must be positive");

inline constexpr std::string_view kVersion = SEGMIX_VERSION;

// What `--version` prints for `program`: its name and version on the first
// line, the capacities of this build on the second, each line ended.
std::string VersionText(std::string_view program);

}  // namespace segmix

#endif  // SEGMIX_DATA_CAPACITIES_H_
