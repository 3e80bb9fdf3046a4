// The loop: step timing at the edges of steps, beats, loops and the late window; sample counts
// and key frequencies; chords turning
// offsets into keys, and the loop chord's copy for drawing.

#include <array>
#include <sstream>

#include "common.h"
#include "game_state.h"
#include "step_sequencer.h"
#include "test_support.h"

namespace {

using LoopTest = EngineTest;

TEST_F(LoopTest, StepsWindowsSamplesAndKeysAtTheirBoundaries) {
  // The mixer sets the late window: a quarter step plus one buffer (512 frames), 42.9 ms. A
  // step is 125 ms, a beat four steps.
  RunBuffer(0.0, 0);
  const struct {
    double previous, t;  // the previous buffer's stream time and this one's, seconds
    int step;
    bool change, late, beat;
  } cases[] = {
      {0.0, 0.0, 0, false, true, true},      // a fresh stream's first instant
      {0.0, 0.124, 0, false, false, false},
      {0.124, 0.125, 1, true, true, false},  // step 1 begins; no beat
      {1.99, 1.999, 15, false, false, false},
      {1.99, 2.001, 0, true, true, true},    // the loop wraps from step 15 to step 0
      {0.6, 0.667, 5, true, true, false},    // 42 ms into step 5: inside the window
      {0.6, 0.669, 5, true, false, false},   // 44 ms: past it
      {0.505, 0.52, 4, false, true, true},   // inside the late window of beat 2
      {0.505, 0.56, 4, false, false, false},
      {0.49, 0.56, 4, true, false, true},    // a beat's first buffer, past the window
      {5.25, 5.3, 10, false, false, false},  // the third loop
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.previous << " then " << c.t);
    gameState.lastStreamTime.store(c.previous);
    EXPECT_EQ(TimeToStep(c.t), c.step);
    EXPECT_EQ(StepChange(c.t), c.change);
    EXPECT_EQ(LateTimingWindow(c.t), c.late);
    EXPECT_EQ(BeatWindow(c.t), c.beat);
  }
  EXPECT_EQ(StepsToSamples(3.0), 16537);  // 16537.5 frames
}

NoteChord MakeChord(int root, std::initializer_list<int> offsets) {
  NoteChord chord(root, 12);
  for (int offset : offsets) chord.AddNote(offset);
  return chord;
}

TEST(ChordTest, OffsetsWrapIntoNeighbouringOctaves) {
  const NoteChord major = MakeChord(60, {0, 2, 4, 5, 7, 9, 11});
  const NoteChord odd = MakeChord(60, {7, 0, 0, 4});  // used exactly as listed
  const NoteChord single = MakeChord(49, {0}), empty(55, 12);
  const struct { const NoteChord& chord; int offset, key; } cases[] = {{major, -8, 47},
      {major, -7, 48}, {major, -1, 59}, {major, 0, 60}, {major, 6, 71}, {major, 7, 72},
      {major, 9, 76}, {odd, 0, 67}, {odd, 2, 60}, {odd, 3, 64}, {odd, 4, 79}, {odd, -1, 52},
      {single, -3, 13}, {single, 11, 181}, {empty, 9, 55}, {empty, -9, 55}};
  for (const auto& c : cases) EXPECT_EQ(c.chord.GetKey(c.offset), c.key) << "offset " << c.offset;
  EXPECT_NEAR(major.GetFrequency(7), 2 * 261.6255653, 1e-6);
}

// Both fixed tables refuse what does not fit instead of writing past their ends: a chord keeps
// its first kMaxNotes offsets, a pattern ignores steps at or past kMaxSteps.
TEST(ChordTest, ChordsAndPatternsIgnoreWhatPassesTheirCapacity) {
  NoteChord chord(60, 12);
  for (int i = 0; i < NoteChord::kMaxNotes + 3; ++i) chord.AddNote(i < NoteChord::kMaxNotes ? i : 99);
  EXPECT_EQ(chord.NoteCount(), NoteChord::kMaxNotes);
  EXPECT_EQ(chord.GetKey(NoteChord::kMaxNotes - 1), 60 + NoteChord::kMaxNotes - 1);
  EXPECT_EQ(chord.GetKey(NoteChord::kMaxNotes), 72) << "wraps to the first note, an octave up";

  struct {
    StepSequencer pattern;
    std::array<char, 64> after{};  // what lies past the table stays as it was
  } memory;
  StepSequencer& pattern = memory.pattern;
  const unsigned int last = StepSequencer::kMaxSteps - 1;
  pattern.AddNote(last, 3, 0.5);
  for (unsigned int past : {last + 1, last + 2, 100000u}) {
    pattern.AddNote(past, 7, 1.0);
    pattern.RemoveNote(past);
    EXPECT_FALSE(pattern.IsActive(past)) << past;
    EXPECT_EQ(pattern.NoteAt(past).offset, 0) << past;
  }
  EXPECT_EQ(memory.after, (std::array<char, 64>{}));
  EXPECT_TRUE(pattern.IsActive(last));
  EXPECT_EQ(pattern.NoteAt(last).offset, 3) << "the last step is kept, untouched";

  // A loop of more steps than the table (40 beats, 160 steps) plays its last step and nothing
  // past it: step 128 begins 16 s in, where the byte past the table would read as a note.
  memory.after[0] = 1;
  struct LongLoop {
    int beats = gameState.loopOptions.beatsPerLoop;
    LongLoop() { gameState.loopOptions.beatsPerLoop = 40; }
    ~LongLoop() { gameState.loopOptions.beatsPerLoop = beats; }
  } longLoop;
  Note note{-1, 0.0};
  gameState.lastStreamTime.store(15.87);
  EXPECT_TRUE(pattern.Tick(15.88, &note)) << "step 127, the table's last";
  EXPECT_EQ(note.offset, 3);
  note = Note{-1, 0.0};
  gameState.lastStreamTime.store(15.99);
  EXPECT_FALSE(pattern.Tick(16.01, &note)) << "step 128, past the table";
  EXPECT_EQ(note.offset, -1);
}

// The main thread installs; drawing reads a copy.
TEST(ChordTest, LoopChordSnapshotIsTheWholeChordInstalledLast) {
  LoopChord loop(MakeChord(67, {0, 5, 7}));
  loop.Install(MakeChord(60, {0, 2, 4, 5, 7, 9, 11}));
  EXPECT_EQ(loop.Snapshot().NoteCount(), 7);
  EXPECT_EQ(loop.Snapshot().GetKey(-1), 59) << "the last note an octave down";
}

}  // namespace
