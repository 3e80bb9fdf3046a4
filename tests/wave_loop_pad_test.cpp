// Wave loop pad: where clicks land at the pad's edges and on which step presses count, as the
// player hears them (latency, late and bursting callbacks), driven through the real mixer.

#include <cmath>

#include "common.h"
#include "test_support.h"
#include "wave_loop_pad.h"

namespace {

constexpr unsigned int kFrames = 512;
constexpr double kBuffer = kFrames / 44100.0;
constexpr double kLatency = 3 * kBuffer;  // output latency where tests set one
// The pad's rectangle: 200 x 160 pixels at (100, 100).
constexpr int kLeft = 100, kBottom = 100, kRight = 300, kTop = 260;

double StepStart(double step) { return step * 0.125; }
// The heard time as the press clock counts it: milliseconds from 100 s.
uint32_t Ms(double heard) { return static_cast<uint32_t>(std::llround(1e5 + heard * 1e3)); }

class WaveLoopPadTest : public EngineTest {
 protected:
  // A mono test sample: one second of a constant level.
  std::string Wav() {
    const std::string path = MakeTempDir() + "/sample.wav";
    WriteTestWav(path, std::vector<double>(44100, 0.5), 1);
    return path;
  }

  // Replaces any pad with a new one on `file` (8 rows, velocity 0.25 to 1, no echo).
  WaveLoopPad* MakePad(const std::string& file, bool oneShot = false) {
    gameState.DeletePads();
    auto* pad = new WaveLoopPad(kLeft, kBottom, kRight - kLeft, kTop - kBottom, 8, 0.25, 1.0,
                                file, 0.0, 1.0, oneShot, "Lead", 0.00001, 0.01, 1.0, 20.0f, false);
    AddPad(pad);
    return pad;
  }

