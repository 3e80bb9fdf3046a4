// The pads a layout may place beside the preset: the two synthesiser pads (keys across, velocity
// up, notes on the step grid), the pointer-played sine test tone and the silent timing pad,
// all driven through the real mixer.

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "Stk.h"
#include "common.h"
#include "nes_bass_pad.h"
#include "pad_preset.h"
#include "simple_square_pad.h"
#include "test_sine_pad.h"
#include "test_support.h"
#include "timing_pad.h"

namespace {

constexpr double kRate = 44100.0;
constexpr double kStep = 0.125;  // seconds, default loop
constexpr unsigned int kFrames = 512;
constexpr double kBufferSeconds = kFrames / kRate;

// The synthesiser pads' rectangle: 8 keys across 160 pixels, 100 pixels high.
constexpr int kPadX = 100;
constexpr int kPadY = 100;
constexpr int kPadW = 160;
constexpr int kPadH = 100;
constexpr double kMinVelocity = 0.25;

// Frequency in Hz from the rising zero crossings of a signal, interpolated between samples.
double MeasureFrequency(const std::vector<double>& mono, size_t from = 0, size_t to = SIZE_MAX) {
  to = std::min(to, mono.size());
  double first = -1.0, last = -1.0;
  int crossings = 0;
  for (size_t i = from + 1; i < to; ++i) {
    if (mono[i - 1] < 0.0 && mono[i] >= 0.0) {
      const double at = (i - 1) + mono[i - 1] / (mono[i - 1] - mono[i]);
      if (first < 0.0) first = at;
      last = at;
      ++crossings;
    }
  }
  if (crossings < 2) return 0.0;
  return (crossings - 1) * kRate / (last - first);
}

// One cycle of a sine over n frames, at the given amplitude.
std::vector<double> SineCycle(int n, double amplitude) {
  std::vector<double> cycle(n);
  for (int i = 0; i < n; ++i) cycle[i] = amplitude * std::sin(2.0 * M_PI * i / n);
  return cycle;
}

class ExtraPadsTest : public EngineTest {
 protected:
  // Writes a mono stand-in for the bass pad's waveform and returns its path.
  std::string StandInSample(const std::vector<double>& samples) {
    const std::string path = MakeTempDir() + "/triangle.wav";
    WriteTestWav(path, samples, 1);
    return path;
  }
  NesBassPad* AddBass(const std::vector<double>& sample, double pitchMultiplier = 1.0) {
    auto* pad = new NesBassPad(kPadX, kPadY, kPadW, kPadH, 8, kMinVelocity, pitchMultiplier,
                               StandInSample(sample));
    AddPad(pad);
    return pad;
  }
  SimpleSquarePad* AddSquare(double pitchMultiplier = 1.0) {
    auto* pad = new SimpleSquarePad(kPadX, kPadY, kPadW, kPadH, 8, kMinVelocity, pitchMultiplier);
    AddPad(pad);
    return pad;
  }
  // A single-note chord on root key 57 (220 Hz): offset k sounds 220 * 2^k Hz.
  void InstallChordOnA() {
    NoteChord chord(57, 12);
    chord.AddNote(0);
    gameState.loopOptions.chord.Install(chord);
  }
  // Publishes the late window (no audio) so the first real buffer sees it.
  void Prime() { RunBuffer(0.0, 0); }
  void Hold(int x, int y, uint32_t buttons) {
    input.MoveTo(x, y);
    input.buttons = buttons;
  }
  // Runs consecutive buffers from t while t lies before end, advancing t; the envelopes move
  // with the audio rendered, so gaps in time would hide their decay. Returns the left channel.
  std::vector<double> Play(double& t, double end) {
    std::vector<double> left;
    for (; t < end - 1e-9; t += kBufferSeconds) {
      const std::vector<double> out = LeftChannel(RunBuffer(t));
      left.insert(left.end(), out.begin(), out.end());
    }
    return left;
  }
};

// ---- Where a pointer lands, on both synthesiser pads ----

template <typename Pad>
void ExpectKeysAndVelocities(const Pad& pad, const char* name) {
  SCOPED_TRACE(name);
  struct Expected { int step; int key; double velocity; };
  // 30 px in: 8 * 30/160 = 1.5 -> key 1; right edge: key 8 (no clamping); bottom edge:
  // minVelocity; top edge: 1.0; halfway up: 0.25 + 0.75 * 0.5.
  const Expected expected[] = {{1, 1, kMinVelocity}, {2, 8, 1.0}, {3, 0, 0.625}, {4, 0, 1.0}};
  for (const Expected& e : expected) {
    ASSERT_TRUE(pad.Sequencer().IsActive(e.step)) << "step " << e.step;
    EXPECT_EQ(pad.Sequencer().NoteAt(e.step).offset, e.key) << "step " << e.step;
    EXPECT_DOUBLE_EQ(pad.Sequencer().NoteAt(e.step).velocity, e.velocity) << "step " << e.step;
  }
  EXPECT_FALSE(pad.Sequencer().IsActive(5)) << "one pixel right of the pad is outside it";
}

TEST_F(ExtraPadsTest, KeysRunAcrossAndVelocityUpBothSynthesiserPads) {
  const NesBassPad* bass = AddBass(SineCycle(100, 0.5));
  const SimpleSquarePad* square = AddSquare();
  Prime();
  // A left button held at each step boundary writes a note at the pointer.
  const int positions[][2] = {{kPadX + 30, kPadY},           {kPadX + kPadW, kPadY + kPadH},
                              {kPadX, kPadY + kPadH / 2},    {kPadX, kPadY + kPadH},
                              {kPadX + kPadW + 1, kPadY + 50}};
  for (int i = 0; i < 5; ++i) {
    Hold(positions[i][0], positions[i][1], 1);
    RunBuffer((i + 1) * kStep);
  }
  ExpectKeysAndVelocities(*bass, "NesBassPad");
  ExpectKeysAndVelocities(*square, "SimpleSquarePad");
}

// ---- Timing of clicks ----

TEST_F(ExtraPadsTest, LateClickOnSquarePadWritesTheStepAndSoundsAtOnce) {
  InstallChordOnA();
  SimpleSquarePad* pad = AddSquare();
  Prime();
  Hold(kPadX + 30, kPadY + kPadH, 0);  // key 1: 440 Hz, full velocity
  EXPECT_EQ(Peak(LeftChannel(RunBuffer(kStep))), 0.0);

  input.buttons = 1;  // pressed one buffer (11.6 ms) into step 1, inside the 27 ms window
  std::vector<double> out = LeftChannel(RunBuffer(kStep + kBufferSeconds));
  ASSERT_TRUE(pad->Sequencer().IsActive(1));
  EXPECT_EQ(pad->Sequencer().NoteAt(1).offset, 1);
  EXPECT_GT(Peak(out), 0.3) << "the click sounds in its own buffer";
  const std::vector<double> more = LeftChannel(RunSeconds(kStep + 2 * kBufferSeconds, 0.06));
  out.insert(out.end(), more.begin(), more.end());
  EXPECT_NEAR(MeasureFrequency(out), 440.0, 4.4);

  // A click well after the window, released before the boundary, changes nothing.
  input.buttons = 0;
  double t = kStep + 8 * kBufferSeconds;
  Play(t, 6 * kStep + 0.05);
  input.buttons = 1;
  EXPECT_EQ(Peak(Play(t, t + 2 * kBufferSeconds)), 0.0) << "0.05 s into step 6";
  input.buttons = 0;
  Play(t, 7 * kStep + kBufferSeconds);
  EXPECT_FALSE(pad->Sequencer().IsActive(6));

  // On the next pass the stored note plays again from the sequencer.
  Play(t, 2.0 + kStep);
  EXPECT_GT(Peak(Play(t, t + kBufferSeconds)), 0.3);
}

TEST_F(ExtraPadsTest, RightButtonClearsTheStepItIsHeldInto) {
  SimpleSquarePad* pad = AddSquare();
  Prime();
  Hold(kPadX + 10, kPadY + 10, 1);
  RunBuffer(kStep);
  RunBuffer(2 * kStep);
  RunBuffer(3 * kStep);
  ASSERT_TRUE(pad->Sequencer().IsActive(1) && pad->Sequencer().IsActive(2) &&
              pad->Sequencer().IsActive(3));

  input.buttons = 4;  // right held across the boundary into step 1 of the next loop
  RunBuffer(2.0);
  RunBuffer(2.0 + kStep);
  EXPECT_FALSE(pad->Sequencer().IsActive(1));
  input.buttons = 1 | 4;  // both held: removing wins
  RunBuffer(2.0 + 2 * kStep);
  EXPECT_FALSE(pad->Sequencer().IsActive(2));
  // A fresh right click inside the late window clears the current step too.
  input.buttons = 0;
  RunBuffer(2.0 + 3 * kStep);
  input.buttons = 4;
  RunBuffer(2.0 + 3 * kStep + kBufferSeconds);
  EXPECT_FALSE(pad->Sequencer().IsActive(3));
}

// ---- Envelopes ----

TEST_F(ExtraPadsTest, BassNoteHoldsAtItsVelocityUntilAnEmptyBoundaryReleasesIt) {
  InstallChordOnA();
  // A flat waveform (normalised to 1.0 on loading) makes the output the envelope at pad gain.
  NesBassPad* pad = AddBass(std::vector<double>(64, 0.5));
  Prime();
  Hold(kPadX, kPadY + kPadH / 2, 1);  // velocity 0.625
  std::vector<double> step1 = LeftChannel(RunBuffer(kStep));
  input.buttons = 0;
  ASSERT_TRUE(pad->Sequencer().IsActive(1));
  const std::vector<double> rest =
      LeftChannel(RunSeconds(kStep + kBufferSeconds, kStep - kBufferSeconds - 1e-6));
  step1.insert(step1.end(), rest.begin(), rest.end());
  EXPECT_NEAR(step1[10], 0.5, 0.01) << "attacks at once to full scale";
  EXPECT_NEAR(step1.back(), 0.5 * 0.625, 1e-6) << "then holds at the note's velocity";

  double t = kStep + 11 * kBufferSeconds;
  const std::vector<double> step2 = Play(t, 3 * kStep);
  EXPECT_LT(step2[100], step1.back()) << "the empty step 2 releases the note";
  EXPECT_EQ(Peak(step2, kFrames), 0.0) << "silent from its second buffer";

  // A note on the next step instead keeps the pad sounding across the boundary.
  Play(t, 2.0 + kStep);
  Hold(kPadX, kPadY + kPadH, 1);
  Play(t, 2.0 + 2 * kStep + kBufferSeconds);
  input.buttons = 0;
  ASSERT_TRUE(pad->Sequencer().IsActive(2));
  const std::vector<double> held = Play(t, 2.0 + 3 * kStep);
  EXPECT_NEAR(held.front(), 0.5, 1e-6);
  EXPECT_NEAR(held.back(), 0.5, 1e-6);
}

TEST_F(ExtraPadsTest, BassPlaysTheChordFrequencyTimesItsMultiplier) {
  InstallChordOnA();
  AddBass(SineCycle(100, 0.5), 0.5);
  Prime();
  Hold(kPadX + 30, kPadY + kPadH, 1);  // key 1 = 440 Hz, times 0.5
  RunBuffer(kStep);
  input.buttons = 0;
  double t = kStep + kBufferSeconds;
  EXPECT_NEAR(MeasureFrequency(Play(t, 2 * kStep)), 220.0, 2.2);
}

TEST_F(ExtraPadsTest, SquareNoteDecaysToSilenceAtARateSetByItsVelocity) {
  InstallChordOnA();
  AddSquare();
  Prime();
  Hold(kPadX, kPadY + kPadH, 1);  // velocity 1.0 on step 1
  RunBuffer(kStep);
  input.buttons = 0;
  RunBuffer(2 * kStep);
  Hold(kPadX, kPadY, 1);  // velocity 0.25 on step 3
  RunBuffer(3 * kStep);
  input.buttons = 0;

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

// ---- Sine test tone ----

class TestSineTest : public ExtraPadsTest {
 protected:
  void SetUp() override {
    ExtraPadsTest::SetUp();
    pad = new TestSinePad(kPadX, kPadY, kPadW, kPadH);
    AddPad(pad);
  }
  TestSinePad* pad = nullptr;
};

TEST_F(TestSineTest, HeightIsAmplitudeFromSilenceToFullScale) {
  Hold(kPadX + 40, kPadY, 1);
  EXPECT_EQ(Peak(RunSeconds(0.0, 0.05)), 0.0) << "bottom edge";
  Hold(kPadX + 40, kPadY + kPadH, 1);
  const double top = Peak(RunSeconds(0.1, 0.05));
  EXPECT_GT(top, 0.499);
  EXPECT_LE(top, 0.5) << "pad output +-1 arrives at +-0.5";
  Hold(kPadX + 40, kPadY + kPadH / 4, 1);
  EXPECT_NEAR(Peak(RunSeconds(0.2, 0.05)), 0.125, 0.001);
}

TEST_F(TestSineTest, WidthIsFrequencyFromOneToTwoTimesTheStart) {
  Hold(kPadX, kPadY + kPadH / 2, 1);
  EXPECT_NEAR(MeasureFrequency(LeftChannel(RunSeconds(0.0, 1.0, 64))), 440.0, 4.4);
  Hold(kPadX + kPadW, kPadY + kPadH / 2, 1);
  EXPECT_NEAR(MeasureFrequency(LeftChannel(RunSeconds(1.0, 1.0, 64))), 880.0, 8.8);
}

TEST_F(TestSineTest, SilentWithTheButtonUpAndResumesWhereItStopped) {
  // A second pad, run by hand, hears the same pointer without the pause.
  TestSinePad reference(kPadX, kPadY, kPadW, kPadH);
  std::vector<double> expected(2 * kFrames);

  Hold(kPadX + 40, kPadY + kPadH, 1);
  RunBuffer(0.0);
  reference.AudioCallback(expected.data(), kFrames, 0.0);

  input.buttons = 0;
  EXPECT_EQ(Peak(RunSeconds(kBufferSeconds, 0.1)), 0.0);
  input.MoveTo(kPadX + 300, kPadY + kPadH);
  input.buttons = 1;
  EXPECT_EQ(Peak(RunBuffer(0.2)), 0.0) << "button down outside the pad";

  input.MoveTo(kPadX + 40, kPadY + kPadH);
  const std::vector<double> resumed = RunBuffer(0.3);
  reference.AudioCallback(expected.data(), kFrames, 0.0);
  for (unsigned int i = 0; i < 2 * kFrames; i += 97) {
    EXPECT_DOUBLE_EQ(resumed[i], 0.5 * expected[i]) << "sample " << i;
  }
}

// ---- Timing pad ----

TEST_F(ExtraPadsTest, TimingPadWritesSilenceWhateverThePointerDoes) {
  TimingPad pad(kPadX, kPadY, kPadW, kPadH);
  Hold(kPadX + 5, kPadY + 5, 1);
  std::vector<double> buffer(2 * 64, 0.7);
  pad.AudioCallback(buffer.data(), 64, kStep);
  EXPECT_EQ(Peak(buffer), 0.0);
}

// ---- A layout with one of each ----

TEST_F(ExtraPadsTest, LayoutWithEveryExtraPadSurvivesRandomPlaying) {
  gameState.bufferFrames.store(64);
  PresetInit();
  const size_t presetPads = gameState.pads.size();
  const std::string bassSample = FileExists(NesBassPad::kSampleFile)
                                     ? std::string(NesBassPad::kSampleFile)
                                     : StandInSample(SineCycle(64, 0.9));
  auto* bass = new NesBassPad(20, 420, 240, 150, 8, 0.25, 0.5, bassSample);
  auto* square = new SimpleSquarePad(280, 420, 240, 150, 12, 0.25, 1.0);
  AddPad(bass);
  AddPad(square);
  AddPad(new TestSinePad(540, 420, 240, 150));
  AddPad(new TimingPad(20, 20, 100, 100));
  ASSERT_EQ(gameState.pads.size(), presetPads + 4);

  std::mt19937 random(20240517);
  std::uniform_int_distribution<int> px(0, 799), py(1, 600), choice(0, 9);
  RunBuffer(0.0, 0);
  const int buffers = static_cast<int>(5.0 * kRate / 64);
  double peak = 0.0;
  bool finite = true;
  for (int i = 0; i < buffers; ++i) {
    // Now and then move, press or release, mostly over the four pads' row.
    if (choice(random) < 3) {
      input.MoveTo(px(random), choice(random) < 7 ? 420 + px(random) % 151 : py(random));
    }
    const int c = choice(random);
    if (c == 0) input.buttons = 0;
    else if (c == 1) input.buttons = 1;
    else if (c == 2) input.buttons = 4;
    else if (c == 3) input.shift = !input.shift;
    for (double s : RunBuffer(BufferTime(i, 64), 64)) {
      finite = finite && std::isfinite(s);
      peak = std::max(peak, std::fabs(s));
    }
  }
  EXPECT_TRUE(finite);
  EXPECT_LE(peak, 1.0);
  EXPECT_GT(peak, 0.0) << "the pads played something";
  int notes = 0;
  for (unsigned int s = 0; s < 16; ++s) {
    notes += bass->Sequencer().IsActive(s) + square->Sequencer().IsActive(s);
  }
  EXPECT_GT(notes, 0) << "random clicks entered notes";
}

TEST_F(ExtraPadsTest, BassPadWithAnUnreadableSampleThrowsTheLibraryError) {
  const std::string missing = MakeTempDir() + "/missing.wav";
  EXPECT_THROW(NesBassPad(0, 0, 10, 10, 8, 0.25, 1.0, missing), stk::StkError);
}

}  // namespace
