#include "realtime_threads.h"

#include <dbus/dbus.h>
#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace {
constexpr const char* kRealtimeKitService = "org.freedesktop.RealtimeKit1";
constexpr const char* kRealtimeKitPath = "/org/freedesktop/RealtimeKit1";
constexpr const char* kSystemBusDefaultAddress = "unix:path=/var/run/dbus/system_bus_socket";

// A private connection to the system bus for one round of requests, closed when it goes. Every
// call waits at most its timeout; after a reply that did not come, a lost connection or a bus
// without rtkit, the connection counts as gone and no further call is made.
class SystemBus {
 public:
  explicit SystemBus(int timeoutMs) : timeoutMs_(timeoutMs) {
    dbus_error_init(&error_);
    const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (address == nullptr || *address == '\0') address = kSystemBusDefaultAddress;
    connection_ = dbus_connection_open_private(address, &error_);
    dbus_error_free(&error_);
    if (connection_ == nullptr) return;
    dbus_connection_set_exit_on_disconnect(connection_, FALSE);
    // The library's calls wait without a limit while the connection authenticates: a bus that
    // takes the connection and never answers would hold the caller for ever. The handshake is
    // driven here instead, for at most the timeout.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
    while (!dbus_connection_get_is_authenticated(connection_)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 ||
          !dbus_connection_read_write(connection_, static_cast<int>(left.count()))) {
        gone_ = true;
        return;
      }
    }
    // Registering on the bus (what dbus_bus_register does, but with the short timeout: the
    // library's own waits up to 25 s).
    DBusMessage* reply = Call(dbus_message_new_method_call(
        DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "Hello"));
    if (reply == nullptr) return;
    const char* name = nullptr;
    if (dbus_message_get_args(reply, &error_, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)) {
      registered_ = dbus_bus_set_unique_name(connection_, name);
    }
    dbus_error_free(&error_);
    dbus_message_unref(reply);
  }
  ~SystemBus() {
    if (connection_ != nullptr) {
      dbus_connection_close(connection_);
      dbus_connection_unref(connection_);
    }
    dbus_error_free(&error_);
  }
  SystemBus(const SystemBus&) = delete;
  SystemBus& operator=(const SystemBus&) = delete;

  // True while calls can still be made.
  bool Usable() const { return registered_ && !gone_; }

  // Sends `call` (taken over; null: out of memory) and returns its reply, which the caller
  // unrefs, or null for an error reply or none.
  DBusMessage* Call(DBusMessage* call) {
    if (call == nullptr) return nullptr;
    if (gone_) {
      dbus_message_unref(call);
      return nullptr;
    }
    DBusMessage* reply =
        dbus_connection_send_with_reply_and_block(connection_, call, timeoutMs_, &error_);
    dbus_message_unref(call);
    if (reply == nullptr) {
      gone_ = dbus_error_has_name(&error_, DBUS_ERROR_NO_REPLY) ||
              dbus_error_has_name(&error_, DBUS_ERROR_TIMEOUT) ||
              dbus_error_has_name(&error_, DBUS_ERROR_DISCONNECTED) ||
              dbus_error_has_name(&error_, DBUS_ERROR_SERVICE_UNKNOWN) ||
              dbus_error_has_name(&error_, DBUS_ERROR_NAME_HAS_NO_OWNER) ||
              !dbus_connection_get_is_connected(connection_);
      dbus_error_free(&error_);
    }
    return reply;
  }

  // Reads an integer property of rtkit into `value`; false when it has none.
  bool IntegerProperty(const char* property, long long* value) {
    DBusMessage* call = dbus_message_new_method_call(kRealtimeKitService, kRealtimeKitPath,
                                                     DBUS_INTERFACE_PROPERTIES, "Get");
    if (call == nullptr) return false;
    const char* interface = kRealtimeKitService;
    if (!dbus_message_append_args(call, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING,
                                  &property, DBUS_TYPE_INVALID)) {
      dbus_message_unref(call);
      return false;
    }
    DBusMessage* reply = Call(call);
    if (reply == nullptr) return false;
    bool read = false;
    DBusMessageIter outer;
    DBusMessageIter variant;
    if (dbus_message_iter_init(reply, &outer) &&
        dbus_message_iter_get_arg_type(&outer) == DBUS_TYPE_VARIANT) {
      dbus_message_iter_recurse(&outer, &variant);
      if (dbus_message_iter_get_arg_type(&variant) == DBUS_TYPE_INT32) {
        dbus_int32_t number = 0;
        dbus_message_iter_get_basic(&variant, &number);
        *value = number;
        read = true;
      } else if (dbus_message_iter_get_arg_type(&variant) == DBUS_TYPE_INT64) {
        dbus_int64_t number = 0;
        dbus_message_iter_get_basic(&variant, &number);
        *value = number;
        read = true;
      }
    }
    dbus_message_unref(reply);
    return read;
  }

  // Asks rtkit to run thread `tid` of this process SCHED_RR at `priority`; true when granted.
  bool MakeThreadRealtime(pid_t tid, int priority) {
    DBusMessage* call = dbus_message_new_method_call(kRealtimeKitService, kRealtimeKitPath,
                                                     kRealtimeKitService, "MakeThreadRealtime");
    if (call == nullptr) return false;
    const dbus_uint64_t thread = static_cast<dbus_uint64_t>(tid);
    const dbus_uint32_t level = static_cast<dbus_uint32_t>(priority);
    if (!dbus_message_append_args(call, DBUS_TYPE_UINT64, &thread, DBUS_TYPE_UINT32, &level,
                                  DBUS_TYPE_INVALID)) {
      dbus_message_unref(call);
      return false;
    }
    DBusMessage* reply = Call(call);
    if (reply == nullptr) return false;
    dbus_message_unref(reply);
    return true;
  }

 private:
  const int timeoutMs_;
  DBusError error_;
  DBusConnection* connection_ = nullptr;
  bool registered_ = false;
  bool gone_ = false;
};

