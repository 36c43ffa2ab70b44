// The models of a segregation analysis as changes of the base parameter table
// (par.inp): the built-in series and user models read from a model file, in
// one small text format. A model line is a name followed by changes:
//
//   X=free    X is estimated (and not tied)
//   X=fixed   X keeps its value and is not estimated
//   X=Y       X is tied to Y (takes Y's value); Y must not be tied itself
//   X=in      component X enters the model, estimated (pga, Sex, Tr1..Tr3,
//             B1..B5 with a covariate)
//   X=out     component X is left out (pga, Sex, B1..B5 become 0; Tr1=out
//             means Mendelian transmission and takes Tr2, Tr3 out too)
//   X=v       X starts at the number v (inside its bounds); a following
//             word "fixed" or "free" sets its estimate flag as well
//
// Changes apply left to right to the base table. A freed row whose step in
// par.inp is 0 gets 1/100 of its bound range as step.
//
// Genotype 1 is the genotype of the higher mean: in a model whose Q is free
// and whose genotype means are not all one, swapping the labels of genotypes
// 1 and 3 (Q for 1 - Q, MU for D) gives the same likelihood, and the search
// would wander between the two labellings (then A=D, "recessive", is A=MU,
// "dominant", with the labels swapped). segmix tests D <= MU during the
// search only under the general transmission model, so such a model with
// Mendelian transmission switches it on with Tr1, Tr2 and Tr3 fixed at 1,
// 1/2 and 0. Those rebuild the Mendelian transmission table exactly, so the
// likelihood is the same bits, and segmix run on the model's par.inp keeps
// the order too.
#ifndef SEGMIX_FIT_MODEL_SERIES_H_
#define SEGMIX_FIT_MODEL_SERIES_H_

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "model/parameter_table.h"

namespace segmix::fit {

// A refused model definition; what() names the place (file and line) and the
// reason.
class ModelError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ModelChange {
  enum class Kind { kFree, kFixed, kTie, kIn, kOut, kValue };
  Kind kind = Kind::kFree;
  int row = 0;
  int target = 0;     // kTie: the row tied to
  double value = 0;   // kValue
  int estimate = -1;  // kValue: -1 unchanged, 0 fixed, 1 free
};

struct ModelDescription {
  std::string name;
  std::string definition;  // the changes as written
  std::vector<ModelChange> changes;
  bool built_in = false;
};

// The built-in series in fitting (nesting) order: sporadic, polygenic, major,
// mixed, mixed-dominant, mixed-recessive, general-tau, equal-tau.
const std::vector<ModelDescription>& BuiltInModels();

// One model line ("name change change ..."). Throws ModelError with the
// reason (no place) for an unknown parameter, an unknown change or a bad
// number.
ModelDescription ParseModelLine(std::string_view line);

// A model file: one model per line; blank lines and lines starting with '#'
// are skipped. Throws ModelError "FILE:LINE: reason" for the first bad line,
// and for a name used twice or taken by a built-in model; cli::InputFileError
// when the file cannot be read.
std::vector<ModelDescription> ReadModelFile(const std::filesystem::path& path);

// The model's table: `base` with the changes applied. Throws ModelError naming
// the model for an impossible change: in/out of a parameter that is not a
// component, a coefficient without a covariate (`covariate_count`), a value
// outside its bounds, a tie to a tied or left-out row, a free row whose bounds
// leave no room.
ParameterTable ApplyModel(const ParameterTable& base,
                          const ModelDescription& model, int covariate_count);

// True when transmission is Mendelian: Tr1 out, or Tr1..Tr3 fixed (untied,
// not estimated) at 1, 1/2 and 0.
bool MendelianTransmission(const ParameterTable& table);

// The row of lambda, the Box-Cox power of a transformed trait
// (fit/transform.h), in segmix-fit's tables: above the 15 rows par.inp holds
// (rows 16..30 are room segmix never reads).
inline constexpr int kLambda = 17;

// Rows 1..15 the search moves (estimated, untied and in the model), then
// kLambda when it is set and estimated.
std::vector<int> FreeRows(const ParameterTable& table);

// True when the model has a major locus: Q is not held at 0 or 1 and the
// genotype means can differ (A or D is not tied to MU or held at MU's value).
// Without one, Q has no effect and the posteriors are the prior.
bool HasMajorLocus(const ParameterTable& table);

// True when every point of `inner` is a point of `outer` (same data): each
// row fixed in `outer` is fixed at the same value in `inner`, each tie of
// `outer` holds in `inner`. Left-out components count as fixed at 0, and
// Mendelian transmission as Tr1, Tr2, Tr3 fixed at 1, 1/2, 0.
bool NestedIn(const ParameterTable& inner, const ParameterTable& outer);

}  // namespace segmix::fit

#endif  // SEGMIX_FIT_MODEL_SERIES_H_
