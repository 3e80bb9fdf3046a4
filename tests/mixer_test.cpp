// The mixer's limiter at its edges (the golden performance hears the rest of the mix); and the
// stream supervisor that decides each buffer's fate: telling a lost stream from a hiccup, and pacing
// the attempts to reopen it; how the stream's latency readings place the heard clock; buffer
// sizes the mixer plays; the stream clock of a closed stream, and the probe build's report of
// callback timing.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

#include "RtAudio.h"
#include "Stk.h"
#include "audio_mixer.h"
#include "callback_timer.h"
#include "main_menu_scene.h"
#include "mono_sound_pad.h"
#include "stream_clock.h"
#include "stream_latency.h"
#include "stream_supervisor.h"
#include "test_support.h"

namespace {

TEST(Limiter, CompressesAboveThresholdAndClipsAtFullScale) {
  const struct { double left, right, limitedLeft, limitedRight; } cases[] = {
      {1.2, 0.3, 0.8 + 0.4 / 6.0, 0.3 * (0.8 + 0.4 / 6.0) / 1.2}, {3.2, -3.2, 1.0, -1.0},
      {-3.2, 3.2, -1.0, 1.0},  // compressed to 1.2, then clipped
      {-0.8, 0.5, -0.8, 0.5},  // exactly the threshold is untouched
      {0.1, -1.4, 0.1 * 0.9 / 1.4, -0.9},  // the louder channel decides for both
      {std::nan(""), 0.3, 0.0, 0.3}, {1.2, -INFINITY, 0.8 + 0.4 / 6.0, 0.0}};  // silent if not a number
  for (const auto& c : cases) {
    double left = c.left, right = c.right;
    LimitFrame(left, right);
    EXPECT_NEAR(left, c.limitedLeft, 1e-12) << c.left << ", " << c.right;
    EXPECT_NEAR(right, c.limitedRight, 1e-12) << c.left << ", " << c.right;
  }
}

using Action = StreamSupervisor::Action;

// The menu's buffer sizes in a cycle; a size the device granted instead of one asked for (a JACK
// server's period) goes back to the default.
TEST(StreamSupervisorTest, BufferSizesCycleAndAnyOtherSizeGoesBackTo512) {
  const unsigned int cases[][2] = {{64, 128}, {128, 256}, {256, 512}, {512, 1024}, {1024, 2048},
                                   {2048, 64}, {0, 512}, {100, 512}, {333, 512}, {4096, 512}};
  for (const auto& c : cases) EXPECT_EQ(MainMenuScene::NextBufferSize(c[0]), c[1]) << c[0];
}

// Readings of the stream's latency, taken between callbacks, come out low when the buffer last
// rendered was already written, wholly or in part; never high. The heard clock is the largest
// of those since the stream last fell behind by more than a buffer and the servers' noise.
TEST(StreamLatency, HeardOffsetIsTheLargestReadingSinceTheStreamLastFellBehind) {
  const double buffer = 512 / 44100.0;  // 11.6 ms
  const double readings[] = {-1.2120, -1.2004, -1.2106, -1.2005};
  EXPECT_DOUBLE_EQ(StreamLatency::FromOffsetReadings(readings, 4, buffer), -1.2004);
  EXPECT_DOUBLE_EQ(StreamLatency::FromOffsetReadings(readings, 1, buffer), -1.2120);
  EXPECT_TRUE(std::isnan(StreamLatency::FromOffsetReadings(readings, 0, buffer)));
  // An underrun of 80 ms: the stream is heard that much later from then on. The readings
  // before it would put a press 80 ms late, most of a step.
  const double underrun[] = {-1.2004, -1.2050, -1.2804, -1.2890, -1.2810};
  EXPECT_DOUBLE_EQ(StreamLatency::FromOffsetReadings(underrun, 5, buffer), -1.2804);
  EXPECT_DOUBLE_EQ(StreamLatency::FromOffsetReadings(underrun, 3, buffer), -1.2804);
  // Within a buffer and the servers' noise of the largest, a reading is one taken late, not a
  // stream fallen behind; a little further, it is.
  const double late[] = {-1.2004, -1.2050, -1.2004 - buffer - 0.002};
  EXPECT_DOUBLE_EQ(StreamLatency::FromOffsetReadings(late, 3, buffer), -1.2004);
  const double behind[] = {-1.2004, -1.2050, -1.2004 - buffer - 0.004};
  EXPECT_DOUBLE_EQ(StreamLatency::FromOffsetReadings(behind, 3, buffer), behind[2]);
  // Nothing is reported before a stream starts, nor after it stops.
  StreamLatency latency;
  EXPECT_TRUE(std::isnan(latency.HeardOffset()));
  EXPECT_LT(latency.Seconds(), 0.0);
}

TEST(StreamLatency, ThePulseServerIsAskedForWholeBuffersOfAtLeastItsShortestCleanQueue) {
  // Three buffers, or the fewest whole buffers of at least 10 ms where three are shorter; in
  // whole milliseconds rounded up, so the server never holds less than that; never 0, which
  // libpulse would ignore.
  const struct { unsigned int frames; const char* ms; } cases[] = {
      {64, "11"}, {128, "12"}, {256, "18"}, {512, "35"}, {2048, "140"}, {1, "10"}};
  for (const auto& c : cases) {
    StreamLatency::AskPulse(StreamLatency::PulseQueue(3, c.frames, 44100.0));
    ASSERT_NE(std::getenv("PULSE_LATENCY_MSEC"), nullptr);
    EXPECT_STREQ(std::getenv("PULSE_LATENCY_MSEC"), c.ms) << c.frames << " frames";
  }
  StreamLatency::AskPulse(0.0001);
  EXPECT_STREQ(std::getenv("PULSE_LATENCY_MSEC"), "1");
  unsetenv("PULSE_LATENCY_MSEC");
}

TEST(StreamSupervisorTest, ErrorsInARowMeanTheStreamIsLost) {
  // Events: r the stream starts running, b a buffer begins, w the library warns, u it warns of
  // an underrun, p of a failed recovery from one, f a fatal error, s the stream is stopped on
  // purpose. Each buffer's fate: P play, U unrecorded, S stop.
  // Lost: Poll then says to close the stream, and later to retry.
  const struct { const char* events; const char* fates; bool lost; } cases[] = {
      {"rbwbb", "PUP", false},                   // an underrun: one failed write
      {"rbwbwbbwbwbbwbb", "PUUPUUPUP", false},   // writes failing now and then
      {"rbwbwbwbwbb", "PUUUSS", true},           // a server gone: every write fails
      {"rbfb", "PS", true},                      // a fatal error
      {"wwwwf", "", false},                      // errors while no stream runs
      {"rfs", "", false},                        // closed on purpose before the loss was seen
      {"rbububububububb", "PUUUUUUP", false},    // underruns, many in a row, the device plays on
      {"rbpbpbpbpbb", "PUUUSS", true},           // recovery fails: every write fails after it
      {"rbubpbpbpbpbb", "PUUUUSS", true},        // an underrun, then failed recoveries
      {"rbwbwbwsrwbb", "PUUUP", false},          // a new stream fails once before any buffer:
                                                 // the old stream's errors no longer count
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.events);
    StreamSupervisor supervisor;
    std::string fates;
    for (const char* e = c.events; *e != '\0'; ++e) {
      if (*e == 'r') supervisor.Starting();
      if (*e == 'b') fates += "PUS"[static_cast<int>(supervisor.BeginBuffer())];
      if (*e == 'w') supervisor.ReportError(false, "audio write error, Connection terminated.");
      if (*e == 'u') supervisor.ReportError(false, "RtApiAlsa::callbackEvent: audio write error, underrun.");
      if (*e == 'p') {
        supervisor.ReportError(false, "RtApiAlsa::callbackEvent: error preparing device after "
                                      "underrun, No such device.");
      }
      if (*e == 'f') supervisor.ReportError(true, "thread failed");
      if (*e == 's') supervisor.Stopped();
    }
    EXPECT_EQ(fates, c.fates);
    EXPECT_EQ(supervisor.Poll(0) == Action::kClose, c.lost);
    EXPECT_EQ(supervisor.Poll(60000) == Action::kRetry, c.lost);
  }
}

