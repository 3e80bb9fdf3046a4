// The mixer callback: pads at half level in both channels, the limiter, the menu theme's fade
// and sound-effect restarts asked for from another thread, and recording.

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "FileWvIn.h"
#include "audio_mixer.h"
#include "mono_sound_pad.h"
#include "soundless_sound_pad.h"
#include "test_support.h"

namespace {

// Outputs `level` times the frame's number (from 1) on every frame.
class RampPad : public MonoSoundPad {
 public:
  RampPad() : MonoSoundPad(0, 0, 10, 10) {}
  void Draw() override {}
  void MonoAudioCallback(double* buffer, unsigned int nFrames, double) override {
    for (unsigned int i = 0; i < nFrames; ++i) buffer[i] = 0.01 * (i + 1);
  }
};

class QuietPad : public SoundlessSoundPad {
 public:
  QuietPad() : SoundlessSoundPad(0, 0, 10, 10) {}
  void Draw() override {}
  void UpdateCallback(double) override {}
};

TEST(Limiter, CompressesAboveThresholdAndClipsAtFullScale) {
  const double kneeGain = (0.8 + 0.6 / 6.0) / 1.4;
  const struct { double left, right, limitedLeft, limitedRight; } cases[] = {
      {1.2, 0.3, 0.8 + 0.4 / 6.0, 0.3 * (0.8 + 0.4 / 6.0) / 1.2},
      {3.2, -3.2, 1.0, -1.0},  // compressed to 1.2, then clipped
      {-3.2, 3.2, -1.0, 1.0},
      {-0.8, 0.5, -0.8, 0.5},  // exactly the threshold is untouched
      {0.1, -1.4, 0.1 * kneeGain, -1.4 * kneeGain},  // the louder channel decides for both
  };
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
  // Opens a stereo file whose left channel holds `left` and right channel its negation.
  template <typename Reader>
  void Open(Reader& reader, std::vector<double> left) {
    std::vector<double> samples;
    for (double sample : left) samples.insert(samples.end(), {sample, -sample});
    const std::string path = MakeTempDir() + "/sound.wav";
    WriteTestWav(path, samples, 2);
    reader.openFile(path, false, false, true);
  }
};

TEST_F(MixerTest, PadsAddAtHalfLevelToBothChannelsWithoutStaleScratchAndAreLimited) {
  AddPad(new RampPad());
  AddPad(new QuietPad());  // must clear the scratch the ramp pad left
  const std::vector<double> out = RunBuffer(0.0, 256);
  for (unsigned int i = 0; i < 256; ++i) {
    double left = 0.5 * 0.01 * (i + 1), right = left;  // above the threshold from frame 160 on
    LimitFrame(left, right);
    ASSERT_DOUBLE_EQ(out[2 * i], left) << i;
    ASSERT_DOUBLE_EQ(out[2 * i + 1], right) << i;
  }
}

TEST_F(MixerTest, FadeAndEffectAskedForOnAnotherThread) {
  Open(gameState.menuTheme, std::vector<double>(44100, 0.5));
  gameState.menuThemeEnvelope.setRate(1.0 / (GameState::kMenuThemeFadeTime * 44100.0));
  gameState.menuThemeEnvelope.setValue(0.0);
  EXPECT_EQ(Peak(RunBuffer(0.0, 441)), 0.0) << "nothing before the request";
  gameState.FadeMenuTheme(1.0);
  const std::vector<double> ramp = RunSeconds(0.01, 1.2, 441);
  EXPECT_NEAR(ramp[2 * 22050], 0.25, 0.01) << "half-way through the fade";
  EXPECT_NEAR(ramp[2 * 44541], 0.5, 1e-3) << "full level after one second";
  EXPECT_NEAR(ramp[2 * 44541 + 1], -0.5, 1e-3) << "the right channel from the file's right";
  gameState.menuThemeEnvelope.setValue(0.0);

  std::vector<double> blip(300);
  for (size_t i = 0; i < blip.size(); ++i) blip[i] = 0.4 * std::sin(i * 0.3);
  Open(gameState.selectSound, blip);
  gameState.selectSound.addTime(1000000.0);
  EXPECT_EQ(Peak(RunBuffer(0.0, 512)), 0.0) << "armed and silent";
  gameState.RestartSound(SoundEffect::kSelect);
  const std::vector<double> played = RunBuffer(0.02, 512);
  EXPECT_GT(Peak(played, 0, 600), 0.3);
  EXPECT_EQ(Peak(played, 600), 0.0) << "plays once, then silence";
}

TEST_F(MixerTest, RecordingHoldsExactlyTheBuffersPlayedWhileOn) {
  AddPad(new RampPad());
  gameState.recorder.StartCapture();  // as the record pad does, on this (audio) thread
  const std::vector<double> played = RunBuffer(0.0, 256);
  gameState.recorder.StopCapture();
  RunBuffer(256 / 44100.0, 256);
  gameState.recorder.Drain();
  std::filesystem::directory_iterator files(recordingFolder);
  ASSERT_NE(files, end(files)) << "no recording";
  stk::FileWvIn file(files->path(), false, false);
  ASSERT_EQ(file.getSize(), 256u) << "the buffer played while on, none after";
  stk::StkFrames frames(256, 2);
  file.tick(frames);
  for (unsigned int i = 0; i < 512; ++i) ASSERT_NEAR(frames[i], played[i], 1e-4) << i;
}

}  // namespace
