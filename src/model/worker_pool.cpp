// The worker pool: threads wait for a batch, take task indices from a shared
// counter until none are left, and report back. And the count of processors
// the process may use, from the kernel's affinity mask and the control
// groups' CPU quotas (Linux; elsewhere the hardware threads).
#include "model/worker_pool.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <sstream>
#include <string>

namespace segmix {
namespace {

std::int32_t HardwareThreads() {
  const unsigned count = std::thread::hardware_concurrency();
  return count == 0 ? 1 : static_cast<std::int32_t>(count);
}

// The CPUs of the affinity mask; 0 when it cannot be read. The mask may be
// wider than a cpu_set_t on machines of more than 1024 CPUs: the set grows
// until the kernel takes it.
std::int32_t AffinityProcessors() {
#if defined(__linux__)
  for (int cpus = CPU_SETSIZE; cpus <= (1 << 16); cpus *= 2) {
    cpu_set_t* set = CPU_ALLOC(cpus);
    if (set == nullptr) return 0;
    const std::size_t size = CPU_ALLOC_SIZE(cpus);
    CPU_ZERO_S(size, set);
    const int status = sched_getaffinity(0, size, set);
    const int count = status == 0 ? CPU_COUNT_S(size, set) : 0;
    CPU_FREE(set);
    if (status == 0) return count;
    if (errno != EINVAL) return 0;
  }
#endif
  return 0;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool ParseInteger(std::string_view text, long long& value) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
    text.remove_suffix(1);
  }
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() &&
         !text.empty();
}

std::vector<std::string> Words(const std::string& line, char separator) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string word; std::getline(in, word, separator);) {
    words.push_back(word);
  }
  return words;
}

bool HasItem(const std::string& list, const std::string& item) {
  const std::vector<std::string> items = Words(list, ',');
  return std::find(items.begin(), items.end(), item) != items.end();
}

// One cgroup hierarchy that can limit the CPU: where it is mounted, the part
// of the hierarchy mounted there, and the process's group in it.
struct CpuHierarchy {
  bool version2 = false;
  std::string mount_point, mount_root, group;
};

std::vector<CpuHierarchy> CpuHierarchies() {
  std::vector<CpuHierarchy> found;
  std::istringstream mounts(FileText("/proc/self/mountinfo"));
  const std::string groups = FileText("/proc/self/cgroup");
  for (std::string line; std::getline(mounts, line);) {
    // ID PARENT MAJOR:MINOR ROOT MOUNT-POINT OPTIONS [FIELDS] - TYPE SOURCE
    // SUPER-OPTIONS
    const auto dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    std::istringstream head(line.substr(0, dash)), tail(line.substr(dash + 3));
    std::string id, parent, device, root, point, type, source, options;
    if (!(head >> id >> parent >> device >> root >> point)) continue;
    if (!(tail >> type >> source >> options)) continue;
    CpuHierarchy h;
    h.version2 = type == "cgroup2";
    if (!h.version2 && !(type == "cgroup" && HasItem(options, "cpu"))) {
      continue;
    }
    h.mount_point = point;
    h.mount_root = root;
    // hierarchy-ID:controllers:path; version 2 has ID 0 and no controllers.
    std::istringstream lines(groups);
    for (std::string entry; std::getline(lines, entry);) {
      const auto first = entry.find(':');
      const auto second = entry.find(':', first + 1);
      if (first == std::string::npos || second == std::string::npos) continue;
      const std::string controllers =
          entry.substr(first + 1, second - first - 1);
      if (h.version2 ? controllers.empty() : HasItem(controllers, "cpu")) {
        h.group = entry.substr(second + 1);
        break;
      }
    }
    found.push_back(h);
  }
  return found;
}

// The least quota from the process's group up to the mount point; 0 for
// none.
std::int32_t HierarchyQuota(const CpuHierarchy& h) {
  std::string relative;
  if (h.mount_root == "/" || h.group.rfind(h.mount_root, 0) == 0) {
    relative =
        h.mount_root == "/" ? h.group : h.group.substr(h.mount_root.size());
  }
  std::int32_t least = 0;
  for (;;) {
    const std::string dir = h.mount_point + relative;
    std::int32_t quota = 0;
    if (h.version2) {
      quota = CpuMaxProcessors(FileText(dir + "/cpu.max"));
    } else {
      long long q = 0, period = 0;
      if (ParseInteger(FileText(dir + "/cpu.cfs_quota_us"), q) &&
          ParseInteger(FileText(dir + "/cpu.cfs_period_us"), period)) {
        quota = QuotaProcessors(q, period);
      }
    }
    if (quota > 0) least = least == 0 ? quota : std::min(least, quota);
    const auto slash = relative.find_last_of('/');
    if (relative.empty() || slash == std::string::npos) break;
    relative.resize(slash);
  }
  return least;
}

}  // namespace

std::int32_t QuotaProcessors(long long quota, long long period) {
  if (quota <= 0 || period <= 0) return 0;
  const long long whole = quota / period + (quota % period != 0 ? 1 : 0);
  return static_cast<std::int32_t>(std::clamp<long long>(whole, 1, 1 << 20));
}

std::int32_t CpuMaxProcessors(std::string_view cpu_max) {
  const std::string text(cpu_max);
  std::istringstream in(text);
  std::string quota, period;
  if (!(in >> quota >> period) || quota == "max") return 0;
  long long q = 0, p = 0;
  if (!ParseInteger(quota, q) || !ParseInteger(period, p)) return 0;
  return QuotaProcessors(q, p);
}

std::int32_t UsableProcessors() {
  std::int32_t count = AffinityProcessors();
  if (count <= 0) count = HardwareThreads();
#if defined(__linux__)
  for (const CpuHierarchy& h : CpuHierarchies()) {
    const std::int32_t quota = HierarchyQuota(h);
    if (quota > 0) count = std::min(count, quota);
  }
#endif
  return std::max<std::int32_t>(count, 1);
}

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

std::int32_t WorkerPool::MachineWorkers() { return UsableProcessors(); }

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
