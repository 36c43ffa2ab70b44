// The libFuzzer entry point of one target, chosen at build time by
// SEGMIX_FUZZ_ENTRY (for example segmix::fuzz::FuzzLayout).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  return SEGMIX_FUZZ_ENTRY(data, size);
}
