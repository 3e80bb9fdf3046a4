// The stream's own thread: the frame loop's requests return while the device hangs where a
// sound server that never answers would hold the audio library, a late answer to an older
// request never stands for the newer one, a new stream starts from what its device gave,
// shutdown leaves a stuck thread alone, a lost stream is reopened with the size asked for
// meanwhile; and the clock the frame loop draws by.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "game_state.h"
#include "stream_clock.h"
#include "stream_device.h"
#include "stream_worker.h"
#include "test_support.h"

namespace {

// What the test sees of and steers in its stand-in device, shared with the worker's thread.
// Opens are counted from 1; open n waits until `released` reaches n, as a library waits on a
// server that does not answer.
struct DeviceControl {
  std::mutex mutex;
  std::condition_variable changed;
  int released = std::numeric_limits<int>::max();
  int failOpen = 0;            // this open fails (0: none)
  int grantOpen = 0;           // this open grants grantFrames frames (0: every open grants
  unsigned int grantFrames = 0;  // the size asked for)
  unsigned int devices = 1;
  double openingLatency = -1.0;  // what the device reports at opening (-1: nothing)
  double latency = 0.025;        // what its path reports while it plays (-1: nothing yet)
  bool holdStart = false;        // starts wait until this is cleared
  int opensBegun = 0;
  int startsBegun = 0;
  std::vector<unsigned int> opened;  // the frames granted, per stream opened
  std::vector<double> startTimes;    // SetStreamTime's argument per stream (-1: not set)
  int closes = 0;
  bool open = false;
  bool destroyed = false;
  std::thread::id destroyedOn;

  void Set(const std::function<void()>& change) {
    std::lock_guard<std::mutex> lock(mutex);
    change();
    changed.notify_all();
  }
  // Lets opens up to n go on.
  void Release(int n = std::numeric_limits<int>::max()) {
    Set([&] {
      released = n;
      holdStart = false;
    });
  }
  // Waits (at most 10 s, only a fault takes that long) until done() holds.
  bool WaitFor(const std::function<bool()>& done) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), done);
  }
};

// Waits until done() holds, polling (at most 10 s; only a fault takes that long).
bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 10000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return done();
}

class StandInDevice : public StreamDevice {
 public:
  explicit StandInDevice(std::shared_ptr<DeviceControl> control) : c_(std::move(control)) {}
  ~StandInDevice() override {
    std::lock_guard<std::mutex> lock(c_->mutex);
    c_->destroyed = true;
    c_->destroyedOn = std::this_thread::get_id();
    c_->changed.notify_all();
  }
  unsigned int DeviceCount() override {
    std::lock_guard<std::mutex> lock(c_->mutex);
    return c_->devices;
  }
  bool Open(unsigned int* frames, std::string* message) override {
    std::unique_lock<std::mutex> lock(c_->mutex);
    const int n = ++c_->opensBegun;
    c_->changed.notify_all();
    c_->changed.wait(lock, [&] { return c_->released >= n; });
    if (n == c_->failOpen) {
      *message = "the stand-in server did not answer";
      return false;
    }
    if (n == c_->grantOpen) *frames = c_->grantFrames;
    c_->opened.push_back(*frames);
    c_->startTimes.push_back(-1.0);
    c_->open = true;
    c_->changed.notify_all();
    return true;
  }
  double OpeningLatency() override {
    std::lock_guard<std::mutex> lock(c_->mutex);
    return c_->openingLatency;
  }
  double SampleRate() override { return 44100.0; }
  void SetStreamTime(double seconds) override {
    std::lock_guard<std::mutex> lock(c_->mutex);
    c_->startTimes.back() = seconds;
  }
  bool Start(std::string*) override {
    std::unique_lock<std::mutex> lock(c_->mutex);
    ++c_->startsBegun;
    c_->changed.notify_all();
    c_->changed.wait(lock, [&] { return !c_->holdStart; });
    return true;
  }
  void Close() override {
    std::lock_guard<std::mutex> lock(c_->mutex);
    if (c_->open) ++c_->closes;
    c_->open = false;
    c_->changed.notify_all();
  }
  bool IsOpen() override {
    std::lock_guard<std::mutex> lock(c_->mutex);
    return c_->open;
  }
  void ReadLatency(uint32_t, double, double* seconds, double* heardOffset) override {
    std::lock_guard<std::mutex> lock(c_->mutex);
    *seconds = c_->latency;
    *heardOffset = -1.5;
  }

