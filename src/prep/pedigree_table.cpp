// Splitting a pedigree table into fields and checking each row's own values.
#include "prep/pedigree_table.h"

#include <charconv>
#include <cmath>
#include <istream>
#include <map>
#include <system_error>

#include "cli/command_line.h"
#include "cli/input_file.h"
#include "textio/termination.h"

namespace segmix::prep {
namespace {

bool IsMissingText(std::string_view text) {
  return text.empty() || text == "." || cli::LowerCase(text) == "na";
}

// Equal as text (any case), or as numbers when both are numbers.
bool SameValue(std::string_view text, std::string_view code) {
  if (cli::LowerCase(text) == cli::LowerCase(code)) return true;
  double a = 0, b = 0;
  const auto [end_a, error_a] =
      std::from_chars(text.data(), text.data() + text.size(), a);
  const auto [end_b, error_b] =
      std::from_chars(code.data(), code.data() + code.size(), b);
  return !text.empty() && !code.empty() && error_a == std::errc() &&
         error_b == std::errc() && end_a == text.data() + text.size() &&
         end_b == code.data() + code.size() && a == b;
}

bool IsMissingValue(std::string_view text, const ReadingRules& rules) {
  if (IsMissingText(text)) return true;
  for (const std::string& code : rules.missing_codes) {
    if (SameValue(text, code)) return true;
  }
  return false;
}

// Parses the whole text as a finite 4-byte real; returns an empty string on
// success, else the reason.
std::string ParseFloat(std::string_view text, float& value) {
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error == std::errc::result_out_of_range) {
    return "does not fit a 4-byte real";
  }
  if (digits.empty() || error != std::errc() ||
      end != digits.data() + digits.size()) {
    return "is not a number";
  }
  if (!std::isfinite(value)) return "is not a finite number";
  return {};
}

}  // namespace

PedigreeTable ReadPedigreeTable(std::istream& in, std::string_view source,
                                const std::vector<std::string>& covariates) {
  ProblemList problems;
  PedigreeTable table = ReadPedigreeTable(in, source, covariates, problems);
  problems.ThrowIfAny();
  return table;
}

PedigreeTable ReadPedigreeTable(std::istream& in, std::string_view source,
                                const std::vector<std::string>& covariates,
                                ProblemList& row_problems) {
  return CheckPedigreeRows(ReadTextTable(in, source), source, covariates,
                           ReadingRules{}, row_problems);
}