  // Left channel of one buffer at stream time t.
  std::vector<double> Buffer(double t) { return LeftChannel(RunBuffer(t, kFrames)); }
};

// A held left button writes a note at each step it reaches: row up the height (the top edge is
// the last row; a one-shot pad has row 0 only), velocity across from minVelocity to 1.0.
TEST_F(WaveLoopPadTest, PointerPicksRowAndVelocityUpToTheEdges) {
  struct Case { bool oneShot; int x, y; int rows, row; double velocity; };
  const Case cases[] = {{false, kLeft, kBottom, 8, 0, 0.25}, {false, kRight, kTop, 8, 7, 1.0},
                        {false, 200, 180, 8, 4, 0.625},      {true, 200, kTop - 5, 1, 0, 0.625}};
  const std::string file = Wav();
  int step = 1;
  for (const Case& c : cases) {
    WaveLoopPad* pad = MakePad(file, c.oneShot);
    input.MoveTo(c.x, c.y);
    input.buttons = 1;
    Buffer(StepStart(step));
    ASSERT_TRUE(pad->Sequencer().IsActive(step) && pad->Rows() == c.rows) << step;
    EXPECT_EQ(pad->Sequencer().NoteAt(step).offset, c.row) << step;
    EXPECT_DOUBLE_EQ(pad->Sequencer().NoteAt(step++).velocity, c.velocity);
  }
}

// A press counts for the step the player was hearing: the buffer's stream time minus the
// output latency (here three buffers), minus how long ago it was made. Each case presses the
// left button `heardMs` after step 5 began, as heard, and releases it `holdMs` later; a press
// shorter than a buffer is never seen down, only recorded. Where the sound server places the
// heard clock (`serverMs` behind the stream), that placing counts, not the estimate from the
// buffers queued.
TEST_F(WaveLoopPadTest, PressesCountForTheStepTheyWereHeardIn) {
  struct Case {
    unsigned int frames;
    double heardMs, holdMs;
    int step;
    double serverMs = 0;
    double seenMs = 0;  // the press and the button reach the program this much later
    bool right = false;  // a right press on a full pattern: step is the one it clears
  };
  // The window is a quarter step plus one buffer (43 ms at 512 frames, 78 ms at 2048), so at
  // 2048 frames the press outside it comes 90 ms after the step began. The press made in
  // step 4's last milliseconds is first seen in a buffer heard in step 5. The last case's server
  // holds 100 ms where three buffers make 35 ms: by the estimate its press would come 75 ms into
  // step 5, past the late window, and land on step 6. In the last two the main thread, busy
  // with a frame, hands over a press made 3 ms before step 5 began only after it began; so in
  // the two after them, with the right button. Step -1: none.
  const Case cases[] = {
      {64, 0, 40, 5},    {64, 10, 5, 5},    {64, 25, 40, 5},    {64, 60, 40, -1},
      {64, 60, 150, 6},  {512, 0, 5, 5},    {512, 10, 40, 5},   {512, 25, 5, 5},
      {512, 60, 40, -1}, {512, 60, 150, 6}, {2048, 0, 40, 5},   {2048, 10, 5, 5},
      {2048, 25, 40, 5}, {2048, 90, 5, -1}, {2048, 90, 100, 6}, {2048, -5, 5, -1},
      {512, 10, 0, 5, 100}, {64, -3, 40, 5, 0, 15}, {512, -3, 40, 5, 0, 15},
      {64, -3, 40, 5, 0, 15, true}, {512, -3, 40, 5, 0, 15, true},
  };
  const std::string file = Wav();
  input.MoveTo(200, 150);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.frames << " frames, " << c.heardMs << " ms " << c.holdMs
                                    << ", server " << c.serverMs << (c.right ? ", right" : ""));
    WaveLoopPad* pad = MakePad(file);
    // Filled as its audio thread would (no buffer runs yet).
    StepSequencer& pattern = const_cast<StepSequencer&>(pad->Sequencer());
    for (int s = 0; s < 16 && c.right; ++s) pattern.AddNote(s, 2, 1.0);
    const uint32_t button = c.right ? SDL_BUTTON_RMASK : SDL_BUTTON_LMASK;
    const double buffer = c.frames / 44100.0;
    const double latency = c.serverMs > 0 ? c.serverMs / 1000.0 : 3 * buffer;  // as heard
    gameState.bufferFrames.store(c.frames);
    gameState.outputLatency.store(3 * buffer);
    // The press clock counts heard time from 100 s, as the server places it.
    gameState.heardOffset.store(c.serverMs > 0 ? -100.0 : std::nan(""));
    const double press = StepStart(5) + c.heardMs / 1000.0;
    const double seen = press + c.seenMs / 1000.0;
    bool pressed = false;
    for (double t = StepStart(4); t - latency < StepStart(7); t += buffer) {
      const double heard = t - latency;
      input.ticks = Ms(heard);
      if (!pressed && heard >= seen) {
        input.Press(button, 200, 150, Ms(press));
        pressed = true;
      }
      input.buttons = heard >= seen && heard < seen + c.holdMs / 1000.0 ? button : 0;
      RunBuffer(t, c.frames);
    }
    for (int s = 0; s < 16; ++s) {
      EXPECT_EQ(pad->Sequencer().IsActive(s), (s == c.step) != c.right) << s;
    }
  }

  // A press heard before the stream's first sound belongs to no step. The stream is a new
  // one, so its press clock may start again before the cases' (a stream counts only the
  // presses made from its first buffer on).
  gameState.streamGeneration.fetch_add(1);
  gameState.heardOffset.store(std::nan(""));
  WaveLoopPad* pad = MakePad(file);
  gameState.bufferFrames.store(kFrames);
  gameState.outputLatency.store(kLatency);
  input.ticks = Ms(-kLatency);
  input.Press(SDL_BUTTON_LMASK, 200, 150, Ms(-kLatency));
  RunBuffer(0.0, kFrames);
  for (int s = 0; s < 16; ++s) EXPECT_FALSE(pad->Sequencer().IsActive(s)) << "before the loop";
  // A left and a right press on one step seen in one buffer: entered, removed, never sounded.
  gameState.outputLatency.store(0.0);
  RunBuffer(StepStart(2), kFrames);
  const double t = StepStart(2) + kBuffer;
  input.ticks = Ms(t);
  input.Press(SDL_BUTTON_LMASK, 200, 150, Ms(t));
  input.Press(SDL_BUTTON_RMASK, 200, 150, Ms(t));
  EXPECT_EQ(Peak(Buffer(t)), 0.0);
  EXPECT_FALSE(pad->Sequencer().IsActive(2));
  // A press made as step 3 of a later loop begins (the press clock past every earlier case's),
  // the button still held and the pointer moved on to row 7 when the buffer samples it: the
  // note stays where the press was made (row 2).
  const double step3 = 4.0 + StepStart(3);
  input.ticks = Ms(step3);
  input.Press(SDL_BUTTON_LMASK, 200, 150, Ms(step3));
  input.MoveTo(200, 250);
  input.buttons = SDL_BUTTON_LMASK;
  Buffer(step3);
  input.buttons = 0;
  EXPECT_TRUE(pad->Sequencer().IsActive(3) && pad->Sequencer().NoteAt(3).offset == 2);
}