 private:
  std::shared_ptr<DeviceControl> c_;
};

class StreamWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gameState.bufferFrames.store(512);
    generation0_ = gameState.streamGeneration.load();
  }
  void TearDown() override {
    control_->Release();
    worker_.reset();
    gameState.streamSupervisor.Stopped();
    gameState.recorder.SetStreamRunning(false);
    gameState.bufferFrames.store(512);
  }
  // Starts the worker as InitRtAudio does, asking for `frames`.
  uint32_t Start(unsigned int frames = 512) {
    gameState.bufferFrames.store(frames);
    return worker_->Start([c = control_] { return std::make_unique<StandInDevice>(c); }, frames);
  }
  // Asks for a new size as ReinitRtAudio does.
  uint32_t Request(unsigned int frames) {
    gameState.bufferFrames.store(frames);
    return worker_->RequestOpen(frames);
  }
  // Waits until request has an answer other than kPending (only a fault takes 10 s).
  StreamWorker::Answer AnswerOf(uint32_t request) {
    Eventually([&] { return worker_->AnswerTo(request) != StreamWorker::Answer::kPending; });
    return worker_->AnswerTo(request);
  }
  uint32_t StreamsStarted() const { return gameState.streamGeneration.load() - generation0_; }

  std::shared_ptr<DeviceControl> control_ = std::make_shared<DeviceControl>();
  std::unique_ptr<StreamWorker> worker_ = std::make_unique<StreamWorker>(gameState);
  uint32_t generation0_ = 0;
};

using Answer = StreamWorker::Answer;

// The first stream and the menu's sizes are asked for while the device hangs in opening: every
// call of the frame loop returns (were one to wait for the worker, this test would never get
// past it), and nothing is answered or plays until the device lets go.
TEST_F(StreamWorkerTest, RequestsReturnWhileTheDeviceHangsInOpening) {
  control_->released = 0;
  const uint32_t first = Start(512);
  ASSERT_TRUE(control_->WaitFor([&] { return control_->opensBegun == 1; }));
  const uint32_t second = Request(128);
  const uint32_t third = Request(2048);
  EXPECT_TRUE(first < second && second < third);
  EXPECT_EQ(worker_->LatestRequest(), third);
  for (uint32_t request : {first, second, third}) EXPECT_EQ(worker_->AnswerTo(request), Answer::kPending);
  EXPECT_FALSE(worker_->Playing());
  EXPECT_EQ(gameState.bufferFrames.load(), 2048u) << "the menu shows the size asked for";

  control_->Release();
  EXPECT_EQ(AnswerOf(third), Answer::kOpened);
  EXPECT_TRUE(worker_->Playing());
  // The sizes in between are never opened: the worker goes to the newest request.
  EXPECT_EQ(control_->opened, (std::vector<unsigned int>{512, 2048}));
  EXPECT_EQ(control_->closes, 1);
  EXPECT_EQ(StreamsStarted(), 2u);
  EXPECT_EQ(gameState.bufferFrames.load(), 2048u);
}

