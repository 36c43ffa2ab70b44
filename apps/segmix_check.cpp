// segmix-check: checks the inputs of a segmix run without running it.
#include <iostream>

#include "review/check_inputs.h"

int main(int argc, char** argv) {
  return segmix::RunCheckCommand(argc, argv, std::cout, std::cerr);
}
