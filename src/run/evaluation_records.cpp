// The evaluation records and the par.err messages of a refused point. The
// bound, variance, frequency and mean-order messages keep their historical
// layouts; the newer messages follow the bound message's first two lines and
// say on the third what is wrong and what to correct.
#include "run/evaluation_records.h"

#include <string>
#include <string_view>

#include "textio/statements.h"

namespace segmix {
namespace {

constexpr std::string_view kBoundLayout =
    "(' ERROR OF INITIAL PARAMETER VALUE:',/,8x,a3,'=',E11.4,/,2x,' GL=',"
    "E11.4,' GR=',E11.4)";
// A residual variance at or below 0 has no density. Only the name and value
// are transferred, so the rest of the layout is carried out after them.
constexpr std::string_view kVarianceLayout =
    "(' ERROR OF INITIAL PARAMETER VALUE:',/,8x,a3,'=',E11.4,/,2x,"
    "' SIG is a variance and must be greater than 0: correct the SIG record "
    "in par.inp')";
constexpr std::string_view kFrequencyLayout = "(' ERROR: P1=',E11.4)";
constexpr std::string_view kMeanOrderText =
    " ERROR OF INITIAL PARAMETER VALUE:";
// Name, value, then the third line as a character item.
constexpr std::string_view kExplainedLayout =
    "(' ERROR OF INITIAL PARAMETER VALUE:',/,8x,a3,'=',E11.4,/,2x,a)";
constexpr std::string_view kStepLayout =
    "(' ERROR OF INITIAL PARAMETER VALUE:',/,8x,a3,'=',E11.4,/,2x,' STEP=',"
    "E11.4,a)";
constexpr std::string_view kNotANumberLayout =
    "(' ERROR: ln LH is not a number at these parameter values: check the "
    "values, bounds and ties in par.inp')";

}  // namespace

void WriteParameterRejection(TextUnits& units,
                             const ParameterRejection& rejection) {
  const std::int32_t row = rejection.row;
  const bool named = row >= 1 && row <= kParameterCount;
  switch (rejection.kind) {
    case RejectionKind::kMeanOrder: {
      {
        WriteStatement w(units, kConsole);
        w << kMeanOrderText;
        w.End();
      }
      WriteStatement w(units, kConsole);
      w << rejection.value << ">" << rejection.upper;
      w.End();
      return;
    }
    case RejectionKind::kFrequency: {
      WriteStatement w(units, kErrorUnit, kFrequencyLayout);
      w << rejection.value;
      w.End();
      return;
    }
    case RejectionKind::kNotANumber: {
      WriteStatement w(units, kErrorUnit, kNotANumberLayout);
      w.End();
      return;
    }
    default:
      break;
  }
  if (!named) return;  // every other kind names its row
  const std::string_view name = kParameterNames[row];
  switch (rejection.kind) {
    case RejectionKind::kBound: {
      WriteStatement w(units, kErrorUnit, kBoundLayout);
      w << name << rejection.value << rejection.lower << rejection.upper;
      w.End();
      return;
    }
    case RejectionKind::kVariance: {
      WriteStatement w(units, kErrorUnit, kVarianceLayout);
      w << name << rejection.value;
      w.End();
      return;
    }
    case RejectionKind::kNotProbability: {
      // Built by appending: GCC 12 misreads a chain of + as an overlapping
      // copy.
      std::string text(" ");
      text.append(ShortParameterName(row));
      text.append(row == kQ ? " is an allele frequency"
                            : " is a transmission probability");
      text.append(" and must lie in 0..1: correct the ");
      text.append(ShortParameterName(row));
      text.append(" record in par.inp (its value, or the row it is tied to)");
      WriteStatement w(units, kErrorUnit, kExplainedLayout);
      w << name << rejection.value << text;
      w.End();
      return;
    }
    case RejectionKind::kStepLost: {
      std::string text(
          " is so large that the search loses the value it steps from: give "
          "the ");
      text.append(ShortParameterName(row));
      text.append(" record a smaller step in par.inp");
      WriteStatement w(units, kErrorUnit, kStepLayout);
      w << name << rejection.value << rejection.step << text;
      w.End();
      return;
    }
    default:
      return;
  }
}

void RunRecords::Rejected(const ParameterRejection& rejection) {
  const bool on_console = rejection.kind == RejectionKind::kMeanOrder;
  if (on_console ? console_records_ : units_.IsOpen(kErrorUnit)) {
    WriteParameterRejection(units_, rejection);
  }
}

void RunRecords::FamilyTerm(std::int32_t g, std::int32_t size,
                            double weighted_term) {
  if (!family_records_) return;
  WriteStatement record(units_, kFamilyUnit);
  record << g << size << weighted_term;
  record.End();
}

void RunRecords::Evaluated(double ln_lh, const ParameterTable& table) {
  if (!console_records_) return;
  WriteStatement line(units_, kConsole, "(f15.4,9f8.5)");
  line << ln_lh << table.value[kQ] << table.value[kMU] << table.value[kA]
       << table.value[kD] << table.value[kSIG];
  line.End();
}

}  // namespace segmix
