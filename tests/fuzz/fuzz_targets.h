// The fuzz targets: one function per reader, each taking one input of any
// bytes. libFuzzer drives them through libfuzzer_main.cpp (one executable per
// target); the corpus replay test runs every committed corpus file through
// them in the ordinary build.
//
// Each target returns 0 for every input. The program's own early ends (a
// TextIoError, InputRejected or a capacity stop) are ordinary outcomes; a
// crash, a sanitizer report, any other exception, or a broken contract that
// the target checks (it then calls std::abort) is a finding.
#ifndef SEGMIX_TESTS_FUZZ_FUZZ_TARGETS_H_
#define SEGMIX_TESTS_FUZZ_FUZZ_TARGETS_H_

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <span>
#include <string_view>

namespace segmix::fuzz {

// The first line is a layout string; it is parsed, and when it parses, the
// rest of the input is read as a file through it (a value of the item's
// type per data item, two passes over the layout), and the values read are
// written back through it to a string console. The rest of the input also
// drives the single-value edits: its first 8 bytes as a double for E, F and
// shortest output, which must read back to the same bits.
int FuzzLayout(const std::uint8_t* data, std::size_t size);

// Byte 0 gives the number of items per statement (mod 17), the next bytes
// their types (integer, 4-byte real, 8-byte real, or text of 1 to 24
// characters); the rest is a file read by free-form statements of those
// items until it fails or 32 statements have run, each written back
// free-form.
int FuzzFreeForm(const std::uint8_t* data, std::size_t size);

// The input is par.inp: ReadControlFile on unit 1 opened on it, then its
// contract (counts and tie indices in range) is checked and the parameter
// gate (CheckParameters, AcceptParameters) runs on the table it read.
int FuzzControlFile(const std::uint8_t* data, std::size_t size);

// The input split at "%%" lines: iway.dat, trait.dat, then up to five
// covariate files. ReadFamilyData loads them (validating the structure);
// when it accepts them, the store's accessors are checked against the arrays,
// the sex codes are validated, the members counted, and the sample
// log-likelihood evaluated in run modes -1 and 2 with a model that has every
// component in (major locus, general transmission, polygenes, sex, the
// covariates).
int FuzzFamilyData(const std::uint8_t* data, std::size_t size);

// The input is a pedigree table for segmix-prep, every column beyond the
// required ones a covariate (at most five): read and checked, and when
// accepted, prepared, written and read back by ReadFamilyData, which must
// give the same store.
int FuzzPedigreeTable(const std::uint8_t* data, std::size_t size);

struct Target {
  std::string_view name;  // also the corpus folder under tests/fuzz/corpus/
  int (*run)(const std::uint8_t* data, std::size_t size);
};

std::span<const Target> Targets();

// Test names and failure messages show the target's name.
inline void PrintTo(const Target& target, std::ostream* os) {
  *os << target.name;
}

}  // namespace segmix::fuzz

#endif  // SEGMIX_TESTS_FUZZ_FUZZ_TARGETS_H_
