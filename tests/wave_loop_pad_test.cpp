// Wave loop pad: where clicks land, quantisation to the step grid, the envelope's sustain
// rules, the feedback echo and the pitch of a looped cycle, heard through the real mixer.

#include <cmath>
#include <string>
#include <vector>

#include "Stk.h"
#include "common.h"
#include "game_state.h"
#include "test_support.h"
#include "wave_loop_pad.h"

namespace {

constexpr unsigned int kFrames = 512;
constexpr double kBuffer = kFrames / 44100.0;
// The pad's rectangle: 200 x 160 pixels at (100, 100).
constexpr int kLeft = 100;
constexpr int kBottom = 100;
constexpr int kRight = 300;
constexpr int kTop = 260;

struct PadSettings {
  int rows = 8;
  double minVelocity = 0.25;
  double pitchMultiplier = 1.0;
  double echoFeedback = 0.0;
  double echoSteps = 1.0;
  bool oneShot = false;
  double attackTime = 0.00001;  // reaches the velocity on the first frame
  double decayTime = 0.01;
  double sustainLevel = 1.0;
  bool releaseOnStep = false;
};

double StepStart(double step) { return step * 0.125; }

class WaveLoopPadTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    dir_ = MakeTempDir();
  }

  // A mono test sample; the readers normalise it to a peak of 1.0.
  std::string Wav(const std::string& name, const std::vector<double>& samples) {
    const std::string path = dir_ + "/" + name;
    WriteTestWav(path, samples, 1);
    return path;
  }
  // One second of a constant level: the output then shows the envelope itself.
  std::string Constant() { return Wav("constant.wav", std::vector<double>(44100, 0.5)); }

  WaveLoopPad* MakePad(const std::string& file, const PadSettings& s = PadSettings()) {
    auto* pad = new WaveLoopPad(kLeft, kBottom, kRight - kLeft, kTop - kBottom, s.rows,
                                s.minVelocity, s.pitchMultiplier, file, s.echoFeedback,
                                s.echoSteps, s.oneShot, "Lead", s.attackTime, s.decayTime,
                                s.sustainLevel, 20.0f, s.releaseOnStep);
    AddPad(pad);
    return pad;
  }

  // Left channel of one buffer at stream time t.
  std::vector<double> Buffer(double t) { return LeftChannel(RunBuffer(t, kFrames)); }
  // Left channel of consecutive buffers from t0 while their start lies before t1.
  std::vector<double> Run(double t0, double t1) {
    std::vector<double> all;
    for (double t = t0; t < t1; t += kBuffer) {
      const std::vector<double> out = Buffer(t);
      all.insert(all.end(), out.begin(), out.end());
    }
    return all;
  }
  // Runs the first buffer of `step` with no button, then a buffer in its late window with a
  // fresh left press at (x, y); returns that second buffer. The button is released after.
  std::vector<double> LateClick(double step, int x, int y, uint32_t button = 1) {
    input.buttons = 0;
    Buffer(StepStart(step) - kBuffer);
    Buffer(StepStart(step));
    input.MoveTo(x, y);
    input.buttons = button;
    std::vector<double> out = Buffer(StepStart(step) + kBuffer);
    input.buttons = 0;
    return out;
  }
  void PointerAway() { input.MoveTo(700, 50); }

  std::string dir_;
};

TEST_F(WaveLoopPadTest, RowAndVelocityFollowThePointerUpToTheEdges) {
  WaveLoopPad* pad = MakePad(Constant());
  input.buttons = 1;  // held while three steps begin
  input.MoveTo(kLeft, kBottom);
  Buffer(StepStart(1));
  input.MoveTo(kRight, kTop);
  Buffer(StepStart(2));
  input.MoveTo(200, 180);
  Buffer(StepStart(3));

  const StepSequencer& seq = pad->Sequencer();
  EXPECT_EQ(seq.NoteAt(1).offset, 0) << "bottom edge";
  EXPECT_DOUBLE_EQ(seq.NoteAt(1).velocity, 0.25) << "left edge";
  EXPECT_EQ(seq.NoteAt(2).offset, 7) << "top edge clamps to the last row";
  EXPECT_DOUBLE_EQ(seq.NoteAt(2).velocity, 1.0) << "right edge";
  EXPECT_EQ(seq.NoteAt(3).offset, 4);
  EXPECT_DOUBLE_EQ(seq.NoteAt(3).velocity, 0.625);
}

