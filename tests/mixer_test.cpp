// The mixer callback: pad gain, the limiter, the menu theme under its envelope, sound-effect
// restarts asked for from another thread, recording, and chunk-size independence.

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "FileWvIn.h"
#include "audio_mixer.h"
#include "mono_sound_pad.h"
#include "record_pad.h"
#include "test_support.h"

namespace {

// Outputs a constant level on every frame.
class ConstantPad : public MonoSoundPad {
 public:
  explicit ConstantPad(double level) : MonoSoundPad(0, 0, 10, 10), level(level) {}
  void Draw() override {}
  double level;

 protected:
  void MonoAudioCallback(double* buffer, unsigned int nFrames, double) override {
    for (unsigned int i = 0; i < nFrames; ++i) buffer[i] = level;
  }
};

TEST(Limiter, CompressesAboveThresholdAndClipsAtFullScale) {
  double left = 1.2, right = 0.3;
  LimitFrame(left, right);
  EXPECT_NEAR(left, 0.86667, 1e-5);
  EXPECT_NEAR(right, 0.21667, 1e-5);

  left = 3.2;
  right = -3.2;
  LimitFrame(left, right);
  EXPECT_DOUBLE_EQ(left, 1.0) << "3.2 compresses to 1.2 and is clamped";
  EXPECT_DOUBLE_EQ(right, -1.0);

  left = -0.8;
  right = 0.5;
  LimitFrame(left, right);
  EXPECT_DOUBLE_EQ(left, -0.8) << "exactly the threshold is untouched";
  EXPECT_DOUBLE_EQ(right, 0.5);

  left = 0.1;
  right = -1.4;  // the louder channel decides for both
  LimitFrame(left, right);
  const double gain = (0.8 + 0.6 / 6.0) / 1.4;
  EXPECT_NEAR(left, 0.1 * gain, 1e-12);
  EXPECT_NEAR(right, -1.4 * gain, 1e-12);
}

class MixerTest : public EngineTest {
 protected:
  void TearDown() override {
    gameState.menuTheme.closeFile();
    gameState.selectSound.closeFile();
    gameState.menuThemeEnvelope.setValue(0.0);
    EngineTest::TearDown();
  }

