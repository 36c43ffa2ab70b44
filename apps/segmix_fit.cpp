// segmix-fit: the whole segregation analysis of a segmix data set in one
// command (see src/fit/fit_command.h).
#include <unistd.h>

#include <iostream>

#include "fit/fit_command.h"

int main(int argc, char** argv) {
  return segmix::fit::RunFitCommand(argc, argv, std::cout, std::cerr,
                                    isatty(STDERR_FILENO) != 0);
}