TEST_F(WaveLoopPadTest, OneShotPadPutsEveryNoteInRowZero) {
  PadSettings s;
  s.oneShot = true;
  WaveLoopPad* pad = MakePad(Constant(), s);
  EXPECT_EQ(pad->Rows(), 1);
  LateClick(1, 200, kTop - 5);
  ASSERT_TRUE(pad->Sequencer().IsActive(1));
  EXPECT_EQ(pad->Sequencer().NoteAt(1).offset, 0);
}

TEST_F(WaveLoopPadTest, LateClickSoundsAtOnceAndRepeatsEveryLoop) {
  PadSettings s;
  s.sustainLevel = 0.0;  // each note dies away after its decay
  WaveLoopPad* pad = MakePad(Constant(), s);
  const std::vector<double> click = LateClick(1, kRight, 150);
  EXPECT_GT(Peak(click), 0.3) << "the click sounds in its own buffer";
  ASSERT_TRUE(pad->Sequencer().IsActive(1));
  EXPECT_EQ(pad->Sequencer().NoteAt(1).offset, 2);

  PointerAway();
  const std::vector<double> rest = Run(StepStart(1) + 2 * kBuffer, 2.0 + StepStart(1));
  EXPECT_EQ(Peak(rest, rest.size() - 20 * kFrames), 0.0) << "silent before the next pass";
  EXPECT_GT(Peak(Buffer(2.0 + StepStart(1))), 0.3) << "the note returns on the next pass";
}

// A press counts for the step the player was hearing: the buffer's stream time minus the
// output latency (here three buffers), minus how long ago it was made. Each case presses the
// left button `heardMs` after step 5 began, as heard, and releases it `holdMs` later; a press
// shorter than a buffer is never seen down, only recorded.
TEST_F(WaveLoopPadTest, PressesCountForTheStepTheyWereHeardIn) {
  struct Case {
    unsigned int frames;
    double heardMs;
    double holdMs;
    int step;  // the one step that gets a note, or -1 for none
  };
  // The window is a quarter step plus one buffer (43 ms at 512 frames, 78 ms at 2048), so at
  // 2048 frames the press outside it comes 90 ms after the step began.
  const Case cases[] = {
      {64, 0, 40, 5},    {64, 10, 5, 5},    {64, 25, 40, 5},    {64, 60, 40, -1},
      {64, 60, 150, 6},  {512, 0, 5, 5},    {512, 10, 40, 5},   {512, 25, 5, 5},
      {512, 60, 40, -1}, {512, 60, 150, 6}, {2048, 0, 40, 5},   {2048, 10, 5, 5},
      {2048, 25, 40, 5}, {2048, 90, 5, -1}, {2048, 90, 100, 6},
  };
  const std::string file = Constant();
  input.MoveTo(200, 150);
  for (const Case& c : cases) {
    for (SoundPad* pad : gameState.pads) delete pad;
    gameState.pads.clear();
    WaveLoopPad* pad = MakePad(file);
    const double buffer = c.frames / 44100.0;
    const double latency = 3 * buffer;
    gameState.bufferFrames.store(c.frames);
    gameState.outputLatency.store(latency);
    // The press clock counts milliseconds of heard time, from 100 s.
    const auto ms = [](double heard) { return static_cast<uint32_t>(std::llround(1e5 + heard * 1e3)); };
    const double press = StepStart(5) + c.heardMs / 1000.0;
    bool pressed = false;
    int pressBuffers = 0;  // buffers from the press's to the one that sounds it
    double pressPeak = 0.0;
    for (double t = StepStart(4); t - latency < StepStart(7); t += buffer) {
      const double heard = t - latency;
      input.ticks = ms(heard);
      if (!pressed && heard >= press) {
        input.Press(SDL_BUTTON_LMASK, 200, 150, ms(press));
        pressed = true;
      }
      input.buttons = heard >= press && heard < press + c.holdMs / 1000.0 ? SDL_BUTTON_LMASK : 0;
      const double peak = Peak(Buffer(t));
      if (pressed && pressBuffers++ == 0) pressPeak = peak;
    }
    input.buttons = 0;
    const std::string name = std::to_string(c.frames) + " frames, " + std::to_string(c.heardMs) +
                             " ms after, held " + std::to_string(c.holdMs) + " ms";
    for (int step = 0; step < 16; ++step) {
      EXPECT_EQ(pad->Sequencer().IsActive(step), step == c.step) << name << ", step " << step;
    }
    if (c.step == 5) {
      EXPECT_GT(pressPeak, 0.1) << name << ": the note sounds at once";
    }
  }
}

