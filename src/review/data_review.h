// The checks of the family data: values left over after a record of
// iway.dat, the trait file or a covariate file, which families the analysis
// really uses, the trait values that look like missing-value codes, the
// trait's shape, and probands whose values stand above the others'.
#ifndef SEGMIX_CHECK_DATA_REVIEW_H_
#define SEGMIX_CHECK_DATA_REVIEW_H_

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "data/family_store.h"
#include "review/findings.h"
#include "run/control_file.h"

namespace segmix {

// Scans the free-form records of one family data file as the run read them
// (the run has refused any value left unset by a slash or an empty field):
// `name` is the file's name as par.inp gives it (for messages; it is read in
// `dir`, the analysis folder), `record_values` the number of values of each
// record in order.
// Adds a warning for values left on a record's last line and for values on
// lines after the last record: the run ignores both.
void ReviewDataText(const std::filesystem::path& dir, const std::string& name,
                    const std::vector<std::size_t>& record_values,
                    CheckReport& report);

// All the family data files of a run: iway.dat's seven records, the trait
// file and the covariate files, as ReviewDataText.
void ReviewDataFiles(const std::filesystem::path& dir,
                     const ControlSettings& settings, const FamilyStore& store,
                     CheckReport& report);

// The text of ReviewFamilies' warning about corrected families whose observed
// members are all probands, after the family list. True of the proband-value
// correction only: a caller that conditions on a threshold instead (where
// such a family does contribute) leaves the warning out by this text.
inline constexpr std::string_view kOnlyProbandsObserved =
    ": every observed member is a proband (status code 0 or 1) and the family "
    "is corrected for ascertainment, so it contributes nothing (its term is "
    "0).";

// The start of the warning about a skewed trait, which advises
// segmix-fit --transform boxcox: a run that transforms leaves it out.
inline constexpr std::string_view kSkewedTrait = "the trait's skewness is ";

// Adds a warning for families the run leaves out or that add nothing: a
// par.inp family count below iway.dat's, families listed but not stored,
// selection flags that leave no family, selected families with no observed
// member, with no proband (proband switch nonzero), or whose observed members
// are all probands in a corrected family.
void ReviewFamilies(const ControlSettings& settings, const FamilyStore& store,
                    CheckReport& report);

// Adds a warning for a trait value of exactly -998 and for a value such as
// -9, -99 or 0 repeated as if it were a missing-value code; then an
// information line with the count, mean, standard deviation, skewness (the
// moment coefficient g1 = m3 / m2^(3/2), central moments with divisor n) and
// excess kurtosis of the observed trait values (y > -998) of the analysed
// families, and a warning when SkewnessWarrantsWarning. Below 3 values, an
// information line saying there is no skewness.
void ReviewTrait(const ControlSettings& settings, const FamilyStore& store,
                 CheckReport& report);

// Whether a sample skewness g1 over `count` values is worth a warning:
// |g1| > 0.2 and, unless |g1| > 1, above twice g1's standard error in a
// normal sample of that size, sqrt(6 (n - 2) / ((n + 1) (n + 3))).
bool SkewnessWarrantsWarning(double skewness, std::size_t count);

// Adds an information line when, over the families corrected for
// ascertainment (proband switch nonzero or a member of status code 0), the
// smallest observed proband value (status code 0 or 1) lies above the median
// of the observed non-proband values (status code 2): the mark of probands
// selected through a threshold. Nothing without a proband or a non-proband
// value.
void ReviewProbandTraits(const ControlSettings& settings,
                         const FamilyStore& store, CheckReport& report);

}  // namespace segmix

#endif  // SEGMIX_CHECK_DATA_REVIEW_H_
