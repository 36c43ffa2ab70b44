// Fuzz target: the family data reader and its validators, then everything
// that reads the store they accept (member counts, family weights, one
// evaluation of the sample log-likelihood in each of two models).
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "data/family_store.h"
#include "data/read_family_data.h"
#include "data/validate_family_structure.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_targets.h"
#include "model/model_quantities.h"
#include "model/parameter_table.h"
#include "model/polygenic.h"
#include "model/sample_likelihood.h"
#include "run/control_file.h"
#include "run/evaluation_records.h"
#include "run/member_counts.h"
#include "textio/termination.h"
#include "textio/text_units.h"

namespace segmix::fuzz {
namespace {

constexpr int kFamilyUnit = 3;
constexpr int kErrorUnit = 25;

// iway.dat, trait.dat and five covariate files at most.
constexpr std::size_t kMostParts = 2 + kMaxCovariates;

// What ValidateFamilyStructure promises: every accessor reads inside the
// loaded arrays, and every listed entry is a position of its own family.
void CheckStoreContract(const FamilyStore& s) {
  const auto S = static_cast<std::int64_t>(s.member_count);
  if (s.listed_family_count < 0 || s.listed_family_count > N_FAM) std::abort();
  if (s.trait.size() != static_cast<std::size_t>(S) + 1) std::abort();
  if (s.sex.size() != s.trait.size() || s.status.size() != s.trait.size()) {
    std::abort();
  }
  if (s.StoredFamilyCount() < 0 ||
      s.StoredFamilyCount() > s.listed_family_count) {
    std::abort();
  }
  const std::int64_t nuclear_families =
      static_cast<std::int64_t>(s.list_offset.size()) - 2;
  for (std::int32_t g = 1; g <= s.listed_family_count; ++g) {
    const std::int32_t size = s.FamilySize(g);
    if (size > 0 && (s.MemberOffset(g) < 0 || s.MemberOffset(g) + size > S)) {
      std::abort();
    }
    const std::int32_t first = s.FirstNuclear(g);
    const std::int32_t last = s.LastNuclear(g);
    if (last < first) continue;
    if (first < 1 || last > nuclear_families) std::abort();
    for (std::int32_t w = first; w <= last; ++w) {
      if (w >= static_cast<std::int32_t>(s.connector.size())) std::abort();
      const std::int32_t connector = s.connector[w];
      if (connector < 0 || connector > size) std::abort();
      const auto members = s.NuclearMembers(w);
      if (members.size() < 2) std::abort();
      for (const std::int32_t position : members) {
        if (position < 1 || position > size) std::abort();
      }
    }
  }
}

// Every component in: major locus, polygenes, sex, the covariates; the
// general transmission model when `general_transmission`. Values inside
// their bounds, none estimated.
ParameterTable FullModel(std::int32_t covariate_count,
                         bool general_transmission) {
  ParameterTable p;
  struct Row {
    double value, low, high;
  };
  const Row rows[kParameterCount + 1] = {
      {0, 0, 0},     {0.2, 0.001, 0.999}, {16, 5, 25},  {13, 5, 25},
      {10.5, 5, 25}, {0.5, 0, 2},         {2, 0.1, 20}, {0.5, -5, 5},
      {0.9, 0, 1},   {0.5, 0, 1},         {0.1, 0, 1},  {0.1, -2, 2},
      {-0.1, -2, 2}, {0.05, -2, 2},       {0.2, -2, 2}, {-0.3, -2, 2}};
  for (int row = 1; row <= kParameterCount; ++row) {
    p.tie[row] = row;
    p.in_model[row] = 1;
    p.value[row] = rows[row].value;
    p.step[row] = 0.1;
    p.GL[row] = rows[row].low;
    p.GR[row] = rows[row].high;
  }
  p.in_model[kTr1] = general_transmission ? 1 : 0;
  for (int k = covariate_count + 1; k <= kMaxCovariates; ++k) {
    p.in_model[kB1 + k - 1] = 0;
    p.value[kB1 + k - 1] = 0;
  }
  return p;
}

void Evaluate(const FamilyStore& store, const ControlSettings& settings,
              const PolygenicTables& polygenic, TextUnits& units) {
  const SampleSettings sample_settings{
      .covariate_count = settings.covariate_count,
      .proband_switch = settings.proband_switch,
      .selection_flags = settings.selection_flags};

  ParameterTable mendelian = FullModel(settings.covariate_count, false);
  SampleLikelihood first(mendelian, store, polygenic, sample_settings);
  RunRecords records(units, /*family_records=*/false);
  first.Evaluate(Gate::kChecked, &records);

  ParameterTable general = FullModel(settings.covariate_count, true);
  SampleLikelihood final_pass(general, store, polygenic, sample_settings);
  units.Open(kFamilyUnit, (ScratchDirectory() / "LH_fam.dat").string(),
             OpenStatus::kNone);
  RunRecords final_records(units, /*family_records=*/true);
  final_pass.Evaluate(Gate::kChecked, &final_records);
  units.Close(kFamilyUnit);
}

}  // namespace

int FuzzFamilyData(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string_view> parts =
      SplitParts(AsText(data, size), kMostParts);
  const InScratchDirectory in_scratch;
  WriteFile("iway.dat", parts[0]);
  WriteFile("trait.dat", parts.size() > 1 ? parts[1] : std::string_view{});

  ControlSettings settings;
  settings.family_count = N_FAM;
  settings.proband_switch = parts[0].size() % 2;
  settings.data_file_name = "trait.dat       ";
  settings.covariate_count =
      parts.size() > 2 ? static_cast<std::int32_t>(parts.size() - 2) : 0;
  settings.selection_flags.assign(N_FAM + 1, 1);
  settings.selection_flags[0] = 0;
  for (std::int32_t q = 1; q <= settings.covariate_count; ++q) {
    const std::string name = "cov" + std::to_string(q) + ".dat";
    WriteFile(name, parts[1 + q]);
    settings.covariate_file_names[q] = name;
    settings.covariate_file_names[q].resize(kFileNameLength, ' ');
  }

  PolygenicTables polygenic;
  BuildPolygenicTransmission(polygenic);
  FillPolygenicFrequency(polygenic);

  std::ostringstream console;
  TextUnits units(console);
  FamilyStore store;
  try {
    units.Open(kErrorUnit, "par.err", OpenStatus::kNone);
    ReadFamilyData(units, 2, settings.data_file_name,
                   std::span<const std::string>(settings.covariate_file_names)
                       .subspan(1, settings.covariate_count),
                   store);
    CheckStoreContract(store);
    CountMembers(settings, store, units);
    ValidateSexCodes(store, settings.selection_flags, settings.family_count);
    Evaluate(store, settings, polygenic, units);
  } catch (const RunTermination&) {
  }
  return 0;
}

}  // namespace segmix::fuzz