// A sound server whose period is longer than the buffer calls back for several buffers at
// once, so the heard clock jumps by a whole burst; every step that begins inside a jump still
// begins, as heard, for a held button.
TEST_F(WaveLoopPadTest, HeldButtonReachesEveryStepWhenCallbacksComeInBursts) {
  WaveLoopPad* pad = MakePad(Constant());
  const double latency = 3 * kBuffer;
  gameState.outputLatency.store(latency);
  input.MoveTo(200, 150);
  input.buttons = SDL_BUTTON_LMASK;
  for (double t = 0.0; t < 2.0 + 2 * latency; t += 4 * kBuffer) {
    input.ticks = static_cast<uint32_t>(std::llround(1e5 + (t - latency) * 1e3));
    for (int i = 0; i < 4; ++i) Buffer(t + i * kBuffer);
  }
  input.buttons = 0;
  for (int step = 0; step < 16; ++step) EXPECT_TRUE(pad->Sequencer().IsActive(step)) << "step " << step;
}

// A callback that the system runs late finds less queued than the latency: the player already
// hears later audio than its stream time says. Presses are placed by the on-time callbacks.
TEST_F(WaveLoopPadTest, APressSeenByALateCallbackIsPlacedByTheOnTimeOnes) {
  WaveLoopPad* pad = MakePad(Constant());
  const double latency = 3 * kBuffer;
  gameState.outputLatency.store(latency);
  const auto ms = [](double heard) { return static_cast<uint32_t>(std::llround(1e5 + heard * 1e3)); };
  double t = StepStart(4);
  for (; t - latency < StepStart(5) - 0.02; t += kBuffer) {
    input.ticks = ms(t - latency);  // on time
    Buffer(t);
  }
  // This callback starts 25 ms late: 10 ms into step 5 as heard, though its stream time minus
  // the latency still lies in step 4. The press was made just now.
  const double heard = t - latency + 0.025;
  ASSERT_LT(t - latency, StepStart(5));
  ASSERT_GT(heard, StepStart(5));
  input.ticks = ms(heard);
  input.Press(SDL_BUTTON_LMASK, 200, 150, ms(heard));
  Buffer(t);
  EXPECT_TRUE(pad->Sequencer().IsActive(5));
  EXPECT_FALSE(pad->Sequencer().IsActive(4));
}

TEST_F(WaveLoopPadTest, HeldLeftButtonFillsEveryStepReached) {
  WaveLoopPad* pad = MakePad(Constant());
  input.buttons = 1;
  for (int step = 1; step <= 4; ++step) {
    input.MoveTo(kLeft + 50 * step, 110 + 20 * step);  // rows 1 to 4
    Run(StepStart(step) - 2 * kBuffer, StepStart(step) + 3 * kBuffer);
  }
  input.buttons = 0;
  Run(StepStart(5) - kBuffer, StepStart(6));
  EXPECT_FALSE(pad->Sequencer().IsActive(0));
  for (int step = 1; step <= 4; ++step) {
    ASSERT_TRUE(pad->Sequencer().IsActive(step)) << "step " << step;
    EXPECT_EQ(pad->Sequencer().NoteAt(step).offset, step);
  }
  EXPECT_FALSE(pad->Sequencer().IsActive(5));
}