  // A stereo theme whose left channel ramps up and right channel ramps down, in a temp file.
  void LoadTheme(unsigned int frames) {
    std::vector<double> samples(2 * frames);
    for (unsigned int i = 0; i < frames; ++i) {
      samples[2 * i] = 0.5 * i / frames;
      samples[2 * i + 1] = -0.5 * i / frames;
    }
    const std::string path = MakeTempDir() + "/theme.wav";
    WriteTestWav(path, samples, 2);
    gameState.menuTheme.openFile(path, false, false, true);
  }
};

TEST_F(MixerTest, PadsAddAtHalfLevelToBothChannels) {
  AddPad(new ConstantPad(1.0));
  const std::vector<double> out = RunBuffer(0.0, 64);
  for (double sample : out) ASSERT_DOUBLE_EQ(sample, 0.5);

  AddPad(new ConstantPad(1.4));  // 0.5 + 0.7 = 1.2, above the threshold
  const std::vector<double> loud = RunBuffer(0.01, 64);
  EXPECT_NEAR(loud[0], 0.8 + 0.4 / 6.0, 1e-12);
}

TEST_F(MixerTest, ThemeIsScaledByItsEnvelopeChannelByChannel) {
  LoadTheme(4410);
  gameState.menuThemeEnvelope.setValue(1.0);
  const std::vector<double> out = RunBuffer(0.0, 512);
  for (unsigned int i = 1; i < 512; ++i) {
    ASSERT_GT(out[2 * i], out[2 * (i - 1)]) << "left rises";
    ASSERT_LT(out[2 * i + 1], out[2 * (i - 1) + 1]) << "right falls";
    ASSERT_NEAR(out[2 * i], -out[2 * i + 1], 1e-4);
  }
  gameState.menuThemeEnvelope.setValue(0.0);
  const std::vector<double> silent = RunBuffer(0.02, 512);
  EXPECT_EQ(Peak(silent), 0.0);
}

TEST_F(MixerTest, FadeAskedForOnAnotherThreadRampsOverOneSecond) {
  std::vector<double> samples(2 * 44100, 0.5);
  const std::string path = MakeTempDir() + "/flat.wav";
  WriteTestWav(path, samples, 2);
  gameState.menuTheme.openFile(path, false, false, true);
  gameState.menuThemeEnvelope.setRate(1.0 / (GameState::kMenuThemeFadeTime * 44100.0));
  gameState.menuThemeEnvelope.setValue(0.0);

  EXPECT_EQ(Peak(RunBuffer(0.0, 441)), 0.0) << "nothing before the request";
  gameState.FadeMenuTheme(1.0);
  const std::vector<double> ramp = LeftChannel(RunSeconds(0.01, 1.2, 441));
  EXPECT_NEAR(ramp[22050], 0.25, 0.01) << "half-way through the fade";
  EXPECT_NEAR(ramp[44100 + 441], 0.5, 1e-3) << "full level after one second";
}

TEST_F(MixerTest, RestartedEffectPlaysOnceFromTheNextBuffer) {
  std::vector<double> blip(2 * 300);
  for (unsigned int i = 0; i < 300; ++i) blip[2 * i] = blip[2 * i + 1] = 0.4 * std::sin(i * 0.3);
  const std::string path = MakeTempDir() + "/blip.wav";
  WriteTestWav(path, blip, 2);
  gameState.selectSound.openFile(path, false, false, true);
  gameState.selectSound.addTime(1000000.0);

  EXPECT_EQ(Peak(RunBuffer(0.0, 512)), 0.0) << "armed and silent";
  gameState.RestartSound(SoundEffect::kSelect);
  const std::vector<double> played = RunBuffer(0.02, 512);
  EXPECT_GT(Peak(played, 0, 600), 0.3);
  EXPECT_EQ(Peak(played, 600), 0.0) << "plays once, then silence";
  EXPECT_EQ(Peak(RunBuffer(0.04, 512)), 0.0);
}

TEST_F(MixerTest, RecordingHoldsExactlyTheLimitedBuffersWhileOn) {
  auto* pad = new ConstantPad(1.4);  // mix 0.7, limits nothing; then louder
  AddPad(pad);
  const std::string dir = MakeTempDir();
  RecordPad::SetRecordingFolder(dir + "/");
  gameState.recorder.StartCapture();  // as the record pad does, on this (audio) thread
  RunBuffer(0.0, 256);
  pad->level = 2.4;  // mix 1.2, limited to about 0.8667
  RunBuffer(256 / 44100.0, 256);
  gameState.recorder.StopCapture();
  RunBuffer(512 / 44100.0, 256);
  gameState.recorder.Drain();

  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) files.push_back(entry.path());
  ASSERT_EQ(files.size(), 1u);
  stk::FileWvIn file(files[0], false, false);
  ASSERT_EQ(file.getSize(), 512u) << "two buffers while on, none after";
  ASSERT_EQ(file.channelsOut(), 2u);
  stk::StkFrames frames(512, 2);
  file.tick(frames);
  EXPECT_NEAR(frames(0, 0), 0.7, 1e-4);
  EXPECT_NEAR(frames(300, 1), 0.8 + 0.4 / 6.0, 1e-4);
}

TEST_F(MixerTest, SmallBuffersRenderTheSameThemeAsOneLargeBuffer) {
  LoadTheme(3000);
  gameState.menuThemeEnvelope.setValue(0.0);
  gameState.menuThemeEnvelope.setTarget(1.0);
  std::vector<double> whole = RunBuffer(0.0, 2048);

  gameState.menuTheme.reset();
  gameState.menuThemeEnvelope.setValue(0.0);
  gameState.menuThemeEnvelope.setTarget(1.0);
  std::vector<double> chunks;
  for (int i = 0; i < 32; ++i) {
    const std::vector<double> part = RunBuffer(i * 64 / 44100.0, 64);
    chunks.insert(chunks.end(), part.begin(), part.end());
  }
  ASSERT_EQ(whole.size(), chunks.size());
  for (size_t i = 0; i < whole.size(); ++i) ASSERT_DOUBLE_EQ(whole[i], chunks[i]) << i;
}

}  // namespace
