// The mixer callback: pads at half level in both channels, the limiter, the menu theme's fade
// and sound-effect restarts asked for from another thread; and the stream
// supervisor that decides each buffer's fate: telling a lost stream from a hiccup, and pacing
// the attempts to reopen it, and how many buffers it keeps queued.

#include <cmath>
#include <string>

#include "audio_mixer.h"
#include "mono_sound_pad.h"
#include "stream_supervisor.h"
#include "test_support.h"

namespace {

// Outputs 0.01 times the frame's number (from 1) on every frame.
class RampPad : public MonoSoundPad {
 public:
  RampPad() : MonoSoundPad(0, 0, 10, 10) {}
  void Draw() override {}
  void MonoAudioCallback(double* buffer, unsigned int nFrames, double) override {
    for (unsigned int i = 0; i < nFrames; ++i) buffer[i] = 0.01 * (i + 1);
  }
};

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

class MixerTest : public EngineTest {
 protected:
  void TearDown() override {
    gameState.menuTheme.closeFile();
    gameState.selectSound.closeFile();
    gameState.menuThemeEnvelope.setValue(0.0);
    EngineTest::TearDown();
  }
};

TEST_F(MixerTest, PadsAddAtHalfLevelToBothChannelsAndAreLimited) {
  AddPad(new RampPad());
  const std::vector<double> out = RunBuffer(0.0, 256);
  for (unsigned int i = 0; i < 256; ++i) {
    double left = 0.5 * 0.01 * (i + 1), right = left;  // above the threshold from frame 160 on
    LimitFrame(left, right);
    ASSERT_DOUBLE_EQ(out[2 * i], left) << i;
    ASSERT_DOUBLE_EQ(out[2 * i + 1], right) << i;
  }
}

TEST_F(MixerTest, FadeAskedForOnAnotherThreadRampsOverOneSecond) {
  std::vector<double> theme(2 * 44100, 0.5);  // -0.5 on the right
  for (size_t i = 1; i < theme.size(); i += 2) theme[i] = -0.5;
  WriteTestWav(recordingFolder + "/theme.wav", theme, 2);
  gameState.menuTheme.openFile(recordingFolder + "/theme.wav", false, false, true);
  gameState.menuThemeEnvelope.setRate(1.0 / (GameState::kMenuThemeFadeTime * 44100.0));
  gameState.menuThemeEnvelope.setValue(0.0);
  EXPECT_EQ(Peak(RunBuffer(0.0, 441)), 0.0) << "nothing before the request";
  gameState.FadeMenuTheme(1.0);
  const std::vector<double> ramp = RunSeconds(0.01, 1.2, 441);
  EXPECT_NEAR(ramp[2 * 22050], 0.25, 0.01) << "half-way through the fade";
  EXPECT_NEAR(ramp[2 * 44541], 0.5, 1e-3) << "full level after one second";
  EXPECT_NEAR(ramp[2 * 44541 + 1], -0.5, 1e-3) << "the right channel from the file's right";
}

TEST_F(MixerTest, EffectRestartedOnAnotherThreadPlaysOnceFromTheNextBuffer) {
  WriteTestWav(recordingFolder + "/blip.wav", std::vector<double>(2 * 300, 0.4), 2);
  gameState.selectSound.openFile(recordingFolder + "/blip.wav", false, false, true);
  gameState.selectSound.addTime(1000000.0);
  EXPECT_EQ(Peak(RunBuffer(0.0, 512)), 0.0) << "armed and silent";
  gameState.RestartSound(SoundEffect::kSelect);  // the last of the effects
  const std::vector<double> played = RunBuffer(0.02, 512);
  EXPECT_GT(Peak(played, 0, 600), 0.3);
  EXPECT_EQ(Peak(played, 600), 0.0) << "plays once, then silence";
}

using Action = StreamSupervisor::Action;

// Small buffers keep at least 2048 frames queued (fewer break up on a busy desktop); larger
// ones keep the four that hold latency low.
TEST(StreamBuffers, SmallBuffersKeep2048FramesQueuedLargerOnesFour) {
  for (unsigned int frames : {64u, 128u, 256u, 512u, 2048u}) {
    EXPECT_EQ(GameState::StreamBuffers(frames), frames < 512 ? 2048 / frames : 4u) << frames;
  }
}

TEST(StreamSupervisorTest, ErrorsInARowMeanTheStreamIsLost) {
  // Events: r the stream starts running, b a buffer begins, w the library warns, f a fatal
  // error, s the stream is stopped on purpose. Each buffer's fate: P play, U unrecorded, S stop.
  // Lost: Poll then says to close the stream, and later to retry.
  const struct { const char* events; const char* fates; bool lost; } cases[] = {
      {"rbwbb", "PUP", false},                   // an underrun: one failed write
      {"rbwbwbbwbwbbwbb", "PUUPUUPUP", false},   // writes failing now and then
      {"rbwbwbwbwbb", "PUUUSS", true},           // a server gone: every write fails
      {"rbfb", "PS", true},                      // a fatal error
      {"wwwwf", "", false},                      // errors while no stream runs
      {"rfs", "", false},                        // closed on purpose before the loss was seen
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.events);
    StreamSupervisor supervisor;
    std::string fates;
    for (const char* e = c.events; *e != '\0'; ++e) {
      if (*e == 'r') supervisor.Starting();
      if (*e == 'b') fates += "PUS"[static_cast<int>(supervisor.BeginBuffer())];
      if (*e == 'w') supervisor.ReportError(false, "audio write error, Connection terminated.");
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
    EXPECT_EQ(supervisor.Poll(lostAt + 999), Action::kNone);
    EXPECT_EQ(supervisor.Poll(lostAt + 1000), Action::kRetry);
    supervisor.ReportError(true, "Connection refused.");  // the open fails, and says why
    supervisor.ReportError(true, "later");
    EXPECT_EQ(supervisor.TakeOpenError(), "Connection refused.");
    EXPECT_EQ(supervisor.TakeOpenError(), "");
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

}  // namespace