TEST_F(WaveLoopPadTest, RightButtonRemovesNotes) {
  WaveLoopPad* pad = MakePad(Constant());
  input.MoveTo(200, 150);
  input.buttons = 1;
  for (int step = 1; step <= 3; ++step) Buffer(StepStart(step));
  input.buttons = 0;
  Buffer(2.0 + StepStart(2) - kBuffer);
  input.buttons = 4;  // held as step 2 of the next loop begins
  Buffer(2.0 + StepStart(2));
  input.buttons = 0;
  EXPECT_TRUE(pad->Sequencer().IsActive(1));
  EXPECT_FALSE(pad->Sequencer().IsActive(2));
  EXPECT_TRUE(pad->Sequencer().IsActive(3));

  LateClick(2.0 / 0.125 + 3, 200, 150, 4);  // right click just after step 3 began
  EXPECT_FALSE(pad->Sequencer().IsActive(3));
  input.shift = true;  // Shift + left counts as right
  LateClick(4.0 / 0.125 + 1, 200, 150, 1);
  EXPECT_FALSE(pad->Sequencer().IsActive(1));
}

// Level of the last frames of a buffer, after the output has settled, at the mixer's half gain.
double Settled(const std::vector<double>& buffer) { return buffer.back(); }

TEST_F(WaveLoopPadTest, OneShotClickKeepsTheSustainLevelAndReplaySustainsAtItsVelocity) {
  PadSettings s;
  s.oneShot = true;
  s.minVelocity = 0.0;
  s.sustainLevel = 1.0;
  MakePad(Constant(), s);

  LateClick(1, 200, 150);  // velocity 0.5
  EXPECT_NEAR(Settled(Buffer(StepStart(1) + 2 * kBuffer)), 0.5, 1e-3)
      << "a click rises to its velocity, then settles at the constructor's sustain level";

  PointerAway();
  Run(StepStart(1) + 3 * kBuffer, 2.0 + StepStart(1));
  Buffer(2.0 + StepStart(1));  // the sequencer replays the note
  EXPECT_NEAR(Settled(Buffer(2.0 + StepStart(1) + kBuffer)), 0.25, 1e-3)
      << "a replayed one-shot note sustains at its own velocity";

  LateClick(2.0 / 0.125 + 5, kRight, 150);  // velocity 1.0
  EXPECT_NEAR(Settled(Buffer(2.0 + StepStart(5) + 2 * kBuffer)), 0.25, 1e-3)
      << "a later click settles at the velocity of the last replayed note";
}

TEST_F(WaveLoopPadTest, ReleaseOnStepReleasesAtAStepWithoutNote) {
  PadSettings s;
  s.minVelocity = 0.0;
  s.sustainLevel = 0.2;
  s.releaseOnStep = true;
  MakePad(Constant(), s);
  LateClick(1, 200, 150);  // velocity 0.5
  PointerAway();
  const std::vector<double> held = Run(StepStart(1) + 2 * kBuffer, StepStart(2) - kBuffer);
  EXPECT_NEAR(held.back(), 0.25, 1e-3) << "sustains at its own velocity";
  const std::vector<double> released = Run(StepStart(2), StepStart(2) + 4 * kBuffer);
  EXPECT_EQ(released.back(), 0.0) << "released at the empty step";
}

TEST_F(WaveLoopPadTest, EchoRepeatsAnImpulseEverySpanScaledByTheFeedback) {
  std::vector<double> impulse(100, 0.0);
  impulse[0] = 0.5;
  PadSettings s;
  s.oneShot = true;
  s.echoFeedback = 0.5;
  s.echoSteps = 1.0;
  WaveLoopPad* pad = MakePad(Wav("impulse.wav", impulse), s);
  const int64_t span = StepsToSamples(1.0);
  ASSERT_EQ(span, 5512);

  input.MoveTo(kRight, 150);  // velocity 1.0
  input.buttons = 1;
  std::vector<double> out = Buffer(StepStart(1));
  input.buttons = 0;
  PointerAway();
  const std::vector<double> rest = Run(StepStart(1) + kBuffer, StepStart(1) + 0.6);
  out.insert(out.end(), rest.begin(), rest.end());
  EXPECT_EQ(pad->EchoOffset(), span);

  double gain = 0.5;  // the mixer's pad gain
  for (int64_t i = 0; i < static_cast<int64_t>(out.size()); ++i) {
    if (i % span == 0 && i / span <= 4) {
      EXPECT_NEAR(out[i], gain, 1e-9) << "repeat " << i / span;
      gain *= 0.5;
    } else if (i / span <= 4) {
      ASSERT_EQ(out[i], 0.0) << "frame " << i;
    }
  }
}

