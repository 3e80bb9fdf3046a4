// The pad framework: mono pads spread to both channels, silent pads clear their buffer, and
// every pad gets exactly one call per buffer, even an empty one.

#include <vector>

#include "mono_sound_pad.h"
#include "soundless_sound_pad.h"
#include "test_support.h"

namespace {

class RampPad : public MonoSoundPad {
 public:
  RampPad() : MonoSoundPad(0, 0, 10, 10) {}
  void Draw() override {}
  int calls = 0;

 protected:
  void MonoAudioCallback(double* buffer, unsigned int nFrames, double) override {
    ++calls;
    for (unsigned int i = 0; i < nFrames; ++i) buffer[i] = 0.001 * (i + 1);
  }
};

class QuietPad : public SoundlessSoundPad {
 public:
  QuietPad() : SoundlessSoundPad(0, 0, 10, 10) {}
  void Draw() override {}
  int updates = 0;

 protected:
  void UpdateCallback(double) override { ++updates; }
};

TEST(PadFramework, MonoPadSpreadsEachSampleToBothChannelsInOrder) {
  for (unsigned int frames : {1u, 2u, 7u, 64u, 512u}) {
    RampPad pad;
    std::vector<double> buffer(2 * frames, -9.0);
    pad.AudioCallback(buffer.data(), frames, 0.0);
    for (unsigned int i = 0; i < frames; ++i) {
      ASSERT_DOUBLE_EQ(buffer[2 * i], 0.001 * (i + 1)) << frames << " frames, frame " << i;
      ASSERT_DOUBLE_EQ(buffer[2 * i + 1], 0.001 * (i + 1)) << frames << " frames, frame " << i;
    }
  }
}

TEST(PadFramework, SilentPadZeroesStaleScratchAndUpdatesOnce) {
  QuietPad pad;
  std::vector<double> buffer(2 * 64, 0.7);
  pad.AudioCallback(buffer.data(), 64, 0.0);
  for (double sample : buffer) ASSERT_EQ(sample, 0.0);
  EXPECT_EQ(pad.updates, 1);
}

class PadFrameworkMixTest : public EngineTest {};

TEST_F(PadFrameworkMixTest, EmptyBuffersStillCallEveryPadAndWriteNothing) {
  auto* mono = new RampPad();
  auto* quiet = new QuietPad();
  AddPad(mono);
  AddPad(quiet);
  const std::vector<double> out = RunBuffer(0.0, 0);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(mono->calls, 1);
  EXPECT_EQ(quiet->updates, 1);
}

TEST_F(PadFrameworkMixTest, StaleScratchFromAnEarlierPadNeverLeaksIntoASilentOne) {
  AddPad(new RampPad());
  AddPad(new QuietPad());
  const std::vector<double> out = RunBuffer(0.0, 64);
  for (unsigned int i = 0; i < 64; ++i) {
    EXPECT_DOUBLE_EQ(out[2 * i], 0.5 * 0.001 * (i + 1)) << "only the ramp pad at half level";
  }
}

}  // namespace
