// segmix-prep: turns a pedigree table into segmix's input files. See --help.
#include <iostream>
#include <string>
#include <vector>

#include "prep/prep_command.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return segmix::prep::RunPrepCommand(args, std::cin, std::cout, std::cerr);
}
