// Loop timing: steps, step changes, late and beat windows, sample counts, key frequencies.

#include <cmath>

#include "common.h"
#include "game_state.h"
#include "test_support.h"

namespace {

class TimingTest : public EngineTest {
 protected:
  // Publishes t as the previous buffer's stream time, as the mixer does after its pads.
  void PreviousBufferAt(double t) { gameState.lastStreamTime.store(t); }
  // Sets the late window the mixer computes for a buffer size, frames.
  void LateWindowFor(unsigned int frames) {
    gameState.bufferFrames.store(frames);
    RunBuffer(0.0, 0);
  }
};

TEST_F(TimingTest, StreamTimesMapToStepsOfTheLoop) {
  EXPECT_EQ(TimeToStep(0.0), 0);
  EXPECT_EQ(TimeToStep(0.124), 0);
  EXPECT_EQ(TimeToStep(0.125), 1);
  EXPECT_EQ(TimeToStep(1.999), 15);
  EXPECT_EQ(TimeToStep(2.0), 0);
  EXPECT_EQ(TimeToStep(5.3), 10);
}

TEST_F(TimingTest, StepChangeComparesWithThePreviousBuffer) {
  PreviousBufferAt(1.99);
  EXPECT_TRUE(StepChange(2.001)) << "the wrap from step 15 to step 0 is a change";
  PreviousBufferAt(0.126);
  EXPECT_FALSE(StepChange(0.2)) << "two buffers in one step";
  PreviousBufferAt(0.0);
  EXPECT_FALSE(StepChange(0.0)) << "the first buffer of a fresh stream";
}

TEST_F(TimingTest, LateWindowIsAQuarterStepPlusOneBuffer) {
  for (unsigned int frames : {64u, 512u, 2048u}) {
    LateWindowFor(frames);
    EXPECT_NEAR(gameState.loopOptions.lateWindow.load(), (1378 + frames) / 44100.0, 1e-12)
        << frames;
  }
}

TEST_F(TimingTest, LateWindowBoundaryInsideAStep) {
  LateWindowFor(512);
  PreviousBufferAt(0.6);
  EXPECT_TRUE(LateTimingWindow(0.625 + 0.042));
  EXPECT_FALSE(LateTimingWindow(0.625 + 0.044));
  EXPECT_TRUE(LateTimingWindow(0.625)) << "the first instant of a step";
}

TEST_F(TimingTest, BeatWindowOnlyOnTheFirstStepOfABeat) {
  LateWindowFor(512);
  for (int step = 0; step < 16; ++step) {
    const double start = step * 0.125;
    PreviousBufferAt(start > 0.01 ? start - 0.01 : 1.99);
    EXPECT_EQ(BeatWindow(start + 0.001), step % 4 == 0) << "step " << step;
  }
  PreviousBufferAt(0.505);
  EXPECT_TRUE(BeatWindow(0.52)) << "inside the late window of beat 2";
  EXPECT_FALSE(BeatWindow(0.56)) << "past the late window";
}

TEST_F(TimingTest, StepsToSamplesAndKeyFrequencies) {
  EXPECT_EQ(StepsToSamples(0.125), 689);
  EXPECT_EQ(StepsToSamples(0.0), 0);
  EXPECT_EQ(StepsToSamples(3.0), 16537);
  EXPECT_DOUBLE_EQ(KeyToFrequency(69), 440.0);
  EXPECT_NEAR(KeyToFrequency(81), 880.0, 1e-9);
  EXPECT_NEAR(KeyToFrequency(57), 220.0, 1e-9);
  EXPECT_NEAR(KeyToFrequency(60), 261.6255653, 1e-6);
  EXPECT_NEAR(KeyToFrequency(49), 138.5913155, 1e-6);
}

}  // namespace