TEST_F(WaveLoopPadTest, ZeroEchoStepsEchoesAFullHistoryLater) {
  std::vector<double> impulse(100, 0.0);
  impulse[0] = 0.5;
  PadSettings s;
  s.oneShot = true;
  s.echoFeedback = 0.5;
  s.echoSteps = 0.0;
  WaveLoopPad* pad = MakePad(Wav("impulse.wav", impulse), s);
  input.MoveTo(kRight, 150);
  input.buttons = 1;
  std::vector<double> out = Buffer(StepStart(1));
  input.buttons = 4;  // take the note out again so that the next pass stays silent
  const std::vector<double> second = Buffer(StepStart(1) + kBuffer);
  out.insert(out.end(), second.begin(), second.end());
  input.buttons = 0;
  PointerAway();
  const std::vector<double> rest = Run(StepStart(1) + 2 * kBuffer, StepStart(1) + 2.4);
  out.insert(out.end(), rest.begin(), rest.end());
  EXPECT_EQ(pad->EchoOffset(), 0);
  EXPECT_NEAR(out[0], 0.5, 1e-9);
  EXPECT_EQ(Peak(out, 1, WaveLoopPad::kMaxEchoBufferSize), 0.0);
  EXPECT_NEAR(out[WaveLoopPad::kMaxEchoBufferSize], 0.25, 1e-9);
}

// Frequency from the upward zero crossings of a steady tone, interpolated between frames.
double MeasuredFrequency(const std::vector<double>& signal, size_t from) {
  double first = -1.0;
  double last = -1.0;
  int crossings = 0;
  for (size_t i = from + 1; i < signal.size(); ++i) {
    if (signal[i - 1] < 0.0 && signal[i] >= 0.0) {
      const double at = (i - 1) + signal[i - 1] / (signal[i - 1] - signal[i]);
      if (first < 0.0) first = at;
      last = at;
      ++crossings;
    }
  }
  if (crossings < 2) return 0.0;
  return (crossings - 1) * 44100.0 / (last - first);
}

TEST_F(WaveLoopPadTest, LoopPlaysTheChordNoteOfItsRowTimesThePitchMultiplier) {
  std::vector<double> cycle(64);
  for (int i = 0; i < 64; ++i) cycle[i] = 0.5 * std::sin(2.0 * M_PI * (i + 0.5) / 64.0);
  NoteChord major(60, 12);
  for (int offset : {0, 2, 4, 5, 7, 9, 11}) major.AddNote(offset);
  gameState.loopOptions.chord.Install(major);
  PadSettings s;
  s.pitchMultiplier = 0.5;
  MakePad(Wav("cycle.wav", cycle), s);

  const std::vector<double> click = LateClick(1, kRight, 150);  // row 2: key 64
  PointerAway();
  std::vector<double> out = Run(StepStart(1) + 2 * kBuffer, StepStart(1) + 1.0);
  const double expected = KeyToFrequency(64) * 0.5;
  const double measured = MeasuredFrequency(out, 0);
  EXPECT_NEAR(1200.0 * std::log2(measured / expected), 0.0, 5.0)
      << measured << " Hz, expected " << expected << " Hz";
  EXPECT_GT(Peak(out), 0.4);
}

TEST_F(WaveLoopPadTest, UnreadableSampleFileFailsConstruction) {
  EXPECT_THROW(MakePad(dir_ + "/missing.wav"), stk::StkError);
  EXPECT_TRUE(gameState.pads.empty());
}

}  // namespace