TextTable ReadFamTable(std::istream& in, std::string_view source,
                       const std::vector<std::string>& columns) {
  TextTable table;
  table.header_from_options = true;
  table.header = {"family", "id", "father", "mother", "sex"};
  table.header.insert(table.header.end(), columns.begin(), columns.end());
  ProblemList problems;
  std::string line;
  std::vector<std::string> fields;
  int number = 0;
  while (cli::ReadLineCapped(in, line, source, number + 1)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (number == 1 && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
    if (cli::IsCommentOrBlank(line)) continue;
    const std::string fault =
        cli::SplitTableLine(line, cli::TableSeparator::kBlanks, fields);
    if (!fault.empty()) {
      problems.Add(RowPlace(source, number) + fault + ".");
    } else if (fields.size() != table.header.size()) {
      std::string names;
      for (const std::string& name : table.header) {
        names += (names.empty() ? "" : " ") + name;
      }
      problems.Add(RowPlace(source, number) + "the row has " +
                   std::to_string(fields.size()) + " fields, but --fam with " +
                   (columns.empty()
                        ? std::string("no --columns")
                        : "--columns " + names.substr(names.find("sex") + 4)) +
                   " reads " + std::to_string(table.header.size()) + " (" +
                   names +
                   "). Name the phenotype columns after the sex column with"
                   " --columns, in their order.");
    } else {
      table.rows.push_back(TextTable::Row{number, fields, {}});
    }
  }
  if (in.bad()) problems.Add(std::string(source) + ": reading failed.");
  problems.ThrowIfAny();
  return table;
}

std::string JoinPhenotypes(TextTable& pedigree, const TextTable& phenotypes,
                           std::string_view source, ProblemList& problems) {
  const std::string header_place = RowPlace(source, phenotypes.header_line);
  if (phenotypes.header.size() < 3) {
    problems.Add(header_place +
                 "a phenotype file needs a header whose first two columns"
                 " are the family and person ids (FID IID, or family id),"
                 " then at least one phenotype column.");
    return {};
  }
  // The ids are found by place, so their names must say that the place is
  // right: a table written IID FID would give family 1 the first person of
  // every family.
  const std::string first = cli::LowerCase(phenotypes.header[0]);
  const std::string second = cli::LowerCase(phenotypes.header[1]);
  if (!(first == "fid" && second == "iid") &&
      !(first == "family" && second == "id")) {
    std::string found;
    for (const std::string& name : phenotypes.header) {
      found += (found.empty() ? "" : " ") + ShownId(name);
    }
    problems.Add(header_place + "the header is \"" + found +
                 "\", but the first two columns of a phenotype file must be"
                 " the family and then the person id, named FID IID (or"
                 " family id, in any case). Put the two id columns first, in"
                 " that order, and name them so.");
    return {};
  }
  std::size_t c_family = pedigree.header.size(), c_id = c_family;
  for (std::size_t c = 0; c < pedigree.header.size(); ++c) {
    const std::string name = cli::LowerCase(pedigree.header[c]);
    if (name == "family" && c_family == pedigree.header.size()) c_family = c;
    if (name == "id" && c_id == pedigree.header.size()) c_id = c;
  }
  if (c_family == pedigree.header.size() || c_id == pedigree.header.size()) {
    return {};  // the pedigree's own check names the missing columns
  }
  bool clash = false;
  for (std::size_t c = 2; c < phenotypes.header.size(); ++c) {
    for (const std::string& existing : pedigree.header) {
      if (cli::LowerCase(existing) == cli::LowerCase(phenotypes.header[c])) {
        problems.Add(header_place + "the column \"" + phenotypes.header[c] +
                     "\" is also in the pedigree or an earlier phenotype"
                     " file; rename one of them.");
        clash = true;
      }
    }
  }
  std::map<std::pair<std::string, std::string>, std::size_t> row_of;
  for (std::size_t r = 0; r < phenotypes.rows.size(); ++r) {
    const auto& f = phenotypes.rows[r].fields;
    const auto [at, inserted] = row_of.emplace(std::pair(f[0], f[1]), r);
    if (!inserted) {
      problems.Add(RowPlace(source, phenotypes.rows[r].line, f[0], f[1]) +
                   "the person has a row already (line " +
                   std::to_string(phenotypes.rows[at->second].line) +
                   "); give each person one row.");
      clash = true;
    }
  }
  if (clash) return {};

  const std::size_t old_columns = pedigree.header.size();
  const std::size_t added = phenotypes.header.size() - 2;
  pedigree.header.insert(pedigree.header.end(), phenotypes.header.begin() + 2,
                         phenotypes.header.end());
  pedigree.column_sources.resize(old_columns);
  pedigree.column_sources.insert(pedigree.column_sources.end(), added,
                                 std::string(source));
  std::vector<bool> used(phenotypes.rows.size(), false);
  for (TextTable::Row& row : pedigree.rows) {
    row.joined_lines.resize(old_columns, 0);
    const auto found =
        row_of.find(std::pair(row.fields[c_family], row.fields[c_id]));
    if (found == row_of.end()) {
      row.fields.insert(row.fields.end(), added, std::string());
      row.joined_lines.insert(row.joined_lines.end(), added, 0);
      continue;
    }
    used[found->second] = true;
    const TextTable::Row& pheno = phenotypes.rows[found->second];
    row.fields.insert(row.fields.end(), pheno.fields.begin() + 2,
                      pheno.fields.end());
    row.joined_lines.insert(row.joined_lines.end(), added, pheno.line);
  }
  std::string listed;
  int unknown = 0;
  constexpr int kListed = 20;
  for (std::size_t r = 0; r < phenotypes.rows.size(); ++r) {
    if (used[r]) continue;
    if (++unknown <= kListed) {
      const auto& f = phenotypes.rows[r].fields;
      listed += (unknown > 1 ? ", " : " ") + ShownId(f[0]) + "/" +
                ShownId(f[1]) + " (line " +
                std::to_string(phenotypes.rows[r].line) + ")";
    }
  }
  if (unknown == 0) return {};
  return std::string(source) + ": " + std::to_string(unknown) +
         (unknown == 1 ? " person is" : " persons are") +
         " not in the pedigree and left out:" + listed +
         (unknown > kListed ? ", ..." : "") + ".";
}

PedigreeTable CheckPedigreeRows(const TextTable& text, std::string_view source,
                                const std::vector<std::string>& covariates,
                                const ReadingRules& rules,
                                ProblemList& row_problems) {
  using Coding = ReadingRules::ProbandCoding;
  PedigreeTable table;
  table.source = source;
  table.covariates = covariates;
  ProblemList problems;
  if (text.header_line == 0 && !text.header_from_options) {
    problems.Add(std::string(source) +
                 ": the table is empty. Its first line that is neither blank"
                 " nor a comment (#) must be a header naming the columns"
                 " family, id, father, mother, sex, status and trait.");
    problems.ThrowIfAny();
  }

  // Column positions by lower-case name; a name that appears twice is
  // ambiguous only when it is one the table is read by.
  std::map<std::string, std::vector<std::size_t>> columns;
  for (std::size_t c = 0; c < text.header.size(); ++c) {
    columns[cli::LowerCase(text.header[c])].push_back(c);
  }
  const std::string header_place = RowPlace(source, text.header_line);
  auto column_of = [&](std::string_view name, std::string_view role) {
    const auto found = columns.find(cli::LowerCase(name));
    if (found == columns.end()) {
      problems.Add(
          header_place +
          (text.header_from_options
               ? "no column \"" + std::string(name) + "\"" + std::string(role) +
                     ": name it after the sex column with --columns, or give"
                     " it in a --pheno file."
               : "the header has no column \"" + std::string(name) + "\"" +
                     std::string(role) + "."));
      return std::size_t{0};
    }
    if (found->second.size() > 1) {
      problems.Add(
          header_place + "the header names column \"" + std::string(name) +
          "\" " + std::to_string(found->second.size()) + " times (columns " +
          std::to_string(found->second[0] + 1) + " and " +
          std::to_string(found->second[1] + 1) + "); rename all but one.");
    }
    return found->second.front();
  };
  const bool by_column = rules.proband_coding == Coding::kColumn;
  const std::string required_role =
      text.header_from_options
          ? std::string()
          : "; a pedigree table needs the columns family, id, father, mother,"
            " sex, " +
                std::string(by_column ? "" : "status and ") +
                "trait, in any order and any case";
  const std::size_t c_family = column_of("family", required_role);
  const std::size_t c_id = column_of("id", required_role);
  const std::size_t c_father = column_of("father", required_role);
  const std::size_t c_mother = column_of("mother", required_role);
  const std::size_t c_sex = column_of("sex", required_role);
  const std::size_t c_status =
      by_column ? column_of(rules.proband_column, ", named by --proband")
                : column_of("status", required_role);
  const std::size_t c_trait = column_of("trait", required_role);
  std::vector<std::size_t> c_covariates;
  for (const std::string& name : covariates) {
    c_covariates.push_back(
        column_of(name, ", named as a covariate by --covariates"));
  }
  problems.ThrowIfAny();
  if (text.rows.empty()) {
    problems.Add(header_place +
                 "the table has a header but no rows; give one row per"
                 " person.");
    problems.ThrowIfAny();
  }

  int missing_trait = 0, absent_status = 0;
  std::vector<int> missing_covariate(covariates.size(), 0);
  for (const TextTable::Row& row : text.rows) {
    const std::vector<std::string>& f = row.fields;
    PersonRow person;
    person.line = row.line;
    person.family = f[c_family];
    person.id = f[c_id];
    const std::string place =
        RowPlace(source, row.line, person.family, person.id);
    // A value from a phenotype file is placed in that file.
    auto value_place = [&](std::size_t c) {
      if (row.joined_lines.empty() || row.joined_lines[c] == 0) return place;
      return RowPlace(text.column_sources[c], row.joined_lines[c],
                      person.family, person.id);
    };
    auto absent = [&](std::size_t c) {
      return !row.joined_lines.empty() && c < text.column_sources.size() &&
             !text.column_sources[c].empty() && row.joined_lines[c] == 0;
    };
    if (person.family.empty()) {
      row_problems.Add(
          RowPlace(source, row.line) +
          "the family field is empty; every row needs a family id.");
    }
    if (person.id.empty() || person.id == "0") {
      row_problems.Add(RowPlace(source, row.line, person.family) +
                       "the id is " + ShownId(person.id) +
                       "; every person needs an id other than 0 (0 and an empty"
                       " field stand for an unknown parent).");
    }
    auto parent = [](const std::string& field) {
      return field == "0" ? std::string() : field;
    };
    person.father = parent(f[c_father]);
    person.mother = parent(f[c_mother]);

    const std::string& sex = f[c_sex];
    if (sex == "0" || sex == "1" || sex == "2") {
      person.sex = sex[0] - '0';
    } else {
      person.sex = -1;
      row_problems.Add(place + "sex is " + ShownId(sex) +
                       "; write 1 or 2 (a father has 1, a mother 2), or 0"
                       " when unknown for a person who is not a parent.");
    }
    const std::string& status = f[c_status];
    if (absent(c_status)) {
      person.status = 2;  // no phenotype row: not a proband
      ++absent_status;
    } else if (by_column) {
      person.status = SameValue(status, rules.proband_value) ? 1 : 2;
    } else if (rules.proband_coding == Coding::kStatus01) {
      if (status == "0" || status == "1") {
        person.status = status == "1" ? 1 : 2;
      } else {
        row_problems.Add(value_place(c_status) + "status is " +
                         ShownId(status) +
                         "; with --proband-coding 01 write 1 for a proband"
                         " and 0 for everyone else.");
      }
    } else if (status == "0" || status == "1" || status == "2") {
      person.status = status[0] - '0';
    } else {
      row_problems.Add(value_place(c_status) + "status is " + ShownId(status) +
                       "; write 0 or 1 for a proband (0 also forces the"
                       " ascertainment correction of the family) and 2 for"
                       " everyone else" +
                       (status == "-9"
                            ? std::string(", or read a 0/1 coding with"
                                          " --proband-coding 01")
                            : std::string()) +
                       ".");
    }

    const std::string& trait = f[c_trait];
    if (IsMissingValue(trait, rules)) {
      ++missing_trait;
    } else {
      const std::string fault = ParseFloat(trait, person.trait);
      if (!fault.empty()) {
        row_problems.Add(value_place(c_trait) + "trait " + ShownId(trait) +
                         " " + fault +
                         "; write a number, or NA, . or nothing for a missing"
                         " value (name other codes with --missing).");
      } else if (person.trait <= -998.0f) {
        row_problems.Add(
            value_place(c_trait) + "trait " + ShownId(trait) +
            " is at or below -998, which segmix takes for a missing"
            " value; write NA for a missing value (or name the code with"
            " --missing), or shift the trait so that every value lies above"
            " -998.");
      } else {
        person.trait_observed = true;
      }
    }
    for (std::size_t q = 0; q < covariates.size(); ++q) {
      const std::string& value = f[c_covariates[q]];
      float x = 0;
      if (IsMissingValue(value, rules)) {
        ++missing_covariate[q];
        if (person.trait_observed) {
          row_problems.Add(
              value_place(c_covariates[q]) + "covariate " + covariates[q] +
              " is missing but the trait is observed; segmix has no"
              " missing covariate values. Give the value, or write"
              " the trait as NA to leave this person's trait out.");
        }
      } else {
        const std::string fault = ParseFloat(value, x);
        if (!fault.empty()) {
          row_problems.Add(value_place(c_covariates[q]) + "covariate " +
                           covariates[q] + " value " + ShownId(value) + " " +
                           fault +
                           "; write a number, or NA when the trait is missing"
                           " too.");
        }
      }
      person.covariates.push_back(x);
    }
    table.rows.push_back(std::move(person));
  }
  table.missing_counts.emplace_back(text.header[c_trait], missing_trait);
  for (std::size_t q = 0; q < covariates.size(); ++q) {
    table.missing_counts.emplace_back(covariates[q], missing_covariate[q]);
  }
  if (absent_status > 0) {
    table.missing_counts.emplace_back(text.header[c_status], absent_status);
  }
  return table;
}

}  // namespace segmix::prep
