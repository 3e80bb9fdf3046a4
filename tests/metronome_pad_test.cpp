// Metronome pad: switching on the press edge, a click on the first buffer of every beat,
// exact silence while off, switching cuts a sounding click, and the highlight.

#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common.h"
#include "game_state.h"
#include "metronome_pad.h"
#include "test_support.h"

namespace {

constexpr unsigned int kFrames = 512;
constexpr int kClickFrames = 3000;  // shorter than a step (5512 frames)
constexpr int kBeatFrames = 22050;  // half a second at 120 beats per minute

class MetronomePadTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    // A falling ramp: every frame differs, so a restart at the wrong moment shows. The reader
    // normalises it to a peak of 1.0, which the mixer halves.
    std::vector<double> click(kClickFrames);
    for (int i = 0; i < kClickFrames; ++i) click[i] = 0.6 * (1.0 - double(i) / kClickFrames);
    clickFile_ = MakeTempDir() + "/click.wav";
    WriteTestWav(clickFile_, click, 1);
    pad_ = new MetronomePad(50, 500, 100, 75, clickFile_);
    AddPad(pad_);
    OnPad();
  }

  void OnPad() { input.MoveTo(100, 530); }
  void OffPad() { input.MoveTo(300, 300); }

  // Left channel of buffer i (512 frames from stream time 0) with the given buttons held.
  std::vector<double> Buffer(int i, uint32_t buttons = 0) {
    input.buttons = buttons;
    return LeftChannel(RunBuffer(BufferTime(i, kFrames), kFrames));
  }

  // Mixer output of frame i of the click: normalised to 1.0, at half level.
  static double ClickAt(long i) {
    return i >= 0 && i < kClickFrames ? 0.5 * (1.0 - double(i) / kClickFrames) : 0.0;
  }

  std::string clickFile_;
  MetronomePad* pad_ = nullptr;
};

TEST_F(MetronomePadTest, SwitchesOnThePressEdgeOnly) {
  EXPECT_FALSE(pad_->Enabled()) << "a new pad is off";
  Buffer(0, 0);
  Buffer(1, 1);
  EXPECT_TRUE(pad_->Enabled());
  EXPECT_TRUE(pad_->Pressed());
  for (int i = 2; i < 6; ++i) {
    Buffer(i, 1);
    EXPECT_TRUE(pad_->Enabled()) << "holding the button switches nothing more, buffer " << i;
  }
  Buffer(6, 0);
  EXPECT_FALSE(pad_->Pressed());
  EXPECT_TRUE(pad_->Enabled());
  Buffer(7, 1);
  EXPECT_FALSE(pad_->Enabled()) << "the next press switches it off";
  Buffer(8, 0);

  OffPad();
  Buffer(9, 1);
  EXPECT_FALSE(pad_->Enabled()) << "a press outside the pad";
  EXPECT_FALSE(pad_->Pressed());
  Buffer(10, 0);

  OnPad();
  Buffer(11, 1);
  EXPECT_TRUE(pad_->Pressed());
  OffPad();
  Buffer(12, 0);
  EXPECT_FALSE(pad_->Pressed()) << "a release anywhere ends the press";
  EXPECT_TRUE(pad_->Enabled());
}

TEST_F(MetronomePadTest, ClickStartsInTheFirstBufferOfEveryBeat) {
  Buffer(0, 1);  // switched on at stream time 0: the first click waits for the next beat
  std::vector<double> left;
  const int buffers = 2.6 * 44100 / kFrames;
  for (int i = 1; i < buffers; ++i) {
    const std::vector<double> out = Buffer(i, 0);
    left.insert(left.end(), out.begin(), out.end());
  }
  // The click restarts in the first buffer that starts at or after each beat (0.5 s, 1.0 s,
  // ... including step 0 of the second loop) and nowhere else.
  long restart = -1;
  int beat = 1;
  for (size_t n = 0; n < left.size(); ++n) {
    const long frame = static_cast<long>(n) + kFrames;  // left starts at buffer 1
    if (frame % kFrames == 0 && frame >= long(beat) * kBeatFrames) {
      restart = frame;
      ++beat;
    }
    const double expected = restart < 0 ? 0.0 : ClickAt(frame - restart);
    ASSERT_NEAR(left[n], expected, 1e-3) << "frame " << frame << ", beat " << beat - 1;
  }
  EXPECT_EQ(beat, 6) << "five beats in 2.6 seconds";
}

