// The worker pool's size: the processors the process may use, from its
// affinity mask and its control groups' CPU quotas, and the pool's sharing of
// a batch.
#include "model/worker_pool.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <vector>

namespace segmix {
namespace {

TEST(UsableProcessors, FollowTheAffinityMask) {
  cpu_set_t saved;
  ASSERT_EQ(sched_getaffinity(0, sizeof saved, &saved), 0);
  const int allowed = CPU_COUNT(&saved);
  EXPECT_GE(UsableProcessors(), 1);
  EXPECT_LE(UsableProcessors(), allowed);
  // One CPU of the mask: one processor, whatever the machine has.
  int first = 0;
  while (!CPU_ISSET(first, &saved)) ++first;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  const std::int32_t restricted = UsableProcessors();
  const std::int32_t workers = WorkerPool::MachineWorkers();
  ASSERT_EQ(sched_setaffinity(0, sizeof saved, &saved), 0);
  EXPECT_EQ(restricted, 1);
  EXPECT_EQ(workers, 1);
}

TEST(UsableProcessors, QuotasRoundUpToWholeProcessors) {
  const struct {
    long long quota, period;
    std::int32_t processors;
  } cases[] = {
      {-1, 100000, 0},     // v1: no quota
      {0, 100000, 0},      // nothing usable counts as no quota
      {100000, 0, 0},      // no period
      {50000, 100000, 1},  // half a processor still runs one thread
      {100000, 100000, 1}, {150000, 100000, 2},
      {400000, 100000, 4}, {400001, 100000, 5},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QuotaProcessors(c.quota, c.period), c.processors)
        << c.quota << "/" << c.period;
  }
  const struct {
    const char* text;
    std::int32_t processors;
  } texts[] = {
      {"max 100000\n", 0},  {"150000 100000\n", 2},
      {"200000 100000", 2}, {"", 0},
      {"12 x\n", 0},        {"max", 0},
  };
  for (const auto& t : texts) {
    EXPECT_EQ(CpuMaxProcessors(t.text), t.processors) << t.text;
  }
}

TEST(WorkerPool, RunsEveryTaskOnceWhateverTheWorkerCount) {
  for (const std::int32_t workers : {1, 2, 3}) {
    WorkerPool pool(workers);
    std::vector<std::atomic<int>> runs(50);
    pool.Run(
        50,
        [](void* context, std::int32_t index, std::int32_t) {
          auto& counts = *static_cast<std::vector<std::atomic<int>>*>(context);
          ++counts[static_cast<std::size_t>(index)];
        },
        &runs);
    for (const auto& r : runs) EXPECT_EQ(r.load(), 1) << workers;
  }
}

}  // namespace
}  // namespace segmix