// A late answer to an older request: a stream opened for it with another size than the newest
// request's leaves the menu's size alone and is replaced; a failure of it neither answers the
// newer request nor ends anything (the newer size is taken up by the attempts to reopen).
TEST_F(StreamWorkerTest, ALateAnswerToAnOlderRequestNeverStandsForTheNewerOne) {
  struct Case {
    const char* name;
    bool oldFails;
    Answer oldAnswer;    // what the old request gets, while the worker is held in the next open
    Answer newerAnswer;  // the newer one's meanwhile
  };
  for (const Case& c : {Case{"old one opens", false, Answer::kOpened, Answer::kPending},
                        Case{"old one fails", true, Answer::kPending, Answer::kRetrying}}) {
    SCOPED_TRACE(c.name);
    TearDown();
    control_ = std::make_shared<DeviceControl>();
    worker_ = std::make_unique<StreamWorker>(gameState);
    SetUp();
    control_->released = 0;
    control_->grantOpen = 1;  // the device grants another size than asked
    control_->grantFrames = 1024;
    control_->failOpen = c.oldFails ? 1 : 0;
    const uint32_t old = Start(256);
    ASSERT_TRUE(control_->WaitFor([&] { return control_->opensBegun == 1; }));
    const uint32_t newer = Request(2048);
    // The old opening answers late; the worker goes on to the newer size (after a failure, by
    // the attempts to reopen) and is held in that opening.
    control_->Release(1);
    ASSERT_TRUE(control_->WaitFor([&] { return control_->opensBegun == 2; }));
    EXPECT_EQ(worker_->AnswerTo(old), c.oldAnswer);
    EXPECT_EQ(worker_->AnswerTo(newer), c.newerAnswer) << "the old answer is not the newer's";
    EXPECT_EQ(gameState.bufferFrames.load(), 2048u) << "the old stream's size is not shown";
    control_->Release();
    ASSERT_TRUE(Eventually([&] { return worker_->Playing(); }));
    EXPECT_EQ(worker_->AnswerTo(newer), c.oldFails ? Answer::kRetrying : Answer::kOpened);
    EXPECT_EQ(worker_->AnswerTo(old), Answer::kPending) << "the answer now is the newer one's";
    EXPECT_EQ(gameState.bufferFrames.load(), 2048u);
    std::lock_guard<std::mutex> lock(control_->mutex);
    const std::vector<unsigned int> opened =
        c.oldFails ? std::vector<unsigned int>{2048} : std::vector<unsigned int>{1024, 2048};
    EXPECT_EQ(control_->opened, opened);
  }
}

// No output device when a stream is asked for: nothing opens, and the frame loop, finding the
// answer, ends the program with the message and status 1 (in a child, with the game's own
// stream worker, at a reopening: the first opening's request is start-up's alone).
TEST_F(StreamWorkerTest, NoOutputDeviceEndsTheProgram) {
  const auto reopenWithNoDevice = [] {
    auto c = std::make_shared<DeviceControl>();
    gameState.streamWorker.Start([c] { return std::make_unique<StandInDevice>(c); }, 512);
    Eventually([] { return gameState.streamWorker.Playing(); });
    c->Set([&] { c->devices = 0; });
    gameState.ReinitRtAudio(256);
    Eventually([] {
      gameState.SuperviseStream();  // ends the program once the answer has come
      return false;
    });
  };
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // the child starts threads
  EXPECT_EXIT(reopenWithNoDevice(), ::testing::ExitedWithCode(1),
              "^Error: No audio devices found!\n$");
}

// The menu shows a new size as soon as it is asked for, while the device is still opening it
// (the game's own worker, asked as the menu asks).
TEST_F(StreamWorkerTest, ANewSizeShowsAsSoonAsItIsAskedFor) {
  auto c = std::make_shared<DeviceControl>();
  c->released = 1;  // the reopening waits on its device
  gameState.streamWorker.Start([c] { return std::make_unique<StandInDevice>(c); }, 512);
  Eventually([] { return gameState.streamWorker.Playing(); });
  gameState.ReinitRtAudio(1024);
  EXPECT_EQ(gameState.bufferFrames.load(), 1024u);
  c->Release();
  EXPECT_TRUE(gameState.DeinitRtAudio());
}

