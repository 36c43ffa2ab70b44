// Building the program's input files from a checked pedigree table, checking
// them with the program's own validator, and writing them all or none.
#include "prep/prepared_data.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>
#include <system_error>

#include "cli/command_line.h"
#include "cli/output_file.h"
#include "data/family_weights.h"
#include "data/validate_family_structure.h"
#include "prep/pedigree_structure.h"
#include "run/unit_numbers.h"
#include "textio/statements.h"
#include "textio/termination.h"
#include "textio/text_units.h"

namespace segmix::prep {
namespace {

// The files are written on the unit the run reads its data files on.
constexpr int kFileUnit = kDataUnit;

std::string Padded(std::string_view name) {
  std::string padded(name);
  padded.resize(std::max(padded.size(), kFileNameLength), ' ');
  return padded;
}

// `x` rounded to `digits` significant digits: round numbers in a template
// are easier to read and to edit, and E12.5 holds them exactly.
double RoundSignificant(double x, int digits) {
  if (x == 0 || !std::isfinite(x)) return x;
  char buffer[64];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, x,
                                 std::chars_format::scientific, digits - 1);
  double rounded = 0;
  std::from_chars(buffer, end.ptr, rounded);
  return rounded;
}

TraitSummary SummariseTrait(const PedigreeTable& table) {
  TraitSummary summary;
  double sum = 0;
  for (const PersonRow& row : table.rows) {
    if (!row.trait_observed) continue;
    const double y = row.trait;
    if (summary.observed == 0) summary.min = summary.max = y;
    summary.min = std::min(summary.min, y);
    summary.max = std::max(summary.max, y);
    sum += y;
    ++summary.observed;
  }
  if (summary.observed == 0) return summary;
  summary.mean = sum / summary.observed;
  double squares = 0;
  for (const PersonRow& row : table.rows) {
    if (!row.trait_observed) continue;
    const double d = row.trait - summary.mean;
    squares += d * d;
  }
  if (summary.observed > 1) summary.variance = squares / (summary.observed - 1);
  return summary;
}

// Standard deviation of covariate q over the persons whose trait is
// observed (the only ones whose covariates enter the likelihood); 1 when it
// has no spread, so that the template's bounds stay finite.
double CovariateSpread(const PedigreeTable& table, std::size_t q) {
  double sum = 0;
  int count = 0;
  for (const PersonRow& row : table.rows) {
    if (!row.trait_observed) continue;
    sum += row.covariates[q];
    ++count;
  }
  if (count < 2) return 1;
  const double mean = sum / count;
  double squares = 0;
  for (const PersonRow& row : table.rows) {
    if (!row.trait_observed) continue;
    const double d = row.covariates[q] - mean;
    squares += d * d;
  }
  const double sd = std::sqrt(squares / (count - 1));
  return sd > 0 ? sd : 1;
}

void SetRow(ParameterTable& p, int row, std::int32_t in_model,
            std::int32_t estimate, double value, double step, double low,
            double high) {
  p.tie[row] = row;
  p.in_model[row] = in_model;
  p.estimate[row] = estimate;
  p.value[row] = RoundSignificant(value, 3);
  p.step[row] = RoundSignificant(step, 3);
  p.GL[row] = RoundSignificant(low, 3);
  p.GR[row] = RoundSignificant(high, 3);
}

ParameterTable TemplateParameters(const TraitSummary& trait,
                                  const std::vector<double>& covariate_sd) {
  const double m = trait.mean;
  double s = std::sqrt(trait.variance);
  if (!(s > 0)) s = 1;  // a single observed value, or all alike
  // Twice s at least, so that MU = m + 1.5 s stays inside even when every
  // observed value is the same.
  const double width = std::max(trait.max - trait.min, 2 * s);
  const double low = trait.min - width;
  const double high = trait.max + width;
  ParameterTable p;
  SetRow(p, kQ, 1, 1, 0.2, 0.05, 0, 1);
  SetRow(p, kMU, 1, 1, m + 1.5 * s, 0.2 * s, low, high);
  SetRow(p, kA, 1, 1, m + 0.5 * s, 0.2 * s, low, high);
  SetRow(p, kD, 1, 1, m - 0.5 * s, 0.2 * s, low, high);
  SetRow(p, kPga, 0, 0, 0.2 * s, 0.05 * s, 0, 2 * s);
  SetRow(p, kSIG, 1, 1, s * s / 2, 0.1 * s * s, 0, 4 * s * s);
  SetRow(p, kSex, 0, 0, 0, 0.1 * s, -2 * s, 2 * s);
  SetRow(p, kTr1, 0, 0, 1, 0.05, 0, 1);
  SetRow(p, kTr2, 0, 0, 0.5, 0.05, 0, 1);
  SetRow(p, kTr3, 0, 0, 0, 0.05, 0, 1);
  for (int q = 0; q < 5; ++q) {
    if (q < static_cast<int>(covariate_sd.size())) {
      const double scale = s / covariate_sd[q];
      SetRow(p, kB1 + q, 1, 1, 0, 0.1 * scale, -10 * scale, 10 * scale);
    } else {
      SetRow(p, kB1 + q, 0, 0, 0, 0, 0, 0);
    }
  }
  return p;
}

// Fills the structure records of the store from the plans.
void FillStructure(const std::vector<PedigreeFamily>& families,
                   const std::vector<FamilyPlan>& plans, FamilyStore& s) {
  const std::int32_t n = static_cast<std::int32_t>(families.size());
  s.listed_family_count = n;
  s.member_offset.assign(n + 2, 0);
  s.nuclear_offset.assign(n + 2, 0);
  // Index 0 of records 1 to 3 is not read as an offset; it holds the count
  // of what the record lists (families, families, nuclear families).
  s.member_offset[0] = n;
  s.nuclear_offset[0] = n;
  std::int32_t nuclear_count = 0;
  std::int32_t list_length = 0;
  for (std::int32_t g = 1; g <= n; ++g) {
    const FamilyPlan& plan = plans[g - 1];
    s.member_offset[g + 1] =
        s.member_offset[g] +
        static_cast<std::int32_t>(families[g - 1].persons.size());
    s.nuclear_offset[g + 1] =
        s.nuclear_offset[g] + static_cast<std::int32_t>(plan.nuclear.size());
    nuclear_count += static_cast<std::int32_t>(plan.nuclear.size());
    for (const NuclearPlan& nuclear : plan.nuclear) {
      list_length += static_cast<std::int32_t>(nuclear.entries.size());
    }
  }
  s.list_offset_count = nuclear_count + 2;
  s.member_list_length = list_length;
  s.list_offset.assign(nuclear_count + 2, 0);
  s.list_offset[0] = nuclear_count;
  s.member_list.assign(list_length + 1, 0);
  s.connector.assign(nuclear_count + 1, 0);
  std::int32_t w = 0;
  std::int32_t entry = 0;
  for (std::int32_t g = 1; g <= n; ++g) {
    const FamilyPlan& plan = plans[g - 1];
    for (const NuclearPlan& nuclear : plan.nuclear) {
      ++w;
      for (const int person : nuclear.entries) {
        s.member_list[++entry] = plan.position_of_person[person];
      }
      s.list_offset[w + 1] = entry;
      s.connector[w] = nuclear.connector < 0
                           ? 0
                           : plan.position_of_person[nuclear.connector];
    }
  }
}

std::string Trimmed(std::string_view text) {
  const std::size_t end = text.find_last_not_of(' ');
  return std::string(
      text.substr(0, end == std::string_view::npos ? 0 : end + 1));
}

// Runs `write` with a unit open on `path`, turning every failure of the
// text-record layer into a cli::FileError.
template <typename Write>
void WriteThroughUnits(const std::filesystem::path& path, Write write) {
  std::ostringstream console;
  TextUnits units(console);
  try {
    units.Open(kFileUnit, path.string(), OpenStatus::kNone);
    write(units);
    units.Close(kFileUnit);
  } catch (const RunTermination& failure) {
    units.CloseAll();
    throw cli::OutputFileError("cannot write " + path.string() + ": " +
                               failure.StderrText());
  }
}

void WriteStructureFile(const FamilyStore& s, TextUnits& units) {
  auto record = [&](auto fill) {
    WriteStatement w(units, kFileUnit);
    fill(w);
    w.End();
  };
  const std::int32_t n = s.listed_family_count;
  record([&](WriteStatement& w) {
    w << n;
    for (std::int32_t i = 0; i <= n + 1; ++i) w << s.member_offset[i];
  });
  record([&](WriteStatement& w) {
    for (std::int32_t i = 0; i <= n + 1; ++i) w << s.nuclear_offset[i];
  });
  record([&](WriteStatement& w) {
    w << s.list_offset_count;
    for (std::int32_t i = 0; i < s.list_offset_count; ++i)
      w << s.list_offset[i];
  });
  record([&](WriteStatement& w) {
    w << s.member_list_length;
    for (std::int32_t i = 1; i <= s.member_list_length; ++i) {
      w << s.member_list[i];
    }
  });
  record([&](WriteStatement& w) {
    for (std::int32_t i = 1; i <= s.list_offset_count - 2; ++i) {
      w << s.connector[i];
    }
  });
  record([&](WriteStatement& w) {
    w << s.member_count;
    for (std::int32_t k = 1; k <= s.member_count; ++k) w << s.sex[k];
  });
  record([&](WriteStatement& w) {
    for (std::int32_t k = 1; k <= s.member_count; ++k) w << s.status[k];
  });
}

// One record per family, so that line g holds family g; the program reads
// the whole file as one free-form record of S values.
void WriteMemberValues(const FamilyStore& s, const std::vector<float>& values,
                       TextUnits& units) {
  for (std::int32_t g = 1; g <= s.listed_family_count; ++g) {
    WriteStatement w(units, kFileUnit);
    for (std::int32_t k = s.member_offset[g] + 1; k <= s.member_offset[g + 1];
         ++k) {
      w << values[k];
    }
    w.End();
  }
}

void WriteControlFile(const PreparedData& data, TextUnits& units) {
  const ControlSettings& c = data.control;
  {
    WriteStatement w(units, kFileUnit);
    w << c.family_count << c.proband_switch << Trimmed(c.data_file_name)
      << c.covariate_count
      << "   ! families  proband switch  trait file  covariates";
    w.End();
  }
  {
    WriteStatement w(units, kFileUnit, "(20i1)");
    for (std::int32_t g = 1; g <= c.family_count; ++g)
      w << c.selection_flags[g];
    w.End();
  }
  const ParameterTable& p = data.parameters;
  for (int row = 1; row <= kParameterCount; ++row) {
    std::string note = "   " + Trimmed(kParameterNames[row]);
    if (p.in_model[row] == 0) note += " (out of the model)";
    if (row >= kB1 && row - kB1 < c.covariate_count) {
      note += " (covariate " + data.covariate_columns[row - kB1] + ")";
    }
    WriteStatement w(units, kFileUnit, "(2i3,i2,4E12.5,A)");
    w << p.tie[row] << p.in_model[row] << p.estimate[row] << p.value[row]
      << p.step[row] << p.GL[row] << p.GR[row] << note;
    w.End();
  }
  for (std::int32_t q = 1; q <= c.covariate_count; ++q) {
    WriteStatement w(units, kFileUnit);
    w << Trimmed(c.covariate_file_names[q])
      << "   ! B" + std::to_string(q) + ": column " +
             data.covariate_columns[q - 1];
    w.End();
  }
}

void WriteMapFile(const PreparedData& data, const std::filesystem::path& path) {
  errno = 0;  // the stream keeps no reason; errno holds the failed call's
  std::ofstream out(path, std::ios::binary);
  out << "# segmix-prep: family index and member position in iway.dat (and"
         " LH_fam.dat) -> ids of "
      << std::filesystem::path(data.source).filename().string() << "\n";
  out << "family_index position store_index family id line\n";
  for (const MapEntry& e : data.map) {
    out << e.family_index << ' ' << e.position << ' ' << e.store_index << ' '
        << ShownId(e.family) << ' ' << ShownId(e.id) << ' ' << e.line << '\n';
  }
  out.flush();
  if (!out) {
    throw cli::OutputFileError(cli::CannotWriteText(path.string(), errno));
  }
}

}  // namespace

