// report.html as segmix-fit writes it, on a short run of the small example:
// its data are fit.json's and the other files' values, it names no address
// to fetch, the warnings are at the top, and --no-report leaves it out. The
// browser stage (tools/check-report.sh) checks that every figure renders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "fit/fit_command.h"
#include "support/scratch_path.h"

namespace segmix::fit {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

using segmix::testing::ReadText;

// Column `name` of a CSV file without quoted fields, row by row.
std::vector<std::string> CsvColumn(const fs::path& path,
                                   const std::string& name) {
  std::istringstream in(ReadText(path));
  auto split = [](const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream s(line + ",");
    for (std::string f; std::getline(s, f, ',');) fields.push_back(f);
    return fields;
  };
  std::string line;
  std::getline(in, line);
  const auto header = split(line);
  const auto at =
      std::find(header.begin(), header.end(), name) - header.begin();
  std::vector<std::string> column;
  while (std::getline(in, line)) column.push_back(split(line).at(at));
  return column;
}

int RunFit(const fs::path& out, std::vector<std::string> extra) {
  const fs::path example = fs::path(SEGMIX_SOURCE_DIR) / "examples" / "small";
  std::vector<std::string> args = {
      "segmix-fit", example.string(), "--out",    out.string(), "--quiet",
      "--models",   "sporadic,major", "--starts", "1"};
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream report, err;
  return RunFitCommand(static_cast<int>(argv.size()), argv.data(), report, err,
                       false);
}

class ReportHtmlTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new fs::path(fs::temp_directory_path() /
                        ("report_html_" + std::to_string(::getpid())));
    fs::remove_all(*dir_);
    ASSERT_EQ(RunFit(*dir_, {"--profile", "MU"}), cli::kExitDone);
    html_ = new std::string(ReadText(*dir_ / "report.html"));
    const std::string open =
        "<script type=\"application/json\" id=\"segmix-data\">";
    const auto begin = html_->find(open);
    ASSERT_NE(begin, std::string::npos);
    const auto end = html_->find("</script>", begin);
    data_ = new Json(Json::parse(
        html_->substr(begin + open.size(), end - begin - open.size())));
  }
  static void TearDownTestSuite() {
    fs::remove_all(*dir_);
    delete dir_;
    delete html_;
    delete data_;
  }
  static fs::path* dir_;
  static std::string* html_;
  static Json* data_;
};

fs::path* ReportHtmlTest::dir_ = nullptr;
std::string* ReportHtmlTest::html_ = nullptr;
Json* ReportHtmlTest::data_ = nullptr;

TEST_F(ReportHtmlTest, EmbedsTheValuesOfFitJsonAndOfTheOtherFiles) {
  EXPECT_EQ(data_->at("fit"), Json::parse(ReadText(*dir_ / "fit.json")));
  EXPECT_EQ(data_->at("fit").at("profiles").size(), 1u);

  // Both in family order; the report leaves out the families and persons
  // that have no value.
  std::vector<double> expected, shown;
  for (const std::string& v :
       CsvColumn(*dir_ / "families.csv", "ln_lh_weighted")) {
    if (!v.empty()) expected.push_back(std::stod(v));
  }
  for (const Json& f : data_->at("figures").at("families")) {
    shown.push_back(f.at("ln_lh_weighted").get<double>());
  }
  EXPECT_FALSE(shown.empty());
  EXPECT_EQ(shown, expected);
  expected.clear();
  for (const std::string& v : CsvColumn(*dir_ / "persons.csv", "p_genotype1")) {
    if (!v.empty()) expected.push_back(std::stod(v));
  }
  EXPECT_FALSE(expected.empty());
  EXPECT_EQ(data_->at("figures").at("posteriors").get<std::vector<double>>(),
            expected);
}

// The histogram counts every value it shows once, and the fitted density
// is a density: over the data's range (and 5% beyond) it integrates to
// nearly 1, whatever the estimates.
TEST_F(ReportHtmlTest, TraitHistogramAndDensityAreNormalised) {
  const Json& trait = data_->at("figures").at("trait");
  int counted = 0;
  for (const Json& b : trait.at("bins")) counted += b.at("count").get<int>();
  EXPECT_EQ(counted, trait.at("persons").get<int>());
  EXPECT_GT(counted, 0);
  double integral = 0, x = 0, y = 0;
  bool first = true;
  for (const Json& c : trait.at("curves")) {
    if (c.at("curve") != "fitted density") continue;
    const double cx = c.at("x").get<double>(), cy = c.at("y").get<double>();
    if (!first) integral += (cx - x) * (cy + y) / 2;
    first = false;
    x = cx;
    y = cy;
  }
  EXPECT_GT(integral, 0.6);
  EXPECT_LT(integral, 1.0 + 1e-6);
}

// Vega's code holds the XML namespace names of SVG, which identify and are
// never loaded; anything else with a scheme would be an address.
TEST_F(ReportHtmlTest, NamesNoAddressAndForbidsLoads) {
  std::string text = *html_;
  for (const std::string name :
       {"http://www.w3.org/2000/svg", "http://www.w3.org/1999/xlink",
        "http://www.w3.org/2000/xmlns/"}) {
    for (auto at = text.find(name); at != std::string::npos;
         at = text.find(name)) {
      text.erase(at, name.size());
    }
  }
  EXPECT_EQ(text.find("http://"), std::string::npos)
      << text.substr(text.find("http://"), 80);
  EXPECT_EQ(text.find("https://"), std::string::npos);
  EXPECT_NE(text.find("default-src 'none'"), std::string::npos);
}

TEST_F(ReportHtmlTest, ShowsTheWarningsFirst) {
  const auto warning = html_->find("family 4 has no observed member");
  ASSERT_NE(warning, std::string::npos);
  EXPECT_LT(warning, html_->find("id=\"trait-figure\""));
}

TEST(ReportHtml, NoReportLeavesItOut) {
  const fs::path dir = testing::ScratchPathForCurrentTest("fit_");
  fs::remove_all(dir);
  ASSERT_EQ(RunFit(dir, {"--no-report"}), cli::kExitDone);
  EXPECT_TRUE(fs::exists(dir / "fit.json"));
  EXPECT_FALSE(fs::exists(dir / "report.html"));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace segmix::fit
