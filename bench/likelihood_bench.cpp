// Time of one SampleLogLikelihood evaluation, the maximizer's unit of work,
// on a synthetic sample: 300 families of three shapes (nuclear families of
// 2 to 5 children, three-generation pedigrees peeled through a child, and
// half-sib families with a relative outside every nuclear family), all
// corrected for ascertainment, with the polygenic component in the model,
// on one thread and on the machine's hardware threads. And the major-genotype
// posteriors of every member of one large pedigree (MajorGenotypePosteriors).
//
//   segmix_likelihood_bench --benchmark_filter=SampleLogLikelihood
//   segmix_likelihood_bench --benchmark_filter=GenotypePosteriors
//   segmix_likelihood_bench --benchmark_filter=GeneralTransmission
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "data/family_store.h"
#include "data/validate_family_structure.h"
#include "model/genotype_posteriors.h"
#include "model/parameter_table.h"
#include "model/polygenic.h"
#include "model/sample_likelihood.h"

namespace segmix {
namespace {

struct Nuclear {
  std::vector<std::int32_t> entries;
  std::int32_t connector;
};

// Appends family after family in the layout the data reader produces.
class SampleBuilder {
 public:
  explicit SampleBuilder(std::uint64_t seed) : rng_(seed) {
    s_.member_offset.push_back(0);
    s_.nuclear_offset.push_back(0);
    s_.list_offset.push_back(0);
    s_.member_list.push_back(0);
    s_.connector.push_back(0);
    s_.sex.push_back(0);
    s_.status.push_back(0);
    s_.trait.push_back(0);
  }

  void Add(std::int32_t size, const std::vector<Nuclear>& lists) {
    s_.member_offset.push_back(members_);
    s_.nuclear_offset.push_back(nuclear_);
    for (const Nuclear& w : lists) {
      s_.list_offset.push_back(listed_);
      s_.member_list.insert(s_.member_list.end(), w.entries.begin(),
                            w.entries.end());
      listed_ += static_cast<std::int32_t>(w.entries.size());
      s_.connector.push_back(w.connector);
      ++nuclear_;
    }
    std::normal_distribution<float> trait(14.0f, 2.0f);
    for (std::int32_t k = 1; k <= size; ++k) {
      s_.trait.push_back(Draw(5) == 0 ? -999.0f : trait(rng_));
      s_.status.push_back(k == size ? 1 : 2);
      s_.sex.push_back(1 + Draw(2));
    }
    members_ += size;
  }

  FamilyStore Finish() {
    const auto n = static_cast<std::int32_t>(s_.member_offset.size()) - 1;
    s_.listed_family_count = n;
    s_.member_offset.push_back(members_);
    s_.nuclear_offset.push_back(nuclear_);
    s_.member_offset[0] = n;
    s_.list_offset.push_back(listed_);
    s_.list_offset_count = nuclear_ + 2;
    s_.member_list_length = listed_;
    s_.member_count = members_;
    for (auto& column : s_.covariate) column.assign(members_ + 1, 0.0f);
    s_.family_weight.assign(N_FAM + 1, 0.0);
    for (std::int32_t g = 1; g <= n; ++g) {
      int observed = 0;
      for (std::int32_t k = 1; k <= s_.FamilySize(g); ++k) {
        observed += s_.trait[s_.MemberOffset(g) + k] >= -998.0f;
      }
      if (observed > 0) s_.family_weight[g] = 1.0 / observed;
    }
    ValidateFamilyStructure(s_);
    return s_;
  }