std::string CovariateFileName(int q) {
  return "cov" + std::to_string(q) + ".dat";
}

std::vector<std::string> CovariateFileNames(
    const std::vector<std::string>& columns, std::string_view trait_file) {
  // The files segmix-prep writes and the results segmix writes beside them.
  std::vector<std::string> taken = {std::string(kStructureFileName),
                                    std::string(kControlFileName),
                                    std::string(kMapFileName),
                                    std::string(trait_file),
                                    "max.dat",
                                    "sigma.dat",
                                    "lh_fam.dat",
                                    "par.err"};
  for (std::string& name : taken) name = cli::LowerCase(name);
  auto free = [&](const std::string& name) {
    return std::find(taken.begin(), taken.end(), cli::LowerCase(name)) ==
           taken.end();
  };
  std::vector<std::string> names;
  for (std::size_t q = 1; q <= columns.size(); ++q) {
    const std::string named = columns[q - 1] + ".dat";
    const bool plain =
        named.size() <= kFileNameLength &&
        named.find_first_not_of(
            "abcdefghijklmnopqrstuvwxyz"
            "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-") == std::string::npos;
    names.push_back(
        plain && free(named) ? named : CovariateFileName(static_cast<int>(q)));
    taken.push_back(cli::LowerCase(names.back()));
  }
  return names;
}