TEST(StreamSupervisorTest, RetriesOnceASecondUntilTheStreamStartsAgain) {
  for (uint32_t lostAt : {5000u, 0xFFFFFF00u}) {  // the millisecond clock may wrap
    SCOPED_TRACE(lostAt);
    StreamSupervisor supervisor;
    supervisor.Starting();
    supervisor.ReportError(true, "Connection terminated.");
    EXPECT_EQ(supervisor.Poll(lostAt), Action::kClose);
    EXPECT_STREQ(supervisor.LossReason(), "Connection terminated.");
    EXPECT_EQ(supervisor.Poll(lostAt + 100), Action::kNone);  // before the clock wraps
    EXPECT_EQ(supervisor.Poll(lostAt + 999), Action::kNone);
    EXPECT_EQ(supervisor.Poll(lostAt + 1000), Action::kRetry);
    supervisor.ReportError(true, "Connection refused.");  // the open fails, and says why
    supervisor.ReportError(true, "later");
    EXPECT_EQ(supervisor.TakeOpenError(), "Connection refused.");
    EXPECT_EQ(supervisor.TakeOpenError(), "");
    supervisor.ReportError(true, std::string(300, 'x'));  // the next failure, cut to fit
    EXPECT_EQ(supervisor.TakeOpenError(), std::string(255, 'x'));
    EXPECT_EQ(supervisor.Poll(lostAt + 1500), Action::kNone);
    EXPECT_EQ(supervisor.Poll(lostAt + 2016), Action::kRetry);
    supervisor.Starting();
    supervisor.StartFailed();  // opened, but would not start
    EXPECT_EQ(supervisor.Poll(lostAt + 2500), Action::kNone);
    EXPECT_EQ(supervisor.Poll(lostAt + 3016), Action::kRetry);
    supervisor.Starting();
    EXPECT_EQ(supervisor.BeginBuffer(), StreamSupervisor::Buffer::kPlay) << "loss forgotten";
    EXPECT_EQ(supervisor.Poll(lostAt + 5000), Action::kNone);
  }
}

