// segmix-simulate: draws a pedigree table from segmix's model. See --help.
#include <iostream>
#include <string>
#include <vector>

#include "simulate/simulate_command.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return segmix::simulate::RunSimulateCommand(args, std::cout, std::cerr);
}