PreparedData PrepareData(const PedigreeTable& table,
                         const PrepOptions& options) {
  const std::vector<PedigreeFamily> families = BuildPedigreeFamilies(table);
  PreparedData data;
  data.source = table.source;
  data.covariate_columns = table.covariates;
  data.trait = SummariseTrait(table);
  if (data.trait.observed == 0) {
    throw InputRejected(table.source +
                        ": no person has an observed trait value, so there"
                        " is nothing to analyse. Give trait values.");
  }

  std::vector<FamilyPlan> plans;
  plans.reserve(families.size());
  for (const PedigreeFamily& family : families) {
    plans.push_back(PlanPeeling(family, options.peel));
  }
  FamilyStore& s = data.store;
  FillStructure(families, plans, s);
  if (s.list_offset_count > N_WAY || s.member_list_length > N_WAY) {
    throw InputRejected(
        table.source + ": the pedigrees need " +
        std::to_string(s.list_offset_count - 2) + " nuclear families with " +
        std::to_string(s.member_list_length) +
        " member-list entries; the program holds at most N_WAY = " +
        std::to_string(N_WAY) + " of each. " + CapacityAdvice("SEGMIX_N_WAY"));
  }

  // Member values in store order: family after family, positions 1..n.
  const std::int32_t S = static_cast<std::int32_t>(table.rows.size());
  const std::size_t K = table.covariates.size();
  s.member_count = S;
  s.sex.assign(S + 1, 0);
  s.status.assign(S + 1, 0);
  s.trait.assign(S + 1, 0.0f);
  for (std::size_t q = 1; q < s.covariate.size(); ++q) {
    s.covariate[q].assign(S + 1, 0.0f);
  }
  for (std::size_t g = 1; g <= families.size(); ++g) {
    const PedigreeFamily& family = families[g - 1];
    const FamilyPlan& plan = plans[g - 1];
    for (std::size_t x = 1; x <= plan.person_at_position.size(); ++x) {
      const int person = plan.person_at_position[x - 1];
      const PersonRow& row = table.rows[family.persons[person].row];
      const std::int32_t k = s.member_offset[g] + static_cast<std::int32_t>(x);
      s.sex[k] = row.sex;
      s.status[k] = row.status;
      s.trait[k] = row.trait_observed ? row.trait : kMissingWritten;
      for (std::size_t q = 0; q < K; ++q)
        s.covariate[q + 1][k] = row.covariates[q];
      data.map.push_back(MapEntry{static_cast<std::int32_t>(g),
                                  static_cast<std::int32_t>(x), k, row.family,
                                  row.id, row.line});
    }
    data.outside_count += static_cast<std::int32_t>(
        plan.person_at_position.size() - plan.listed_count);
  }
  // The weights by the program's own rule, as it derives them on loading.
  s.family_weight = FamilyWeights(s);

  ControlSettings& c = data.control;
  c.family_count = s.listed_family_count;
  c.proband_switch = options.proband_switch;
  c.data_file_name = Padded(options.trait_file);
  c.covariate_count = static_cast<std::int32_t>(K);
  c.covariate_file_names.fill(std::string(kFileNameLength, ' '));
  const std::vector<std::string> covariate_files =
      CovariateFileNames(table.covariates, options.trait_file);
  for (std::size_t q = 1; q <= K; ++q) {
    c.covariate_file_names[q] = Padded(covariate_files[q - 1]);
  }
  c.selection_flags.assign(static_cast<std::size_t>(N_FAM) + 1, 0);
  for (std::int32_t g = 1; g <= c.family_count; ++g) c.selection_flags[g] = 1;

  std::vector<double> covariate_sd;
  for (std::size_t q = 0; q < K; ++q) {
    covariate_sd.push_back(CovariateSpread(table, q));
  }
  data.parameters = TemplateParameters(data.trait, covariate_sd);

  try {
    ValidateFamilyStructure(s);
    // Unknown sex (0) is the table's to give; segmix refuses it only with
    // Sex in the model, which the template leaves out.
    if (std::find(s.sex.begin() + 1, s.sex.end(), 0) == s.sex.end()) {
      ValidateSexCodes(s, c.selection_flags, c.family_count);
    }
  } catch (const InputRejected& refusal) {
    throw InternalFault(
        "segmix-prep built an iway.dat that the program's validator refuses:"
        "\n" +
        refusal.StderrText() +
        "This is a fault of segmix-prep, not of the table; please report it"
        " with the table.");
  }
  return data;
}