// A round of requests to rtkit on a thread of its own, waited for at most waitMs: whatever the
// bus does (even a connect that blocks on a bus that no longer accepts), the caller goes on.
// A round that has not ended by then still completes (a late grant is as good), but no other
// starts while it hangs. Returns, per thread, whether it was granted within the wait.
std::vector<bool> AskRealtimeKitWithin(const std::vector<pid_t>& tids, int priority,
                                       int waitMs) {
  static std::atomic<bool> roundRunning{false};
  struct Round {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::vector<bool> granted;
  };
  std::vector<bool> granted(tids.size(), false);
  if (roundRunning.exchange(true)) return granted;
  auto round = std::make_shared<Round>();
  try {
    std::thread([round, tids, priority] {
      std::vector<bool> answer;
      try {
        answer = RealtimeThreads::AskRealtimeKit(tids, priority);
      } catch (const std::exception&) {  // out of memory: nothing granted
        answer.assign(tids.size(), false);
      }
      {
        std::lock_guard<std::mutex> lock(round->mutex);
        round->granted.swap(answer);
        round->done = true;
      }
      roundRunning.store(false);
      round->ended.notify_all();
    }).detach();
  } catch (const std::system_error&) {  // no thread to be had: no round
    roundRunning.store(false);
    return granted;
  }
  std::unique_lock<std::mutex> lock(round->mutex);
  if (round->ended.wait_for(lock, std::chrono::milliseconds(waitMs),
                            [&] { return round->done; })) {
    granted = round->granted;
  }
  return granted;
}
}  // namespace

void RealtimeThreads::PublishAudioThread(uint32_t streamGeneration) {
  // Only this thread stores, so its own last store is what the relaxed load sees.
  if (static_cast<uint32_t>(audioThread_.load(std::memory_order_relaxed) >> 32) ==
      streamGeneration) {
    return;
  }
  const uint32_t tid = static_cast<uint32_t>(gettid());
  audioThread_.store((static_cast<uint64_t>(streamGeneration) << 32) | tid,
                     std::memory_order_release);
}