TEST_F(MetronomePadTest, ExactSilenceWhileOff) {
  const std::vector<double> out = RunSeconds(0.0, 2.5, kFrames);
  for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], 0.0) << "sample " << i;

  // Switched on and off again between two beats: still nothing.
  Buffer(10, 1);
  Buffer(11, 0);
  Buffer(12, 1);
  for (int i = 13; i < 100; ++i) {
    const std::vector<double> left = Buffer(i, 0);
    ASSERT_EQ(Peak(left), 0.0) << "buffer " << i;
  }
}

TEST_F(MetronomePadTest, SwitchingCutsASoundingClickAtOnce) {
  Buffer(0, 1);
  for (int i = 1; i < 44; ++i) Buffer(i, 0);
  const std::vector<double> beat = Buffer(44, 0);  // 0.5108 s: the first buffer of beat 2
  EXPECT_NEAR(beat[0], ClickAt(0), 1e-3);

  EXPECT_EQ(Peak(Buffer(45, 1)), 0.0) << "switched off in the middle of the click";
  Buffer(46, 0);
  EXPECT_EQ(Peak(Buffer(47, 1)), 0.0) << "switched on again: the cut click does not resume";
  EXPECT_TRUE(pad_->Enabled());
  for (int i = 48; i < 87; ++i) ASSERT_EQ(Peak(Buffer(i, 0)), 0.0) << "buffer " << i;
  EXPECT_NEAR(Buffer(87, 0)[0], ClickAt(0), 1e-3) << "the next beat clicks";
}

TEST_F(MetronomePadTest, HighlightAddsPointerPressAndBeat) {
  OffPad();
  Buffer(43, 0);
  Buffer(44, 0);
  EXPECT_FLOAT_EQ(pad_->OverlayAlpha(0.52), 0.0f) << "off: the beat does not flash";

  OnPad();
  EXPECT_FLOAT_EQ(pad_->OverlayAlpha(0.52), 0.15f);
  Buffer(45, 1);  // 0.5224 s, inside the late window of beat 2
  EXPECT_FLOAT_EQ(pad_->OverlayAlpha(0.525), 0.45f) << "pointer, press and beat window";
  EXPECT_FLOAT_EQ(pad_->OverlayAlpha(0.56), 0.30f) << "past the late window";
  OffPad();
  EXPECT_FLOAT_EQ(pad_->OverlayAlpha(0.56), 0.15f) << "the press still counts off the pad";
}

// The program's pad opens its click from the content folder below the working directory.
TEST_F(MetronomePadTest, OpensTheContentClickAndRejectsAMissingFile) {
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  const bool generated = FileExists(MetronomePad::kClickFile);
  if (!generated) {
    // The content generator has not run in this build: a stand-in in a folder of its own.
    const std::string dir = MakeTempDir();
    ASSERT_EQ(system(("mkdir -p " + dir + "/MarluneContent/sfx").c_str()), 0);
    WriteTestWav(dir + "/" + MetronomePad::kClickFile, std::vector<double>(2000, 0.3), 1);
    ASSERT_EQ(chdir(dir.c_str()), 0);
  }
  MetronomePad* pad = new MetronomePad(50, 500, 100, 75);
  if (!generated) {
    ASSERT_EQ(chdir(previous), 0);
  }
  gameState.pads.clear();
  delete pad_;
  pad_ = nullptr;
  AddPad(pad);

  Buffer(0, 1);
  EXPECT_EQ(Peak(Buffer(1, 0)), 0.0) << "silent until the next beat";
  for (int i = 2; i < 44; ++i) Buffer(i, 0);
  EXPECT_GT(Peak(Buffer(44, 0)), 0.05) << "the click sounds on beat 2";

  EXPECT_THROW(MetronomePad(0, 0, 10, 10, clickFile_ + ".missing"), stk::StkError);
}

}  // namespace
