// Real-time scheduling for the stream's threads: finding them, the CPU limit rtkit insists on,
// the conversation with rtkit (against a stand-in service on a private bus), and what happens
// without a bus or with one that never answers. Whatever changes the process's limits or
// scheduling runs in a child process (a death-test fork), so the other tests never see it.

#include <dbus/dbus.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "realtime_threads.h"
#include "test_support.h"

extern char** environ;

namespace {

// A thread that names itself, says its id and waits until the object goes.
class NamedThread {
 public:
  explicit NamedThread(const char* name) {
    thread_ = std::thread([this, name] {
      pthread_setname_np(pthread_self(), name);
      tid_.store(gettid());
      while (!stop_.load()) usleep(1000);
    });
    while (tid_.load() == 0) usleep(100);
  }
  ~NamedThread() {
    stop_.store(true);
    thread_.join();
  }
  pid_t Tid() const { return tid_.load(); }

 private:
  std::atomic<pid_t> tid_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

bool IsRoundRobin(pid_t tid, int priority) {
  sched_param param{};
  return (sched_getscheduler(tid) & ~SCHED_RESET_ON_FORK) == SCHED_RR &&
         sched_getparam(tid, &param) == 0 && param.sched_priority == priority;
}

TEST(RealtimeThreads, FindsThreadsByName) {
  NamedThread io(RealtimeThreads::kPulseIoThreadName);
  NamedThread other("threaded-mlx");  // a longer name is another name
  EXPECT_EQ(RealtimeThreads::ThreadsNamed(RealtimeThreads::kPulseIoThreadName),
            std::vector<pid_t>{io.Tid()});

  // A task folder as the kernel lays it out, with what a thread that ends meanwhile leaves.
  const std::string dir = MakeTempDir();
  for (const char* entry : {"12", "7", "13", "14", "x15"}) mkdir((dir + "/" + entry).c_str(), 0700);
  std::ofstream(dir + "/12/comm") << "threaded-ml\n";
  std::ofstream(dir + "/7/comm") << "threaded-ml\n";
  std::ofstream(dir + "/13/comm") << "marlune\n";
  std::ofstream(dir + "/x15/comm") << "threaded-ml\n";  // not a thread id; 14 has no comm
  EXPECT_EQ(RealtimeThreads::ThreadsNamed("threaded-ml", dir), (std::vector<pid_t>{7, 12}));
  EXPECT_TRUE(RealtimeThreads::ThreadsNamed("threaded-ml", dir + "/gone").empty());
  std::system(("rm -rf " + dir).c_str());
}

struct LimitCase {
  rlim_t soft, hard;
  long long most;
  rlim_t wantSoft, wantHard;
  bool ok;
};

// Sets the limits, lowers them and says how it went: 0 as wanted, else 1. In a child.
int LowerLimit(const LimitCase& c) {
  const rlimit initial{c.soft, c.hard};
  if (setrlimit(RLIMIT_RTTIME, &initial) != 0) return 2;
  const bool ok = RealtimeThreads::LimitRealtimeCpu(c.most);
  rlimit now{};
  getrlimit(RLIMIT_RTTIME, &now);
  std::fprintf(stderr, "ok %d soft %llu hard %llu\n", ok,
               static_cast<unsigned long long>(now.rlim_cur),
               static_cast<unsigned long long>(now.rlim_max));
  return ok == c.ok && now.rlim_cur == c.wantSoft && now.rlim_max == c.wantHard ? 0 : 1;
}

TEST(RealtimeThreads, LimitsRealtimeCpuOnlyFromAbove) {
  constexpr rlim_t kInf = RLIM_INFINITY;
  const LimitCase cases[] = {
      {kInf, kInf, 200000, 200000, 200000, true},      // no limit yet: both set
      {50000, 100000, 200000, 50000, 100000, true},     // lower limits stay
      {50000, kInf, 200000, 50000, 200000, true},       // a lower soft limit stays
      {300000, 500000, 200000, 200000, 200000, true},   // higher ones come down
      {150000, 150000, 100000, 100000, 100000, true},   // the service's own lower maximum
      {kInf, kInf, 0, kInf, kInf, false},               // nothing sensible asked: untouched
  };
  for (const LimitCase& c : cases) {
    EXPECT_EXIT(std::_Exit(LowerLimit(c)), ::testing::ExitedWithCode(0), "")
        << "from " << c.soft << "/" << c.hard << " with at most " << c.most;
  }
}

// Without a bus, or with one that takes the connection and never answers, nobody is asked,
// nothing is said and the CPU limit stays as it was.
TEST(RealtimeThreads, NoAnsweringBusGrantsNothingAndLeavesTheLimit) {
  const std::string dir = MakeTempDir();
  const std::string silent = dir + "/silent";
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", silent.c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 8), 0);  // connections wait in the backlog, unanswered
  NamedThread thread("marlune");
  rlimit before{};
  getrlimit(RLIMIT_RTTIME, &before);
  for (const std::string& bus : {"unix:path=" + dir + "/none", "unix:path=" + silent,
                                 std::string("nonsense")}) {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.c_str(), 1);
    EXPECT_EQ(RealtimeThreads::AskRealtimeKit({thread.Tid(), thread.Tid()}, 4, 50),
              (std::vector<bool>{false, false}))
        << bus;
    rlimit after{};
    getrlimit(RLIMIT_RTTIME, &after);
    EXPECT_EQ(after.rlim_max, before.rlim_max) << bus;
  }
  unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  close(listener);
  std::system(("rm -rf " + dir).c_str());
}

// Plays the audio thread and the main thread over two streams: 0 when each poll did what it
// should, else 1 (what went wrong on standard error). In a child.
int PlayTwoStreams() {
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/marlune-test-bus", 1);
  using Outcome = RealtimeThreads::Outcome;
  RealtimeThreads threads(4);
  NamedThread io(RealtimeThreads::kPulseIoThreadName);
  std::atomic<uint32_t> publish{0};
  std::atomic<pid_t> audioTid{0};
  std::atomic<bool> stop{false};
  std::thread audio([&] {  // publishes at every "buffer", as the callback does
    // Named as the client's I/O thread too, as a callback run on that thread would be: it is
    // still raised once.
    pthread_setname_np(pthread_self(), RealtimeThreads::kPulseIoThreadName);
    audioTid.store(gettid());
    while (!stop.load()) {
      if (publish.load() != 0) threads.PublishAudioThread(publish.load());
      usleep(500);
    }
  });
  const bool direct = RealtimeThreads::RaiseDirectly(io.Tid(), 4) != Outcome::kRefused;
  const Outcome first = direct ? Outcome::kDirect : Outcome::kRefused;
  const Outcome again = direct ? Outcome::kAlready : Outcome::kRefused;
  const auto fail = [](const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::_Exit(1);
  };
  threads.Poll(1);
  if (!threads.LastOutcomes().empty()) fail("handled a stream nobody published");
  publish.store(1);
  while (threads.LastOutcomes().empty()) {
    threads.Poll(1);
    usleep(500);
  }
  // The I/O thread was raised above where allowed; the audio thread is new.
  if (threads.LastOutcomes() != std::vector<Outcome>{first, again}) fail("stream 1");
  if (direct != IsRoundRobin(audioTid.load(), 4)) fail("audio thread's class, stream 1");
  threads.Poll(1);  // handled: nothing is asked again
  if (threads.LastOutcomes() != std::vector<Outcome>{first, again}) fail("stream 1 again");
  threads.Poll(2);  // the new stream's callback has not run yet
  if (threads.LastOutcomes() != std::vector<Outcome>{first, again}) fail("stream 2 early");
  publish.store(2);
  while (threads.LastOutcomes().front() == first && direct) {
    threads.Poll(2);
    usleep(500);
  }
  if (!direct) {
    usleep(20000);
    threads.Poll(2);
  }
  if (threads.LastOutcomes() != std::vector<Outcome>{again, again}) fail("stream 2");
  stop.store(true);
  audio.join();
  return 0;
}

// The audio thread says who it is once per stream; the main thread's poll raises it and the
// client's I/O thread once per stream, directly where the system allows (root), else not at
// all here (no bus). Run in a child: raising threads is for good there.
TEST(RealtimeThreads, PollRaisesEachStreamsThreadsOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // the child starts threads
  EXPECT_EXIT(std::_Exit(PlayTwoStreams()), ::testing::ExitedWithCode(0), "");
}

// A stand-in for rtkit on a private bus: answers the two properties (or has none) and grants
// or refuses each thread, noting what it was asked and the asker's CPU limit at that moment
// (the same process here).
class FakeRealtimeKit {
 public:
  int maxPriority = 20;
  long long rtTimeMax = 200000;
  bool properties = true;
  pid_t refuse = 0;
  std::vector<std::pair<uint64_t, uint32_t>> asked;
  rlim_t hardLimitWhenAsked = 0;

