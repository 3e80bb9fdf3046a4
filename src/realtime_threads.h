#pragma once
// Real-time scheduling for the audio stream's threads, asked for thread by thread once each
// stream plays: the thread that runs the mixer callback, and the PulseAudio client's I/O
// thread ("threaded-ml") that carries every buffer to the sound server. (Under JACK the
// callback runs on the JACK client's own thread, which is then the one granted.)
//
// Each thread is first raised directly (SCHED_RR at the given priority), which root or a user
// with a real-time priority limit may do. Where the system refuses, it asks the desktop's
// RealtimeKit service (rtkit, org.freedesktop.RealtimeKit1 on the system bus), as desktop
// audio programs of an ordinary user do. Where that is absent or refuses too, the threads run
// at normal priority and nothing is said.
//
// rtkit grants a thread only to a process whose RLIMIT_RTTIME is set, at most the service's
// RTTimeUSecMax (200 ms by default); before the first request the process's limit is lowered
// to that (LimitRealtimeCpu). A real-time thread of the process that then runs 200 ms of CPU
// without once blocking is ended by the kernel (SIGKILL). A healthy audio thread blocks at
// every buffer: the callback renders one buffer (at most 8192 frames, 186 ms of sound) in a
// few milliseconds and waits for the next, so only a thread spinning out of control hits it.
// rtkit also starts its threads with SCHED_RESET_ON_FORK: threads they start are not
// real-time, which is why each thread is asked for by its own id.
//
// Threads:
// - PublishAudioThread: the audio thread, from the mixer callback, at every buffer. Never
//   blocks: one atomic load, and once per stream the thread's id (gettid) and an atomic store.
// - Poll: the main thread, once per frame. Does its work once per stream; where the direct way
//   was refused it asks rtkit from a short-lived thread of its own and waits for the answer at
//   most kRoundWaitMs, whatever the bus does.
// - The static helpers: any thread; they touch only what their comments say.

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class RealtimeThreads {
 public:
  // Longest wait for one D-Bus reply (connecting, a property, a request), milliseconds.
  static constexpr int kBusTimeoutMs = 200;
  // Longest the main thread waits for a round of requests to rtkit, milliseconds (the round
  // runs on a thread of its own and may go on after it).
  static constexpr int kRoundWaitMs = 200;
  // Longest RLIMIT_RTTIME the process asks rtkit with: CPU time a real-time thread may run
  // without blocking, microseconds.
  static constexpr long long kRealtimeCpuLimitUsec = 200000;
  // Name the PulseAudio client library gives its I/O thread.
  static constexpr const char* kPulseIoThreadName = "threaded-ml";

  // How a thread came to run real-time, or why it does not.
  enum class Outcome { kAlready, kDirect, kRealtimeKit, kRefused };

  // priority: the SCHED_RR priority asked for (1 to 99).
  explicit RealtimeThreads(int priority) : priority_(priority) {}
  RealtimeThreads(const RealtimeThreads&) = delete;
  RealtimeThreads& operator=(const RealtimeThreads&) = delete;

  // Says that the calling thread runs the callback of stream `streamGeneration` (the game
  // state's count of streams opened). Audio thread, at every buffer.
  void PublishAudioThread(uint32_t streamGeneration);
  // When the callback of stream `streamGeneration` has published its thread and that stream's
  // threads have not been handled yet, makes that thread and every thread named
  // kPulseIoThreadName real-time: each directly where the system allows it, the others
  // through rtkit (AskRealtimeKit, on a thread of its own, waited for at most kRoundWaitMs).
  // Otherwise returns at once. Main thread, each frame.
  void Poll(uint32_t streamGeneration);
  // What Poll decided for the last stream's threads, in the order it handled them (the audio
  // thread first). Main thread.
  const std::vector<Outcome>& LastOutcomes() const { return lastOutcomes_; }

  // Makes thread `tid` of this process run SCHED_RR at `priority` by itself: kAlready when it
  // runs real-time at that priority or higher, kDirect when raised now, kRefused when the
  // system refused (or there is no such thread). Any thread.
  static Outcome RaiseDirectly(pid_t tid, int priority);
  // Asks rtkit on the system bus (DBUS_SYSTEM_BUS_ADDRESS, else the standard socket) to run
  // each thread of `tids` (threads of this process) SCHED_RR at `priority`, lowered to the
  // service's MaxRealtimePriority, after lowering RLIMIT_RTTIME to the service's RTTimeUSecMax
  // (at most kRealtimeCpuLimitUsec). One connection for all; each D-Bus reply is awaited at
  // most timeoutMs, and the first that does not come ends the attempt. Returns, per thread,
  // whether rtkit granted it: all false, without a word, when there is no bus, no rtkit, or a
  // refusal. Any thread; sets the process's RLIMIT_RTTIME when a bus answers.
  static std::vector<bool> AskRealtimeKit(const std::vector<pid_t>& tids, int priority,
                                          int timeoutMs = kBusTimeoutMs);
  // The ids of this process's threads whose name (comm) is `name`, read from taskDir (a
  // folder of thread folders, each with a "comm" file). Any thread.
  static std::vector<pid_t> ThreadsNamed(const std::string& name,
                                         const std::string& taskDir = "/proc/self/task");
  // Lowers the process's RLIMIT_RTTIME so that both its limits are at most maxUsec
  // (microseconds); a lower limit stays as it is. Returns true when the hard limit is then at
  // most maxUsec. Affects every thread of the process; any thread.
  static bool LimitRealtimeCpu(long long maxUsec);

 private:
  const int priority_;
  // The publishing thread's id (low 32 bits) and its stream's generation (high 32 bits); 0
  // until the first buffer. Written by the audio thread, read by the main thread.
  std::atomic<uint64_t> audioThread_{0};
  // The last stream whose threads Poll handled (0: none yet). Main thread.
  uint32_t handledGeneration_ = 0;
  std::vector<Outcome> lastOutcomes_;
};