// Every frame of both channels of a buffer carries the pads' mix, up to the largest buffer the
// mixer holds; a larger one, never granted, is silent, and so is any once the stream is lost.
class LevelPad : public MonoSoundPad {
 public:
  LevelPad() : MonoSoundPad(0, 0, 0, 0) {}
  void Draw() override {}
  void MonoAudioCallback(double* buffer, unsigned int nFrames, double) override {
    for (unsigned int i = 0; i < nFrames; ++i) buffer[i] = 0.5;
  }
};
using MixerTest = EngineTest;
TEST_F(MixerTest, EveryFrameOfEveryBufferUpToTheLargestCarriesTheMix) {
  AddPad(new LevelPad());
  for (unsigned int frames : {64u, GameState::kMaxBufferFrames, GameState::kMaxBufferFrames + 1}) {
    const std::vector<double> out = RunBuffer(0.0, frames);
    const double level = frames <= GameState::kMaxBufferFrames ? 0.25 : 0.0;  // half the pad
    EXPECT_EQ(std::count(out.begin(), out.end(), level), static_cast<long>(out.size())) << frames;
  }
  // The clock the frame loop draws by is told of every buffer played.
  CallbackStreamClock drawing;
  gameState.clock = &drawing;
  RunBuffer(3.0, 64);
  gameState.clock = &clock;
  EXPECT_GE(drawing.StreamTime(), 3.0);
  // Once the stream is lost a buffer is silent, and the library is told to stop the stream (2)
  // rather than call again at once.
  StreamSupervisor& supervisor = gameState.streamSupervisor;
  supervisor.Starting();
  supervisor.ReportError(true, "Connection terminated.");
  std::vector<double> out(128, 0.5);
  EXPECT_EQ(AudioMixerCallback(out.data(), nullptr, 64, 1.0, 0, nullptr), 2);
  EXPECT_EQ(out, std::vector<double>(128, 0.0));
}

// Interface sounds asked for within one buffer all start.
TEST_F(MixerTest, EverySoundAskedForBeforeABufferStartsInIt) {
  gameState.LoadSounds();
  gameState.RestartSound(SoundEffect::kStart);
  gameState.RestartSound(SoundEffect::kSelect);
  RunBuffer(0.0, 64);
  EXPECT_FALSE(gameState.startSound.isFinished());
  EXPECT_FALSE(gameState.selectSound.isFinished());
  for (stk::FileWvIn* sound : {&gameState.startSound, &gameState.selectSound}) {
    sound->addTime(std::numeric_limits<double>::infinity());  // silent for the tests after
  }
}

// A pad that spends cpuMs of its thread's processor time on every buffer.
class BusyPad : public MonoSoundPad {
 public:
  explicit BusyPad(double cpuMs) : MonoSoundPad(0, 0, 0, 0), cpuNs_(std::llround(cpuMs * 1e6)) {}
  void Draw() override {}
  void MonoAudioCallback(double* buffer, unsigned int nFrames, double) override {
    const long long until = CpuNs() + cpuNs_;
    while (CpuNs() < until) {
    }
    for (unsigned int i = 0; i < nFrames; ++i) buffer[i] = 0.0;
  }

 private:
  static long long CpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
  }
  long long cpuNs_;
};

// One line per buffer size; a size that is not a power of two shares the line of the next power
// of two, which names the size seen last. The buffer's length is at the stream's rate. A call
// that takes more than a quarter of its buffer in processor time is counted: here 1 ms of the
// 2.9 ms of 128 frames, a third, which leaves the rest of the mix more than 0.4 ms to spare
// below a half.
using CallbackTimingTest = EngineTest;
TEST_F(CallbackTimingTest, EachBufferSizeIsReportedWithItsLength) {
  std::vector<double> out(2 * 1024);
  for (unsigned int frames : {512u, 1024u, 1000u}) {
    callback_timer::TimedAudioMixerCallback(out.data(), nullptr, frames, 0.0, 0, nullptr);
  }
  AddPad(new BusyPad(1.0));
  callback_timer::TimedAudioMixerCallback(out.data(), nullptr, 128, 0.0, 0, nullptr);
  char* text = nullptr;
  size_t size = 0;
  std::FILE* stream = open_memstream(&text, &size);
  callback_timer::Print(stream);
  std::fclose(stream);
  const std::string report(text, size);
  std::free(text);
  for (const char* line : {"512 frames, 1 calls, worst", "of a 11.610 ms buffer",
                           "1000 frames, 2 calls, worst", "of a 22.676 ms buffer"}) {
    EXPECT_NE(report.find(line), std::string::npos) << line << " in:\n" << report;
  }
  const size_t busy = report.find("128 frames, 1 calls, worst");
  ASSERT_NE(busy, std::string::npos) << report;
  const std::string line = report.substr(busy, report.find('\n', busy) - busy);
  EXPECT_NE(line.find(", 1 calls above 25 %"), std::string::npos) << line;
}

}  // namespace