// A sound server whose period is longer than the buffer calls back for several buffers at
// once, so the heard clock jumps by a whole burst; every step that begins inside a jump still
// begins, as heard, for a held button.
TEST_F(WaveLoopPadTest, HeldButtonReachesEveryStepWhenCallbacksComeInBursts) {
  WaveLoopPad* pad = MakePad(Wav());
  gameState.outputLatency.store(kLatency);
  input.MoveTo(200, 150);
  input.buttons = SDL_BUTTON_LMASK;
  for (double t = 0.0; t < 2.0 + 2 * kLatency; t += 4 * kBuffer) {
    input.ticks = Ms(t - kLatency);
    for (int i = 0; i < 4; ++i) Buffer(t + i * kBuffer);
  }
  for (int step = 0; step < 16; ++step) EXPECT_TRUE(pad->Sequencer().IsActive(step)) << step;
}

// The heard estimate may step back (a larger latency reported): a step that already began does
// not begin again, so a held button moved meanwhile rewrites neither it nor the step before;
// the next step still begins once the clock passes it.
TEST_F(WaveLoopPadTest, AHeldButtonBeginsEachStepOnceThoughTheHeardClockStepsBack) {
  WaveLoopPad* pad = MakePad(Wav());
  gameState.outputLatency.store(kLatency);
  input.MoveTo(200, 150);  // row 2
  input.buttons = SDL_BUTTON_LMASK;
  double t = StepStart(3) - 0.02 + kLatency;
  const auto play = [&](double until, double latency) {
    gameState.outputLatency.store(latency);
    for (; t - latency < until; t += kBuffer) {
      input.ticks = Ms(t - kLatency);  // every callback on time
      Buffer(t);
    }
  };
  const auto rows = [pad] {  // each step's row, -1 where none
    std::vector<int> r;
    for (int s = 0; s < 16; ++s) r.push_back(pad->Sequencer().IsActive(s) ? pad->Sequencer().NoteAt(s).offset : -1);
    return r;
  };
  play(StepStart(3) + 0.01, kLatency);
  ASSERT_TRUE(pad->Sequencer().IsActive(3));
  const std::vector<int> before = rows();
  input.MoveTo(200, 250);  // row 7
  play(StepStart(4) - 0.01, kLatency + 0.030);  // heard 30 ms earlier: back into step 2, then on
  EXPECT_EQ(rows(), before);
  play(StepStart(4) + 0.03, kLatency + 0.030);
  EXPECT_TRUE(pad->Sequencer().IsActive(4) && pad->Sequencer().NoteAt(4).offset == 7)
      << "step 4 begins";
}

