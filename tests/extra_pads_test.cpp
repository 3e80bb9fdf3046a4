// The pads a layout may place beside the preset: the two synthesiser pads (keys across, velocity
// up, notes on the step grid) and the pointer-played sine test tone, driven through the real
// mixer.

#include <cmath>

#include "nes_bass_pad.h"
#include "simple_square_pad.h"
#include "test_sine_pad.h"
#include "test_support.h"

namespace {

constexpr double kStep = 0.125;  // seconds, default loop
constexpr double kBuffer = 512 / 44100.0;
// The pads' rectangle: 8 keys across 160 pixels, 100 pixels high.
constexpr int kX = 100;
constexpr int kY = 100;
constexpr int kW = 160;
constexpr int kH = 100;

// Frequency in Hz from the rising zero crossings of a left channel.
double Frequency(const std::vector<double>& left) {
  int rising = 0;
  for (size_t i = 1; i < left.size(); ++i) rising += left[i - 1] < 0.0 && left[i] >= 0.0;
  return rising * 44100.0 / left.size();
}

class ExtraPadsTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    NoteChord chord(57, 12);  // one note on A3: offset k sounds 220 * 2^k Hz
    chord.AddNote(0);
    gameState.loopOptions.chord.Install(chord);
    RunBuffer(0.0, 0);  // publishes the late window
  }
  // A bass pad looping `sample` (one cycle of a sine unless given).
  NesBassPad* AddBass(double pitchMultiplier = 1.0, std::vector<double> sample = {}) {
    if (sample.empty()) {
      for (int i = 0; i < 100; ++i) sample.push_back(std::sin(2 * M_PI * i / 100));
    }
    const std::string path = MakeTempDir() + "/wave.wav";
    WriteTestWav(path, sample, 1);
    auto* pad = new NesBassPad(kX, kY, kW, kH, 8, 0.25, pitchMultiplier, path);
    AddPad(pad);
    return pad;
  }
  SimpleSquarePad* AddSquare() {
    auto* pad = new SimpleSquarePad(kX, kY, kW, kH, 8, 0.25, 1.0);
    AddPad(pad);
    return pad;
  }
  // Holds `buttons` at (x, y) while the buffer at t runs; returns its left channel.
  std::vector<double> HoldAt(int x, int y, uint32_t buttons, double t) {
    input.MoveTo(x, y);
    input.buttons = buttons;
    return LeftChannel(RunBuffer(t));
  }
  // Left channel of consecutive buffers from t while t lies before end, advancing t.
  std::vector<double> Play(double& t, double end) {
    input.buttons = 0;
    std::vector<double> left;
    for (; t < end - 1e-9; t += kBuffer) {
      const std::vector<double> out = LeftChannel(RunBuffer(t));
      left.insert(left.end(), out.begin(), out.end());
    }
    return left;
  }
};

TEST_F(ExtraPadsTest, KeysRunAcrossAndVelocityUpOnBothSynthesiserPads) {
  const NesBassPad* bass = AddBass();
  const SimpleSquarePad* square = AddSquare();
  // 30 px in: 8 * 30/160 = 1.5 -> key 1; the right edge gives key 8, the next octave's root.
  struct Case { int x, y; int key; double velocity; };
  const Case cases[] = {{kX + 30, kY, 1, 0.25}, {kX + kW, kY + kH, 8, 1.0},
                        {kX, kY + kH / 2, 0, 0.625}, {kX + kW + 1, kY + 50, -1, 0.0}};
  for (int step = 1; step <= 4; ++step) {
    const Case& c = cases[step - 1];
    HoldAt(c.x, c.y, 1, step * kStep);
    for (const StepSequencer* seq : {&bass->Sequencer(), &square->Sequencer()}) {
      ASSERT_EQ(seq->IsActive(step), c.key >= 0) << "step " << step;
      if (c.key < 0) continue;  // one pixel right of the pad is outside it
      EXPECT_EQ(seq->NoteAt(step).offset, c.key) << "step " << step;
      EXPECT_DOUBLE_EQ(seq->NoteAt(step).velocity, c.velocity) << "step " << step;
    }
  }
}

TEST_F(ExtraPadsTest, NotesSoundTheChordFrequencyTimesThePadsMultiplier) {
  AddBass(0.5);
  HoldAt(kX + 30, kY + kH, 1, kStep);  // key 1 = 440 Hz, times 0.5
  double t = kStep + kBuffer;
  EXPECT_NEAR(Frequency(Play(t, 2 * kStep)), 220.0, 10.0);
  for (SoundPad* pad : gameState.pads) delete pad;
  gameState.pads.clear();
  AddSquare();
  EXPECT_GT(Peak(HoldAt(kX + 30, kY + kH, 1, 3 * kStep)), 0.3) << "sounds in its own buffer";
  t = 3 * kStep + kBuffer;
  EXPECT_NEAR(Frequency(Play(t, 3 * kStep + 0.06)), 440.0, 20.0);
}