  bool Start(const std::string& address) {
    DBusError error;
    dbus_error_init(&error);
    connection_ = dbus_connection_open_private(address.c_str(), &error);
    if (connection_ == nullptr || !dbus_bus_register(connection_, &error) ||
        dbus_bus_request_name(connection_, "org.freedesktop.RealtimeKit1",
                              DBUS_NAME_FLAG_DO_NOT_QUEUE, &error) !=
            DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) {
      std::fprintf(stderr, "fake rtkit: %s\n", error.message ? error.message : "?");
      dbus_error_free(&error);
      return false;
    }
    thread_ = std::thread([this] {
      while (!stop_.load() && dbus_connection_read_write(connection_, 20)) {
        while (DBusMessage* call = dbus_connection_pop_message(connection_)) {
          Answer(call);
          dbus_message_unref(call);
        }
      }
    });
    return true;
  }
  // Ends the service; what it noted may be read from then on.
  void Stop() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  ~FakeRealtimeKit() {
    Stop();
    if (connection_ != nullptr) {
      dbus_connection_close(connection_);
      dbus_connection_unref(connection_);
    }
  }

 private:
  void Answer(DBusMessage* call) {
    DBusMessage* reply = nullptr;
    if (dbus_message_is_method_call(call, DBUS_INTERFACE_PROPERTIES, "Get") && properties) {
      const char* interface = nullptr;
      const char* name = nullptr;
      dbus_message_get_args(call, nullptr, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING,
                            &name, DBUS_TYPE_INVALID);
      reply = dbus_message_new_method_return(call);
      DBusMessageIter iter, variant;
      dbus_message_iter_init_append(reply, &iter);
      if (std::string(name) == "MaxRealtimePriority") {
        const dbus_int32_t value = maxPriority;
        dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, "i", &variant);
        dbus_message_iter_append_basic(&variant, DBUS_TYPE_INT32, &value);
      } else {
        const dbus_int64_t value = rtTimeMax;
        dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, "x", &variant);
        dbus_message_iter_append_basic(&variant, DBUS_TYPE_INT64, &value);
      }
      dbus_message_iter_close_container(&iter, &variant);
    } else if (dbus_message_is_method_call(call, "org.freedesktop.RealtimeKit1",
                                           "MakeThreadRealtime")) {
      dbus_uint64_t tid = 0;
      dbus_uint32_t priority = 0;
      dbus_message_get_args(call, nullptr, DBUS_TYPE_UINT64, &tid, DBUS_TYPE_UINT32, &priority,
                            DBUS_TYPE_INVALID);
      asked.emplace_back(tid, priority);
      rlimit limit{};
      getrlimit(RLIMIT_RTTIME, &limit);
      hardLimitWhenAsked = limit.rlim_max;
      reply = static_cast<pid_t>(tid) == refuse
                  ? dbus_message_new_error(call, DBUS_ERROR_ACCESS_DENIED, "refused")
                  : dbus_message_new_method_return(call);
    } else if (dbus_message_get_type(call) == DBUS_MESSAGE_TYPE_METHOD_CALL) {
      reply = dbus_message_new_error(call, DBUS_ERROR_UNKNOWN_PROPERTY, "no such property");
    }
    if (reply != nullptr) {
      dbus_connection_send(connection_, reply, nullptr);
      dbus_message_unref(reply);
    }
  }

  DBusConnection* connection_ = nullptr;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

