// Time of one SampleLogLikelihood evaluation on samples drawn by
// segmix-simulate and prepared by segmix-prep (tools/bench.sh draws them with
// fixed seeds), read from the directory named by SEGMIX_BENCH_SAMPLES:
//   capacity/  604 multi-generation families near 25,000 members
//   families300/  300 multi-generation families
//   mid300/  300 three-generation families of 4 to 39 members (about 13,
//     most of 4 to 15)
// Each is evaluated at the starting values of its par.inp with the
// polygenic and sex components in the model; "capacity_general" adds the
// general transmission table (Tr1..Tr3 in the model). Every family is
// corrected for ascertainment (the proband switch of segmix-prep's par.inp).
// One thread and the machine's threads, wall-clock time.
//
//   SEGMIX_BENCH_SAMPLES=DIR segmix_sample_bench
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <ostream>
#include <span>
#include <streambuf>
#include <string>
#include <vector>

#include "data/family_store.h"
#include "data/read_family_data.h"
#include "model/parameter_table.h"
#include "model/polygenic.h"
#include "model/sample_likelihood.h"
#include "run/control_file.h"
#include "textio/text_units.h"

namespace segmix {
namespace {

// Swallows the readers' console lines.
class NullBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// One prepared sample and the model evaluated on it.
struct Sample {
  ControlSettings settings;
  ParameterTable parameters;
  PolygenicTables polygenic;
  FamilyStore store;
};

// Reads par.inp and the data files of `directory` as the program does (its
// files are named relative to the working directory, which is restored).
std::unique_ptr<Sample> LoadSample(const std::filesystem::path& directory,
                                   bool general_transmission) {
  auto sample = std::make_unique<Sample>();
  NullBuffer sink;
  std::ostream console(&sink);
  TextUnits units(console);
  const std::filesystem::path home = std::filesystem::current_path();
  std::filesystem::current_path(directory);
  units.Open(1, "par.inp", OpenStatus::kOld);
  ReadControlFile(units, sample->settings, sample->parameters);
  units.Close(1);
  ReadFamilyData(
      units, 2, sample->settings.data_file_name,
      std::span<const std::string>(sample->settings.covariate_file_names)
          .subspan(1, sample->settings.covariate_count),
      sample->store);
  units.CloseAll();
  std::filesystem::current_path(home);

  ParameterTable& p = sample->parameters;
  p.in_model[kPga] = 1;
  p.value[kPga] = 0.3;
  p.in_model[kSex] = 1;
  p.value[kSex] = 0.4;
  if (general_transmission) {
    const double tr[] = {0.9, 0.45, 0.1};
    for (int k = 0; k < 3; ++k) {
      p.in_model[kTr1 + k] = 1;
      p.value[kTr1 + k] = tr[k];
    }
  }
  sample->polygenic.PolygenicLocusCount = 3;
  sample->polygenic.PolygenicGenotypeCount = 7;
  BuildPolygenicTransmission(sample->polygenic);
  FillPolygenicFrequency(sample->polygenic);
  return sample;
}

void BM_Sample(benchmark::State& state, const std::string& name, bool general) {
  const char* root = std::getenv("SEGMIX_BENCH_SAMPLES");
  const std::unique_ptr<Sample> sample =
      LoadSample(std::filesystem::path(root) / name, general);
  SampleLikelihood likelihood(
      sample->parameters, sample->store, sample->polygenic,
      SampleSettings{
          .covariate_count = sample->settings.covariate_count,
          .proband_switch = sample->settings.proband_switch,
          .selection_flags = sample->settings.selection_flags,
          .worker_count = static_cast<std::int32_t>(state.range(0))});
  // The whole outcome is kept: DoNotOptimize on the double alone (a register
  // operand) came back as garbage with this compiler.
  EvaluationOutcome outcome;
  for (auto _ : state) {
    outcome = likelihood.Evaluate(Gate::kAccepted);
    benchmark::DoNotOptimize(outcome);
  }
  state.counters["families"] = sample->store.StoredFamilyCount();
  state.counters["members"] = sample->store.member_count;
  state.counters["workers"] = static_cast<double>(state.range(0));
  state.counters["lnL"] = outcome.ln_lh;
}

// Registered only when the samples are there, so the executable runs (and
// says so) without them.
bool RegisterSamples() {
  const char* root = std::getenv("SEGMIX_BENCH_SAMPLES");
  if (root == nullptr || !std::filesystem::exists(root)) return false;
  struct Case {
    const char* label;
    const char* directory;
    bool general;
  };
  for (const Case& c : {Case{"capacity", "capacity", false},
                        Case{"capacity_general", "capacity", true},
                        Case{"families300", "families300", false},
                        Case{"mid300", "mid300", false}}) {
    // Worker threads: 1, then 0 (the machine's).
    benchmark::RegisterBenchmark((std::string("BM_Sample/") + c.label).c_str(),
                                 [c](benchmark::State& state) {
                                   BM_Sample(state, c.directory, c.general);
                                 })
        ->Arg(1)
        ->Arg(0)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}

}  // namespace
}  // namespace segmix

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!segmix::RegisterSamples()) {
    std::cerr << "segmix_sample_bench: set SEGMIX_BENCH_SAMPLES to the "
                 "directory tools/bench.sh draws the samples into\n";
    return 2;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
