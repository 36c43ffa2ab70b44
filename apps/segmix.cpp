// segmix: maximum-likelihood complex segregation analysis of a quantitative
// trait in pedigrees ascertained through probands. Works in the current
// directory (par.inp, iway.dat, ...); `segmix --help` says what it reads and
// writes.
#include "run/run_guard.h"

int main(int argc, char** argv) { return segmix::RunCommandLine(argc, argv); }