// Until its path reports a latency, a new stream's presses are placed by the latency its device
// gave at opening (JACK's 0 included), or else by the buffers assumed queued behind the one being
// rendered; never by the old stream's heard offset, nor by a path that has nothing to report yet.
// The menu shows the size granted.
TEST_F(StreamWorkerTest, ANewStreamIsPlacedByWhatItsDeviceGaveNotByTheOldStream) {
  struct Case {
    const char* name;
    double opening;       // the device's latency at opening (-1: none)
    unsigned int granted;
    double latency;       // the latency the audio thread gets
  };
  const double assumed = (GameState::kStreamBuffers - 1) * 1024 / 44100.0;
  for (const Case& c : {Case{"nothing reported", -1.0, 1024, assumed},
                        Case{"no latency, as JACK's dummy driver", 0.0, 512, 0.0},
                        Case{"a latency reported", 0.004, 256, 0.004}}) {
    SCOPED_TRACE(c.name);
    TearDown();
    control_ = std::make_shared<DeviceControl>();
    worker_ = std::make_unique<StreamWorker>(gameState);
    SetUp();
    control_->openingLatency = c.opening;
    control_->grantOpen = 1;
    control_->grantFrames = c.granted;
    control_->holdStart = true;
    control_->latency = -1.0;
    gameState.heardOffset.store(-1.5);  // the old stream's
    gameState.outputLatency.store(1.0);
    Start(512);
    ASSERT_TRUE(control_->WaitFor([&] { return control_->startsBegun == 1; }));
    EXPECT_TRUE(std::isnan(gameState.heardOffset.load())) << gameState.heardOffset.load();
    EXPECT_DOUBLE_EQ(gameState.outputLatency.load(), c.latency);
    EXPECT_EQ(gameState.bufferFrames.load(), c.granted) << "the menu shows the size granted";
    control_->Release();
    ASSERT_TRUE(Eventually([&] { return worker_->Playing(); }));
    // The round that reads the heard offset has read the path's latency too.
    ASSERT_TRUE(Eventually([] { return gameState.heardOffset.load() == -1.5; }));
    EXPECT_DOUBLE_EQ(gameState.outputLatency.load(), c.latency) << "the path reports nothing yet";
  }
}

// Shutdown while the device hangs: Stop gives up without touching the device; once the device
// lets go, the worker closes its stream and destroys it on its own thread.
TEST_F(StreamWorkerTest, StopLeavesAWorkerStuckInTheDeviceAlone) {
  control_->released = 0;
  Start(512);
  ASSERT_TRUE(control_->WaitFor([&] { return control_->opensBegun == 1; }));
  EXPECT_FALSE(worker_->Stop(20));
  EXPECT_FALSE(control_->destroyed);
  control_->Release();
  EXPECT_TRUE(control_->WaitFor([&] { return control_->destroyed; }));
  EXPECT_TRUE(worker_->Stop(10000));
  EXPECT_NE(control_->destroyedOn, std::this_thread::get_id());
  EXPECT_FALSE(control_->open) << "closed before it was destroyed";
  EXPECT_FALSE(worker_->Playing());
}

// A stream the supervisor counts lost is closed and its running take asked to end; a size
// asked for meanwhile is the one the next attempt opens, carrying the stream time on from the
// last buffer played; meanwhile and afterwards the latency the device reports reaches the
// audio thread.
TEST_F(StreamWorkerTest, ALostStreamIsReopenedWithTheSizeAskedForMeanwhile) {
  struct Engine {  // a recorder with its writer, recording into a folder of the test's
    FakeInput input;
    FakeClock clock;
    std::string folder = MakeTempDir();
    Engine() { InstallEngine(&input, &clock, folder); }
    ~Engine() { RemoveEngine(folder); }
  } engine;
  generation0_ = gameState.streamGeneration.load();
  const uint32_t first = Start(512);
  ASSERT_EQ(AnswerOf(first), Answer::kOpened);
  ASSERT_TRUE(Eventually([] { return gameState.heardOffset.load() == -1.5; }));
  EXPECT_EQ(gameState.outputLatency.load(), 0.025);
  gameState.lastStreamTime.store(10.0);
  gameState.recorder.StartCapture();  // as the audio thread: a take runs
  ASSERT_TRUE(gameState.recorder.Recording());
  control_->Set([&] { control_->devices = 0; });  // no server to reopen on for now
  gameState.streamSupervisor.ReportError(true, "the stand-in server went away");
  ASSERT_TRUE(control_->WaitFor([&] { return control_->closes == 1; }));
  ASSERT_FALSE(worker_->Playing());
  EXPECT_TRUE(Eventually([] { return !gameState.recorder.Recording(); }))
      << "the take ends with the stream";
  const uint32_t meanwhile = Request(256);
  EXPECT_EQ(AnswerOf(meanwhile), Answer::kRetrying);
  control_->Set([&] { control_->devices = 1; });  // the server is back
  // Playing again once the new stream has started, its time set before.
  ASSERT_TRUE(Eventually([&] { return worker_->Playing(); }));
  std::lock_guard<std::mutex> lock(control_->mutex);
  ASSERT_EQ(control_->opened.size(), 2u);
  EXPECT_EQ(control_->opened[1], 256u);
  EXPECT_DOUBLE_EQ(control_->startTimes[1], 10.0 + 256 / 44100.0);
  EXPECT_EQ(StreamsStarted(), 2u);
}

