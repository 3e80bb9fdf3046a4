// Metronome pad: switching on the press edge, a click on the first buffer of every beat,
// exact silence while off, and switching cuts a sounding click.

#include "metronome_pad.h"
#include "test_support.h"

namespace {

constexpr int kFrames = 512;
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
    const std::string file = MakeTempDir() + "/click.wav";
    WriteTestWav(file, click, 1);
    pad_ = new MetronomePad(50, 500, 100, 75, file);
    AddPad(pad_);
    input.MoveTo(100, 530);
  }

  // Left channel of buffer i (512 frames from stream time 0) with the given buttons held.
  std::vector<double> Buffer(int i, uint32_t buttons = 0) {
    input.buttons = buttons;
    return LeftChannel(RunBuffer(BufferTime(i, kFrames), kFrames));
  }
  // Mixer output of frame i of the click.
  static double ClickAt(long i) {
    return i >= 0 && i < kClickFrames ? 0.5 * (1.0 - double(i) / kClickFrames) : 0.0;
  }

  MetronomePad* pad_ = nullptr;
};

TEST_F(MetronomePadTest, SwitchesOnThePressEdgeOnlyAndIsExactlySilentWhileOff) {
  EXPECT_EQ(Peak(RunSeconds(0.0, 2.5)), 0.0) << "a new pad is off";
  // Each press on the pad switches; holding, releasing or pressing elsewhere switches nothing.
  struct Case { bool onPad; uint32_t buttons; bool enabled, pressed; };
  const Case cases[] = {{true, 1, true, true},   {true, 1, true, true},    {true, 0, true, false},
                        {true, 1, false, true},  {true, 0, false, false},  {false, 1, false, false},
                        {false, 0, false, false}, {true, 1, true, true},   {false, 0, true, false}};
  int i = 220;  // after 2.55 s
  for (const Case& c : cases) {
    input.MoveTo(c.onPad ? 100 : 300, c.onPad ? 530 : 300);
    Buffer(i++, c.buttons);
    EXPECT_EQ(pad_->Enabled(), c.enabled) << "buffer " << i - 1;
    EXPECT_EQ(pad_->Pressed(), c.pressed) << "buffer " << i - 1;
  }
}

TEST_F(MetronomePadTest, ClickStartsInTheFirstBufferOfEveryBeat) {
  Buffer(0, 1);  // switched on at stream time 0: the first click waits for the next beat
  const std::vector<double> left = LeftChannel(RunSeconds(BufferTime(1), 2.6 - BufferTime(1)));
  // The click restarts in the first buffer that starts at or after each beat (0.5 s, 1.0 s,
  // ... including step 0 of the second loop) and nowhere else.
  long restart = -1;
  int beat = 1;
  for (long frame = kFrames; frame < kFrames + static_cast<long>(left.size()); ++frame) {
    if (frame % kFrames == 0 && frame >= long(beat) * kBeatFrames) {
      restart = frame;
      ++beat;
    }
    const double expected = restart < 0 ? 0.0 : ClickAt(frame - restart);
    ASSERT_NEAR(left[frame - kFrames], expected, 1e-3) << "frame " << frame << ", beat " << beat;
  }
  EXPECT_EQ(beat, 6) << "five beats in 2.6 seconds";
}

TEST_F(MetronomePadTest, SwitchingCutsASoundingClickAtOnce) {
  Buffer(0, 1);
  for (int i = 1; i < 44; ++i) Buffer(i);
  EXPECT_NEAR(Buffer(44)[0], ClickAt(0), 1e-3) << "0.5108 s: the first buffer of beat 2";
  EXPECT_EQ(Peak(Buffer(45, 1)), 0.0) << "switched off in the middle of the click";
  Buffer(46);
  EXPECT_EQ(Peak(Buffer(47, 1)), 0.0) << "switched on again: the cut click does not resume";
  EXPECT_TRUE(pad_->Enabled());
  for (int i = 48; i < 87; ++i) ASSERT_EQ(Peak(Buffer(i)), 0.0) << "buffer " << i;
  EXPECT_NEAR(Buffer(87)[0], ClickAt(0), 1e-3) << "the next beat clicks";
}

}  // namespace