struct KitCase {
  const char* name;
  int maxPriority;
  long long rtTimeMax;
  bool properties;
  bool refuseSecond;
  uint32_t wantPriority;
  rlim_t wantLimit;
  std::vector<bool> wantGranted;
};

// Starts a bus and the stand-in, asks for two threads and says how it went: 0 as wanted, else
// not. In a child.
int AskStandIn(const KitCase& c) {
  const std::string dir = MakeTempDir();
  const std::string address = "unix:path=" + dir + "/bus";
  const std::string option = "--address=" + address;
  const char* argv[] = {"dbus-daemon", "--session", "--nofork", "--nopidfile",
                        option.c_str(), nullptr};
  pid_t daemon = 0;
  if (posix_spawnp(&daemon, "dbus-daemon", nullptr, nullptr,
                   const_cast<char**>(argv), environ) != 0) {
    return 3;
  }
  struct stat socketStat{};
  // Generous bounds: they only end waits for a bus or answers that never come, and a machine
  // busy with other work may take seconds to start the bus or answer.
  for (int i = 0; i < 3000 && stat((dir + "/bus").c_str(), &socketStat) != 0; ++i) {
    usleep(10000);
  }
  int status = 1;
  {
    FakeRealtimeKit kit;
    kit.maxPriority = c.maxPriority;
    kit.rtTimeMax = c.rtTimeMax;
    kit.properties = c.properties;
    NamedThread first("marlune");
    NamedThread second("threaded-ml");
    if (c.refuseSecond) kit.refuse = second.Tid();
    if (kit.Start(address)) {
      setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
      const std::vector<bool> granted =
          RealtimeThreads::AskRealtimeKit({first.Tid(), second.Tid()}, 4, 30000);
      kit.Stop();
      const std::vector<std::pair<uint64_t, uint32_t>> wantAsked = {
          {first.Tid(), c.wantPriority}, {second.Tid(), c.wantPriority}};
      std::fprintf(stderr, "granted %d %d, asked %zu at %u, limit %llu\n",
                   static_cast<int>(granted[0]), static_cast<int>(granted[1]),
                   kit.asked.size(), kit.asked.empty() ? 0u : kit.asked[0].second,
                   static_cast<unsigned long long>(kit.hardLimitWhenAsked));
      status = granted == c.wantGranted && kit.asked == wantAsked &&
                       kit.hardLimitWhenAsked == c.wantLimit
                   ? 0
                   : 1;
    }
  }
  kill(daemon, SIGTERM);
  waitpid(daemon, nullptr, 0);
  std::system(("rm -rf " + dir).c_str());
  return status;
}

// The whole conversation, each case in a child with a bus of its own: the priority is capped
// at the service's maximum, the CPU limit is in force (at most the service's maximum) before
// the first request, and a refusal concerns only its thread.
TEST(RealtimeThreads, AsksRealtimeKitWithinItsRules) {
  const KitCase cases[] = {
      {"defaults", 20, 200000, true, false, 4, 200000, {true, true}},
      {"lower maxima", 3, 50000, true, false, 3, 50000, {true, true}},
      {"higher limit allowed", 20, 900000, true, false, 4, 200000, {true, true}},
      {"no properties", 0, 0, false, false, 4, 200000, {true, true}},
      {"second refused", 20, 200000, true, true, 4, 200000, {true, false}},
  };
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // the children start threads
  for (const KitCase& c : cases) {
    EXPECT_EXIT(std::_Exit(AskStandIn(c)), ::testing::ExitedWithCode(0), "") << c.name;
  }
}

}  // namespace
