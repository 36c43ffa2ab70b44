// WorkerPool: a fixed set of threads, started once, that share out a batch of
// independent tasks. The sample likelihood uses it to evaluate families side
// by side; each task writes only its own result slot, and the caller combines
// the slots in a fixed order, so results do not depend on the thread count.
//
// Run() allocates nothing: tasks are handed over as a plain function pointer
// and a context pointer, and the threads exist from construction on.
#ifndef SEGMIX_MODEL_WORKER_POOL_H_
#define SEGMIX_MODEL_WORKER_POOL_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

namespace segmix {

class WorkerPool {
 public:
  // task(context, index, worker): carries out task `index`; `worker` (0 to
  // WorkerCount() - 1) names the calling worker, for per-worker scratch.
  // Must not throw.
  using Task = void (*)(void* context, std::int32_t index, std::int32_t worker);

  // `worker_count` workers in all, the caller of Run() being one of them; a
  // count below 2 starts no thread and Run() does everything itself.
  explicit WorkerPool(std::int32_t worker_count);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  std::int32_t WorkerCount() const {
    return static_cast<std::int32_t>(threads_.size()) + 1;
  }

  // Carries out tasks 0..task_count-1, each exactly once, and returns when all
  // are done.
  void Run(std::int32_t task_count, Task task, void* context);

  // The worker count for this process: UsableProcessors().
  static std::int32_t MachineWorkers();

 private:
  void Drain(std::int32_t worker);
  void ThreadLoop(std::int32_t worker);

  std::mutex mutex_;
  std::condition_variable start_;
  std::condition_variable finished_;
  std::uint64_t batch_ = 0;  // counts batches, so a thread sees each once
  bool stopping_ = false;
  std::int32_t busy_ = 0;  // threads still working on the current batch
  Task task_ = nullptr;
  void* context_ = nullptr;
  std::int32_t task_count_ = 0;
  std::atomic<std::int32_t> next_{0};
  std::vector<std::thread> threads_;
};

// The processors this process may run on, at least 1: the CPUs of its
// affinity mask (sched_getaffinity; the hardware threads when it cannot be
// read), capped by the CPU quota of its control group and of every group
// above it (cgroup v2 cpu.max, or v1 cpu.cfs_quota_us over
// cpu.cfs_period_us), a quota of 1.5 processors counting as 2. Read once per
// call: a process moved to other CPUs sees them at the next pool it sizes.
std::int32_t UsableProcessors();

// A CPU quota as whole processors, rounded up (at least 1); 0 for no quota (a
// negative or zero quota, a period of 0). v1 writes -1 for none.
std::int32_t QuotaProcessors(long long quota, long long period);

// cpu.max's text ("max 100000", "150000 100000") as QuotaProcessors does; 0
// for "max" or text it cannot read.
std::int32_t CpuMaxProcessors(std::string_view cpu_max);

}  // namespace segmix

#endif  // SEGMIX_MODEL_WORKER_POOL_H_