void RealtimeThreads::Poll(uint32_t streamGeneration) {
  if (streamGeneration == handledGeneration_) return;
  const uint64_t published = audioThread_.load(std::memory_order_acquire);
  if (static_cast<uint32_t>(published >> 32) != streamGeneration) return;
  handledGeneration_ = streamGeneration;

  std::vector<pid_t> threads{static_cast<pid_t>(published & 0xffffffffu)};
  for (pid_t tid : ThreadsNamed(kPulseIoThreadName)) {
    if (tid != threads.front()) threads.push_back(tid);
  }
  lastOutcomes_.clear();
  std::vector<pid_t> refused;
  for (pid_t tid : threads) {
    lastOutcomes_.push_back(RaiseDirectly(tid, priority_));
    if (lastOutcomes_.back() == Outcome::kRefused) refused.push_back(tid);
  }
  if (refused.empty()) return;
  const std::vector<bool> granted = AskRealtimeKitWithin(refused, priority_, kRoundWaitMs);
  size_t next = 0;
  for (Outcome& outcome : lastOutcomes_) {
    if (outcome != Outcome::kRefused) continue;
    if (granted[next++]) outcome = Outcome::kRealtimeKit;
  }
}

RealtimeThreads::Outcome RealtimeThreads::RaiseDirectly(pid_t tid, int priority) {
  const int policy = sched_getscheduler(tid);
  sched_param param{};
  if (policy < 0 || sched_getparam(tid, &param) != 0) return Outcome::kRefused;
  const int plain = policy & ~SCHED_RESET_ON_FORK;
  if ((plain == SCHED_RR || plain == SCHED_FIFO) && param.sched_priority >= priority) {
    return Outcome::kAlready;
  }
  sched_param realtime{};
  realtime.sched_priority = priority;
  return sched_setscheduler(tid, SCHED_RR, &realtime) == 0 ? Outcome::kDirect
                                                            : Outcome::kRefused;
}

std::vector<bool> RealtimeThreads::AskRealtimeKit(const std::vector<pid_t>& tids, int priority,
                                                  int timeoutMs) {
  std::vector<bool> granted(tids.size(), false);
  if (tids.empty()) return granted;
  SystemBus bus(timeoutMs);
  if (!bus.Usable()) return granted;
  // An older rtkit without these properties applies its defaults, which these match.
  long long maxPriority = priority;
  bus.IntegerProperty("MaxRealtimePriority", &maxPriority);
  long long maxCpuUsec = kRealtimeCpuLimitUsec;
  bus.IntegerProperty("RTTimeUSecMax", &maxCpuUsec);
  const int level = static_cast<int>(std::min<long long>(priority, maxPriority));
  const long long cpuLimit =
      maxCpuUsec > 0 ? std::min(maxCpuUsec, kRealtimeCpuLimitUsec) : kRealtimeCpuLimitUsec;
  if (level < 1 || !bus.Usable() || !LimitRealtimeCpu(cpuLimit)) return granted;
  for (size_t i = 0; i < tids.size() && bus.Usable(); ++i) {
    granted[i] = bus.MakeThreadRealtime(tids[i], level);
  }
  return granted;
}

std::vector<pid_t> RealtimeThreads::ThreadsNamed(const std::string& name,
                                                 const std::string& taskDir) {
  std::vector<pid_t> found;
  DIR* dir = opendir(taskDir.c_str());
  if (dir == nullptr) return found;
  while (const dirent* entry = readdir(dir)) {
    char* end = nullptr;
    const long tid = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || tid <= 0) continue;
    const std::string path = taskDir + "/" + entry->d_name + "/comm";
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) continue;  // the thread ended meanwhile
    char comm[64] = {};
    const bool read = std::fgets(comm, sizeof comm, file) != nullptr;
    std::fclose(file);
    if (!read) continue;
    comm[std::strcspn(comm, "\n")] = '\0';
    if (name == comm) found.push_back(static_cast<pid_t>(tid));
  }
  closedir(dir);
  std::sort(found.begin(), found.end());
  return found;
}

bool RealtimeThreads::LimitRealtimeCpu(long long maxUsec) {
  if (maxUsec <= 0) return false;
  rlimit current{};
  if (getrlimit(RLIMIT_RTTIME, &current) != 0) return false;
  const rlim_t most = static_cast<rlim_t>(maxUsec);
  rlimit wanted = current;
  if (wanted.rlim_max == RLIM_INFINITY || wanted.rlim_max > most) wanted.rlim_max = most;
  if (wanted.rlim_cur == RLIM_INFINITY || wanted.rlim_cur > wanted.rlim_max) {
    wanted.rlim_cur = wanted.rlim_max;
  }
  if (wanted.rlim_cur == current.rlim_cur && wanted.rlim_max == current.rlim_max) return true;
  return setrlimit(RLIMIT_RTTIME, &wanted) == 0;
}
