// The synthesiser pads a layout may place beside the preset (no layout does yet), driven through
// the real mixer: keys across and velocity up; a square note decays to silence at a rate set by
// its velocity, at the chord note's frequency times the pad's multiplier; a bass note holds;
// the steps are drawn in the pad's lower half.

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <tuple>

#include "content_fonts.h"
#include "nes_bass_pad.h"
#include "simple_square_pad.h"
#include "test_support.h"
#include "test_sine_pad.h"
#include "timing_pad.h"

namespace {

using ExtraPadsTest = EngineTest;

TEST_F(ExtraPadsTest, SquareNoteDecaysToSilenceAtARateSetByItsVelocityAtItsPitch) {
  NoteChord chord(57, 12);  // one note on A3: offset k sounds 220 * 2^k Hz
  chord.AddNote(0);
  gameState.loopOptions.chord.Install(chord);
  // 8 keys across 160 pixels, velocity 0.25 to 1.0 up 100 pixels, half the chord's pitch.
  AddPad(new SimpleSquarePad(100, 100, 160, 100, 8, 0.25, 0.5));
  RunBuffer(0.0, 0);  // publishes the late window
  // The left button held as steps 1 and 3 begin writes a note at the pointer.
  for (const auto& [step, x, y] : {std::tuple(1, 130, 200), std::tuple(3, 100, 100)}) {
    input.MoveTo(x, y);
    input.buttons = 1;
    RunBuffer(step * 0.125);
    input.buttons = 0;
  }
  // The next pass, played continuously (envelopes move with the audio rendered). Step 1's note
  // (30 px in: key 1, 440 Hz, times 0.5; velocity 1.0) starts at frame 5632, the first buffer of
  // the step; step 3's (key 0, velocity 0.25) at frame 16896. The envelope falls 1.0 per 0.1 s
  // (4410 frames) to a sustain of zero, and nothing releases it.
  const std::vector<double> pass = LeftChannel(RunSeconds(2.0, 0.5));
  EXPECT_GT(Peak(pass, 5632, 6144), 0.25);
  EXPECT_GT(Peak(pass, 9632, 9982), 0.0);
  EXPECT_EQ(Peak(pass, 10082, 16896), 0.0) << "silent after 0.1 s, through the empty step 2";
  EXPECT_GT(Peak(pass, 17796, 17976), 0.0);
  EXPECT_EQ(Peak(pass, 18026), 0.0) << "the soft note dies 4 times sooner";
  const auto rising = [](const std::vector<double>& s, size_t from, size_t to) {
    int n = 0;
    for (size_t i = from + 1; i < to; ++i) n += s[i - 1] < 0.0 && s[i] >= 0.0;
    return n;
  };
  EXPECT_NEAR(rising(pass, 5632, 9632), 220 * 4000 / 44100.0, 1.5) << "220 Hz";
  // A soft click inside step 5 sounds at once, at its own velocity and the pad's pitch (key 1
  // times 0.5: 220 Hz, 2.6 periods a buffer).
  RunBuffer(2.64, 64);
  input.MoveTo(130, 100);
  input.buttons = 1;
  const std::vector<double> clicked = LeftChannel(RunBuffer(2.655));
  const double peak = Peak(clicked);
  EXPECT_TRUE(peak > 0.0 && peak < 0.1) << peak;
  EXPECT_NEAR(rising(clicked, 0, clicked.size()), 220 * 512 / 44100.0, 1.0) << "220 Hz";
  input.buttons = 0;
  // A loud click late in step 5 of the next loop decays on into the empty step 6: only a held
  // note (the bass's) is released at a step without a note.
  RunSeconds(2.6666, 1.99);
  input.MoveTo(130, 200);
  input.buttons = 1;
  RunBuffer(4.6636);
  input.buttons = 0;
  for (double t = 4.6752; t < 4.75; t += 512 / 44100.0) RunBuffer(t);
  EXPECT_GT(Peak(LeftChannel(RunBuffer(4.7564)), 100, 300), 0.0);
}

// A bass note attacks to full scale (also when its click falls on the step the sequencer starts),
// holds at its velocity and is released at the next step without a note.
TEST_F(ExtraPadsTest, BassNoteHoldsAtItsVelocityUntilAStepWithoutNote) {
  const std::string flat = MakeTempDir() + "/flat.wav";  // normalised to 1.0: the envelope shows
  WriteTestWav(flat, std::vector<double>(64, 0.5), 1);
  AddPad(new NesBassPad(100, 100, 160, 100, 8, 0.25, 1.0, flat));
  RunBuffer(0.0, 0);
  input.MoveTo(100, 150);  // velocity 0.625
  input.buttons = 1;
  const std::vector<double> step1 = LeftChannel(RunSeconds(0.125, 0.125));
  input.buttons = 0;
  EXPECT_NEAR(step1[10], 0.5, 0.01) << "attacks at once to full scale (at half gain)";
  EXPECT_NEAR(step1.back(), 0.5 * 0.625, 1e-6) << "then holds at the note's velocity";
  // Released in the first buffer of the empty step 2, silent from its second.
  EXPECT_EQ(Peak(RunSeconds(0.25 + 512 / 44100.0, 0.1), 2 * 512), 0.0);
}

// The sine test pad sounds only while the left button is held over it: 440 Hz at its left edge
// to 880 Hz at its right, silent at its bottom edge to full scale at its top. The timing pad
// shows "StepChange" in a step's first buffer and "Late" while a click still counts for it.
TEST_F(ExtraPadsTest, TestPadsFollowThePointerAndShowTheTimingWindows) {
  AddPad(new TestSinePad(100, 100, 200, 100));
  const struct { int x, y; uint32_t buttons; double peak, hz; } cases[] = {
      {100, 200, 1, 0.5, 440}, {300, 200, 1, 0.5, 880}, {200, 150, 1, 0.25, 660},
      {100, 100, 1, 0.0, 0}, {200, 200, 0, 0.0, 0}, {301, 200, 1, 0.0, 0}};
  double t = 0.0;
  for (const auto& c : cases) {
    input.MoveTo(c.x, c.y);
    input.buttons = c.buttons;
    RunBuffer(t, 64);  // the oscillator settles at the new pitch
    const std::vector<double> out = LeftChannel(RunSeconds(t += 0.1, 0.1 - 0.002));
    EXPECT_NEAR(Peak(out), c.peak, 0.002) << c.x << ", " << c.y;
    int rising = 0;
    for (size_t i = 1; i < out.size(); ++i) rising += out[i - 1] < 0.0 && out[i] >= 0.0;
    EXPECT_NEAR(rising, c.hz * out.size() / 44100.0, 1.5) << c.x << ", " << c.y;
  }
  gameState.DeletePads();
  RunBuffer(0.0, 0);  // publishes the late window
  TimingPad timing(0, 0, 10, 10);
  char font = 0;  // the large font, standing for itself
  const ContentFonts saved = content;
  content.largeFont = reinterpret_cast<TTF_Font*>(&font);
  const struct { double previous, now; const char* shown; } moments[] = {
      {0.1, 0.126, "StepChange Late"}, {0.126, 0.14, "Late"}, {0.14, 0.2, ""}};
  for (const auto& m : moments) {
    gameState.lastStreamTime.store(m.previous);
    clock.time = m.now;
    std::string shown;
    const std::string text = Drawn([&] { timing.Draw(); });
    for (const char* word : {"StepChange", "Late"}) {
      if (text.find(std::string("\"") + word + "\"") != std::string::npos) shown += (shown.empty() ? "" : " ") + std::string(word);
    }
    EXPECT_EQ(shown, m.shown) << m.now;
  }
  content = saved;
}

// The square's and the bass's steps are drawn in the lower half of the pad, inside its frame
// (y up).
TEST_F(ExtraPadsTest, TheStepsAreDrawnInThePadsLowerHalf) {
  SimpleSquarePad square(100, 100, 160, 100, 8, 0.25, 0.5);
  NesBassPad bass(100, 100, 160, 100, 8, 0.25, 0.125);
  for (SoundPad* pad : {static_cast<SoundPad*>(&square), static_cast<SoundPad*>(&bass)}) {
    std::istringstream drawn(Drawn([&] { pad->Draw(); }));
    float highest = 0.0f, lowest = 600.0f;
    int vertices = 0;
    for (std::string line; std::getline(drawn, line);) {
      float vx, vy;
      // The first eight vertices are the pad's own frame, the outer and the inner quad.
      if (std::sscanf(line.c_str(), "Vertex %f %f", &vx, &vy) == 2 && ++vertices > 8) {
        highest = std::max(highest, vy);
        lowest = std::min(lowest, vy);
      }
    }
    EXPECT_GT(vertices, 8);
    EXPECT_FLOAT_EQ(highest, 150.0f) << (pad == &bass ? "bass" : "square");
    EXPECT_GE(lowest, 100.0f) << (pad == &bass ? "bass" : "square");
  }
}

}  // namespace