TEST_F(ExtraPadsTest, BassNoteHoldsAtItsVelocityUntilAnEmptyBoundaryReleasesIt) {
  // A flat waveform (normalised to 1.0 on loading) makes the output the envelope at pad gain.
  AddBass(1.0, std::vector<double>(64, 0.5));
  std::vector<double> step1 = HoldAt(kX, kY + kH / 2, 1, kStep);  // velocity 0.625
  double t = kStep + kBuffer;
  const std::vector<double> rest = Play(t, 2 * kStep);
  EXPECT_NEAR(step1[10], 0.5, 0.01) << "attacks at once to full scale";
  EXPECT_NEAR(rest.back(), 0.5 * 0.625, 1e-6) << "then holds at the note's velocity";
  const std::vector<double> step2 = Play(t, 3 * kStep);
  EXPECT_LT(step2[100], rest.back()) << "the empty step 2 releases the note";
  EXPECT_EQ(Peak(step2, 512), 0.0) << "silent from its second buffer";

  // A note on the next step instead keeps the pad sounding across the boundary.
  Play(t, 2.0 + 2 * kStep);
  HoldAt(kX, kY + kH, 1, t);  // held as step 2 begins
  t += kBuffer;
  const std::vector<double> held = Play(t, 2.0 + 3 * kStep);
  EXPECT_NEAR(held.front(), 0.5, 1e-6);
  EXPECT_NEAR(held.back(), 0.5, 1e-6);
}

TEST_F(ExtraPadsTest, SquareNoteDecaysToSilenceAtARateSetByItsVelocity) {
  AddSquare();
  HoldAt(kX, kY + kH, 1, kStep);  // velocity 1.0 on step 1
  HoldAt(kX, kY, 1, 3 * kStep);   // velocity 0.25 on step 3
  // The next pass, played continuously: each note starts at frame 0 of its step's buffers.
  double t = 2.0;
  Play(t, 2.0 + kStep);
  const std::vector<double> loud = Play(t, 2.0 + 2 * kStep);
  const std::vector<double> empty = Play(t, 2.0 + 3 * kStep);
  const std::vector<double> soft = Play(t, 2.0 + 4 * kStep);
  // The envelope falls 1.0 per 0.1 s (4410 frames) to a sustain of zero; nothing releases it.
  EXPECT_GT(Peak(loud, 0, 512), 0.25);
  EXPECT_GT(Peak(loud, 4000, 4350), 0.0);
  EXPECT_EQ(Peak(loud, 4450), 0.0);
  EXPECT_EQ(Peak(empty), 0.0);
  EXPECT_GT(Peak(soft, 900, 1080), 0.0);
  EXPECT_EQ(Peak(soft, 1130), 0.0);
}

// Height is amplitude from silence to full scale, width frequency from 440 Hz to 880 Hz; with the
// button up or off the pad it is silent, and it resumes where it stopped.
TEST_F(ExtraPadsTest, SineTestToneFollowsThePointer) {
  AddPad(new TestSinePad(kX, kY, kW, kH));
  TestSinePad reference(kX, kY, kW, kH);  // run by hand, hears the same pointer without pauses
  struct Case { int x, y; uint32_t buttons; double peak, hz; };
  const Case cases[] = {{kX + kW / 2, kY, 1, 0.0, 0.0},          {kX, kY + kH, 1, 0.5, 440.0},
                        {kX + kW, kY + kH / 4, 1, 0.125, 880.0}, {kX, kY + kH, 0, 0.0, 0.0},
                        {kX + 300, kY + kH, 1, 0.0, 0.0},        {kX, kY + kH, 1, 0.5, 440.0}};
  double t = 0.0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << ", " << c.y << ", buttons " << c.buttons);
    input.MoveTo(c.x, c.y);
    input.buttons = c.buttons;
    const std::vector<double> out = LeftChannel(RunSeconds(t += 1.0, 0.5));
    EXPECT_NEAR(Peak(out), c.peak, 0.002);
    EXPECT_NEAR(Frequency(out), c.hz, c.hz / 50);
    if (c.buttons == 0 || c.x > kX + kW) continue;
    std::vector<double> expected(2 * out.size());
    reference.AudioCallback(expected.data(), out.size(), 0.0);
    for (size_t i = 0; i < out.size(); i += 97) ASSERT_DOUBLE_EQ(out[i], 0.5 * expected[2 * i]);
  }
}

}  // namespace
