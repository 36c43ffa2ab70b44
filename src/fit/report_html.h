// report.html: the analysis as one page with figures, beside fit.json and made
// from the same values (the page embeds fit.json's document whole and draws
// from it). One self-contained file: Vega is inlined, every figure's data is
// in the page, and its content-security policy forbids the browser to load
// anything, so the page opens offline and names nothing it would fetch.
//
// Figures (each can be saved as SVG or PNG from the page): the observed trait
// with the best model's fitted density and genotype components; every profile
// curve with its 1.92 drop and interval; the information criteria of the
// models; the tests' p-values; each family's ln LH against its size with the
// ten most extreme families named; the posterior probability of genotype 1
// over persons. The warnings of the input check and of the run come first;
// the model and test tables are also plain HTML tables.
#ifndef SEGMIX_FIT_REPORT_HTML_H_
#define SEGMIX_FIT_REPORT_HTML_H_

#include <string>

#include "fit/fit_report.h"

namespace segmix::fit {

// The page. Only formats: every value comes from `report` (its analysis holds
// the trait values and covariates the trait figure bins, its ids the family
// ids the family figure names).
std::string ReportHtml(const FitReport& report);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_REPORT_HTML_H_