// Both buttons held over a pad as a step begins: removing wins over writing.
TEST_F(WaveLoopPadTest, BothButtonsHeldRemoveTheStepsNote) {
  const struct { uint32_t buttons; bool kept; } cases[] = {
      {SDL_BUTTON_LMASK | SDL_BUTTON_RMASK, false}, {SDL_BUTTON_RMASK, false}, {SDL_BUTTON_LMASK, true}};
  const std::string file = Wav();
  input.MoveTo(200, 150);
  for (const auto& c : cases) {
    WaveLoopPad* pad = MakePad(file);
    input.buttons = SDL_BUTTON_LMASK;  // a note on step 2
    Buffer(StepStart(2));
    input.buttons = 0;
    Buffer(StepStart(2) + kBuffer);
    ASSERT_TRUE(pad->Sequencer().IsActive(2));
    input.buttons = c.buttons;  // pressed past step 1's late window of the next pass: held only
    Buffer(2.0 + StepStart(1) + 0.06);
    Buffer(2.0 + StepStart(2));
    input.buttons = 0;
    Buffer(2.0 + StepStart(2) + kBuffer);
    EXPECT_EQ(pad->Sequencer().IsActive(2), c.kept) << "buttons " << c.buttons;
  }
}

// An echo of 0 steps reads the slot about to be overwritten: the pad's own output of the whole
// history (kMaxEchoBufferSize frames) before, at the echo's level, and nothing in between.
TEST_F(WaveLoopPadTest, AnEchoOfNoStepsRepeatsAfterTheWholeHistory) {
  const std::string click = MakeTempDir() + "/click.wav";
  WriteTestWav(click, std::vector<double>(100, 0.5), 1);
  auto* pad = new WaveLoopPad(kLeft, kBottom, kRight - kLeft, kTop - kBottom, 8, 0.25, 1.0, click,
                              0.5, 0.0, true, "Hit", 0.00001, 0.01, 1.0, 20.0f, false);
  AddPad(pad);
  input.MoveTo(kRight, 150);  // velocity 1
  input.buttons = SDL_BUTTON_LMASK;
  std::vector<double> out = Buffer(StepStart(1));
  input.buttons = 0;
  const std::vector<double> rest = LeftChannel(RunSeconds(StepStart(1) + kBuffer, 2.4));
  out.insert(out.end(), rest.begin(), rest.end());
  EXPECT_EQ(pad->EchoOffset(), 0);
  size_t hit = 0;
  while (hit < out.size() && out[hit] == 0.0) ++hit;
  const size_t echo = hit + WaveLoopPad::kMaxEchoBufferSize;
  ASSERT_LT(echo + 100, out.size());
  EXPECT_EQ(Peak(out, hit + 200, hit + 88200 - 1000), 0.0) << "no echo sooner";
  EXPECT_NEAR(Peak(out, echo, echo + 100), 0.5 * Peak(out, hit, hit + 100), 1e-9);
  EXPECT_EQ(Peak(out, echo - 1000, echo), 0.0) << "nothing just before";
}

// A callback that the system runs late finds less queued than the latency: the player already
// hears later audio than its stream time says. Presses are placed by the on-time callbacks.
TEST_F(WaveLoopPadTest, APressSeenByALateCallbackIsPlacedByTheOnTimeOnes) {
  WaveLoopPad* pad = MakePad(Wav());
  gameState.outputLatency.store(kLatency);
  double t = StepStart(4);
  for (; t - kLatency < StepStart(5) - 0.02; t += kBuffer) {
    input.ticks = Ms(t - kLatency);  // on time
    Buffer(t);
  }
  // This callback starts 25 ms late: 10 ms into step 5 as heard, though its stream time minus
  // the latency still lies in step 4. The press was made just now.
  const double heard = t - kLatency + 0.025;
  input.ticks = Ms(heard);
  input.Press(SDL_BUTTON_LMASK, 200, 150, Ms(heard));
  Buffer(t);
  EXPECT_TRUE(pad->Sequencer().IsActive(5));
  EXPECT_FALSE(pad->Sequencer().IsActive(4));
}

}  // namespace
