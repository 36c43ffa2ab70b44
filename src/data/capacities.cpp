// The version text every program prints for --version.
#include "data/capacities.h"

namespace segmix {

std::string VersionText(std::string_view program) {
  std::string text(program);
  text += ' ';
  text += kVersion;
  text += "\ncapacities: N_FAM=" + std::to_string(N_FAM) +
          " N_WAY=" + std::to_string(N_WAY) +
          " N_SIZE=" + std::to_string(N_SIZE) + "\n";
  return text;
}

}  // namespace segmix
