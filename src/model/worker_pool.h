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

  // The worker count for this machine: its hardware threads, at least 1.
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

}  // namespace segmix

#endif  // SEGMIX_MODEL_WORKER_POOL_H_