std::vector<std::string> OutputFileNames(const PreparedData& data) {
  std::vector<std::string> names{std::string(kStructureFileName),
                                 Trimmed(data.control.data_file_name)};
  for (std::int32_t q = 1; q <= data.control.covariate_count; ++q) {
    names.push_back(Trimmed(data.control.covariate_file_names[q]));
  }
  names.emplace_back(kControlFileName);
  names.emplace_back(kMapFileName);
  return names;
}

void WritePreparedFiles(const PreparedData& data,
                        const std::filesystem::path& directory,
                        bool overwrite) {
  namespace fs = std::filesystem;
  const std::vector<std::string> names = OutputFileNames(data);
  std::error_code error;
  if (!overwrite) {
    for (const std::string& name : names) {
      if (fs::exists(directory / name, error)) {
        throw cli::OutputFileError(
            (directory / name).string() +
            " exists; segmix-prep does not overwrite an earlier"
            " output (par.inp may hold your own edits). Choose"
            " another directory, or give --force to overwrite.");
      }
    }
  }
  fs::create_directories(directory, error);
  if (error || !fs::is_directory(directory)) {
    throw cli::OutputFileError(
        "cannot create the directory " + directory.string() +
        (error ? ": " + error.message() : std::string()) + ".");
  }

  // Each name resolved first: a link is followed, a device or FIFO written
  // in place; the temporary sits beside the file it will replace.
  std::vector<cli::OutputTarget> targets;
  std::vector<fs::path> temporaries;
  for (const std::string& name : names) {
    targets.push_back(cli::ResolveOutput(directory / name));
    temporaries.push_back(
        targets.back().in_place
            ? directory / ("." + name + ".segmix-prep.tmp")
            : cli::TemporaryBeside(targets.back(), ".segmix-prep.tmp"));
  }
  auto remove_temporaries = [&] {
    std::error_code ignored;
    for (const fs::path& t : temporaries) fs::remove(t, ignored);
  };
  try {
    std::size_t i = 0;
    WriteThroughUnits(temporaries[i++], [&](TextUnits& units) {
      WriteStructureFile(data.store, units);
    });
    WriteThroughUnits(temporaries[i++], [&](TextUnits& units) {
      WriteMemberValues(data.store, data.store.trait, units);
    });
    for (std::int32_t q = 1; q <= data.control.covariate_count; ++q) {
      WriteThroughUnits(temporaries[i++], [&](TextUnits& units) {
        WriteMemberValues(data.store, data.store.covariate[q], units);
      });
    }
    WriteThroughUnits(temporaries[i++],
                      [&](TextUnits& units) { WriteControlFile(data, units); });
    WriteMapFile(data, temporaries[i++]);
    for (std::size_t k = 0; k < names.size(); ++k) {
      cli::CommitOutput(temporaries[k], targets[k],
                        (directory / names[k]).string());
    }
  } catch (...) {
    remove_temporaries();
    throw;
  }
}

}  // namespace segmix::prep