// The clock the frame loop draws by follows the last buffer a callback began, moves on with
// the time since, and stands still one buffer after it when no further buffer comes.
TEST(CallbackStreamClockTest, StandsStillOneBufferAfterTheLastCallback) {
  CallbackStreamClock clock;
  EXPECT_EQ(clock.StreamTime(), 0.0) << "no buffer yet";
  clock.BufferBegins(2.0, 441);
  const double now = clock.StreamTime();
  EXPECT_GE(now, 2.0);
  EXPECT_LE(now, 2.01);
  std::this_thread::sleep_for(std::chrono::milliseconds(15));  // longer than the buffer
  EXPECT_DOUBLE_EQ(clock.StreamTime(), 2.01);
  clock.SetSampleRate(48000.0);
  clock.BufferBegins(0.0, 480);  // a new stream starts its clock again
  std::this_thread::sleep_for(std::chrono::milliseconds(15));
  EXPECT_DOUBLE_EQ(clock.StreamTime(), 0.01);
}

// The frame loop reads the clock while the audio thread begins buffer after buffer: a reading
// takes the time, the length and the start on the monotonic clock of one buffer. Buffer k
// begins at k seconds (modulo 1024) and lasts 0.5 s when k is even, no time when k is odd, so
// a reading within an odd second, past its start, mixed two buffers. A mixed reading is rare
// even with both threads running at once, likeliest where the clock's values straddle two cache
// lines: the clock is placed at each 8 bytes of a line. Bounded by readings, not time: at each
// place, 2^12 rounds of 16 readings in which a buffer began (both threads ran), or 2^16 rounds.
TEST(CallbackStreamClockTest, AReadingNeverMixesTwoBuffers) {
  alignas(64) static unsigned char storage[64 + sizeof(CallbackStreamClock)];
  for (size_t at = 0; at < 64; at += 8) {
    CallbackStreamClock* clock = new (storage + at) CallbackStreamClock;
    clock->SetSampleRate(48000.0);
    std::atomic<bool> done{false};
    std::atomic<uint32_t> begun{0};
    std::thread audio([&] {
      for (uint32_t k = 0; !done.load(std::memory_order_relaxed); begun.store(++k)) {
        clock->BufferBegins(k % 1024, k % 2 == 0 ? 24000 : 0);
      }
    });
    double mixed = -1.0;
    for (int round = 0, met = 0; met < (1 << 12) && round < (1 << 16) && mixed < 0.0; ++round) {
      const uint32_t before = begun.load(std::memory_order_relaxed);
      for (int i = 0; i < 16; ++i) {
        const double t = clock->StreamTime();
        if (static_cast<int>(t) % 2 == 1 && t != std::floor(t)) mixed = t;
      }
      met += begun.load(std::memory_order_relaxed) != before;
    }
    done.store(true);
    audio.join();
    clock->~CallbackStreamClock();
    ASSERT_LT(mixed, 0.0) << "read " << mixed << " s after " << begun.load() << " buffers, "
                          << at << " bytes into a cache line";
  }
}

}  // namespace