  int Draw(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

 private:
  std::mt19937_64 rng_;
  FamilyStore s_;
  std::int32_t members_ = 0, nuclear_ = 0, listed_ = 0;
};

FamilyStore SyntheticSample(int families) {
  SampleBuilder b(12345);
  for (int g = 0; g < families; ++g) {
    switch (g % 3) {
      case 0: {  // parents 1, 2 and 2..5 children
        const int children = 2 + b.Draw(4);
        Nuclear w{{1, 2}, 0};
        for (int c = 0; c < children; ++c) w.entries.push_back(3 + c);
        b.Add(2 + children, {w});
        break;
      }
      case 1:  // grandparents 1, 2 with children 3, 4; 3 and 5 with 6, 7
        b.Add(7, {Nuclear{{1, 2, 3, 4}, 3}, Nuclear{{3, 5, 6, 7}, 0}});
        break;
      default:  // 1 with 2 (children 3, 4) and with 5 (child 6); 7 outside
        b.Add(7, {Nuclear{{1, 2, 3, 4}, 1}, Nuclear{{1, 5, 6}, 0}});
        break;
    }
  }
  return b.Finish();
}

// One pedigree of at least `members` members: a founder couple, and every
// descendant in turn marries a founder spouse (one in five twice) and has 1
// to 4 children, generation after generation. Peeled from the youngest
// nuclear families up, each onto its descendant parent, and closed at the
// founders.
FamilyStore LargePedigree(int members) {
  SampleBuilder b(777);
  std::vector<Nuclear> lists;  // in the order they are made
  std::int32_t next = 3;
  std::vector<std::int32_t> descendants;
  lists.push_back(Nuclear{{1, 2}, 0});
  for (int c = 0; c < 3; ++c) {
    lists.back().entries.push_back(next);
    descendants.push_back(next++);
  }
  for (std::size_t d = 0; d < descendants.size() && next <= members; ++d) {
    const int marriages = b.Draw(5) == 0 ? 2 : 1;
    for (int m = 0; m < marriages && next <= members; ++m) {
      Nuclear w{{descendants[d], next++}, descendants[d]};
      const int children = 1 + b.Draw(4);
      for (int c = 0; c < children; ++c) {
        w.entries.push_back(next);
        descendants.push_back(next++);
      }
      lists.push_back(w);
    }
  }
  b.Add(next - 1, std::vector<Nuclear>(lists.rbegin(), lists.rend()));
  return b.Finish();
}

ParameterTable BenchParameters() {
  ParameterTable p;
  const double values[] = {0, 0.2, 16, 14, 12, 0.4, 3.0, 0.5,
                           1, 0.5, 0,  0,  0,  0,   0,   0};
  for (int j = 1; j <= kParameterCount; ++j) {
    p.tie[j] = j;
    p.in_model[j] = 1;
    p.value[j] = values[j];
    p.GL[j] = -1e3;
    p.GR[j] = 1e3;
  }
  p.in_model[kTr1] = 0;
  return p;
}

void BM_SampleLogLikelihood(benchmark::State& state) {
  const FamilyStore store = SyntheticSample(static_cast<int>(state.range(0)));
  PolygenicTables polygenic;
  BuildPolygenicTransmission(polygenic);
  FillPolygenicFrequency(polygenic);
  ParameterTable p = BenchParameters();
  std::vector<std::int32_t> flags(N_FAM + 1, 1);
  SampleLikelihood sample(
      p, store, polygenic,
      SampleSettings{
          .proband_switch = 1,
          .selection_flags = flags,
          .worker_count = static_cast<std::int32_t>(state.range(1))});
  for (auto _ : state) {
    benchmark::DoNotOptimize(sample.Evaluate(Gate::kAccepted).ln_lh);
  }
  state.counters["families"] = static_cast<double>(state.range(0));
  state.counters["members"] = store.member_count;
  state.counters["workers"] = static_cast<double>(state.range(1));
}
// Arguments: families, worker threads (0: the machine's). Wall-clock time,
// since the work is spread over threads. One family shows the cost of an
// evaluation that does not grow with the sample (the parameter gate, the
// transmission tables and what is formed from them once per evaluation, up
// to the sample's largest nuclear family).
BENCHMARK(BM_SampleLogLikelihood)
    ->Args({1, 1})
    ->Args({300, 1})
    ->Args({300, 0})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// One evaluation on one thread: argument 0 is Mendelian (0) or general
// transmission (1: Tr1..Tr3 0.9, 0.5, 0.1), argument 1 the exact arithmetic
// of segmix's runs (0) or a screening evaluation's double arithmetic (1,
// SampleSettings::screening).
void BM_Arithmetic(benchmark::State& state) {
  const FamilyStore store = SyntheticSample(300);
  const PolygenicTables polygenic = BuildPolygenicTables();
  ParameterTable p = BenchParameters();
  if (state.range(0) != 0) {
    p.in_model[kTr1] = 1;
    p.value[kTr1] = 0.9;
    p.value[kTr2] = 0.5;
    p.value[kTr3] = 0.1;
  }
  std::vector<std::int32_t> flags(N_FAM + 1, 1);
  SampleLikelihood sample(p, store, polygenic,
                          SampleSettings{.proband_switch = 1,
                                         .selection_flags = flags,
                                         .worker_count = 1,
                                         .screening = state.range(1) != 0});
  for (auto _ : state) {
    benchmark::DoNotOptimize(sample.Evaluate(Gate::kAccepted).ln_lh);
  }
  state.counters["general"] = static_cast<double>(state.range(0));
  state.counters["screening"] = static_cast<double>(state.range(1));
}
BENCHMARK(BM_Arithmetic)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// Arguments: the pedigree's least size. One Compute: prepare the weights,
// peel up, pass down (the model quantities come from one evaluation).
void BM_GenotypePosteriors(benchmark::State& state) {
  const FamilyStore store = LargePedigree(static_cast<int>(state.range(0)));
  const PolygenicTables polygenic = BuildPolygenicTables();
  ParameterTable p = BenchParameters();
  std::vector<std::int32_t> flags(N_FAM + 1, 1);
  SampleLikelihood sample(
      p, store, polygenic,
      SampleSettings{
          .proband_switch = 1, .selection_flags = flags, .worker_count = 1});
  if (!std::isfinite(sample.Evaluate(Gate::kAccepted).ln_lh)) {
    state.SkipWithError("the sample cannot be evaluated");
    return;
  }
  const LikelihoodModel model{store, sample.Quantities(), polygenic,
                              0,     p.in_model[kSex],    0};
  MajorGenotypePosteriors posteriors(store);
  std::vector<std::array<double, 3>> rows;
  for (auto _ : state) {
    if (!posteriors.Compute(model, 1, rows)) {
      state.SkipWithError("the family cannot be evaluated");
      return;
    }
    benchmark::DoNotOptimize(rows.data());
  }
  state.counters["members"] = store.FamilySize(1);
  state.counters["nuclear"] = store.LastNuclear(1) - store.FirstNuclear(1) + 1;
}
BENCHMARK(BM_GenotypePosteriors)
    ->Arg(10)
    ->Arg(500)
    ->Arg(5000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace segmix
