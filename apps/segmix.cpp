// segmix: maximum-likelihood complex segregation analysis of a quantitative
// trait in pedigrees ascertained through probands. No arguments; works in the
// current directory (par.inp, iway.dat, ...).
#include <iostream>

#include "run/run_sequence.h"

int main() { return segmix::RunProgram(std::cout, std::cerr); }
