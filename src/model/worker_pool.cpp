// The worker pool: threads wait for a batch, take task indices from a shared
// counter until none are left, and report back.
#include "model/worker_pool.h"

namespace segmix {

WorkerPool::WorkerPool(std::int32_t worker_count) {
  for (std::int32_t w = 1; w < worker_count; ++w) {
    threads_.emplace_back([this, w] { ThreadLoop(w); });
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  start_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

std::int32_t WorkerPool::MachineWorkers() {
  const unsigned count = std::thread::hardware_concurrency();
  return count == 0 ? 1 : static_cast<std::int32_t>(count);
}

void WorkerPool::Drain(std::int32_t worker) {
  for (;;) {
    const std::int32_t index = next_.fetch_add(1, std::memory_order_relaxed);
    if (index >= task_count_) return;
    task_(context_, index, worker);
  }
}

void WorkerPool::Run(std::int32_t task_count, Task task, void* context) {
  if (threads_.empty() || task_count <= 1) {
    for (std::int32_t index = 0; index < task_count; ++index)
      task(context, index, 0);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    task_ = task;
    context_ = context;
    task_count_ = task_count;
    next_.store(0, std::memory_order_relaxed);
    busy_ = static_cast<std::int32_t>(threads_.size());
    ++batch_;
  }
  start_.notify_all();
  Drain(0);
  // The mutex orders every thread's results before the caller reads them.
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [this] { return busy_ == 0; });
}

void WorkerPool::ThreadLoop(std::int32_t worker) {
  std::uint64_t seen = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      start_.wait(lock, [this, seen] { return stopping_ || batch_ != seen; });
      if (stopping_) return;
      seen = batch_;
    }
    Drain(worker);
    bool last = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      last = --busy_ == 0;
    }
    if (last) finished_.notify_one();
  }
}

}  // namespace segmix
