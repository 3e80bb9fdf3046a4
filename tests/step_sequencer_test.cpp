// Step sequencer: notes reported once per pass of the loop, in the first buffer of their step.

#include <vector>

#include "game_state.h"
#include "step_sequencer.h"
#include "test_support.h"

namespace {

struct Report {
  double time;
  Note note;
};

class StepSequencerTest : public EngineTest {
 protected:
  // Ticks the sequencer once per 512-frame buffer from t0 for the given seconds, publishing
  // each buffer's time afterwards as the mixer does, and returns the notes reported.
  std::vector<Report> Play(StepSequencer& sequencer, double t0, double seconds) {
    std::vector<Report> reports;
    for (double t = t0; t < t0 + seconds; t += 512 / 44100.0) {
      Note note{-99, -1.0};
      if (sequencer.Tick(t, &note)) {
        reports.push_back({t, note});
      } else {
        EXPECT_EQ(note.offset, -99) << "a quiet buffer leaves the record alone";
      }
      gameState.lastStreamTime.store(t);
    }
    return reports;
  }
};

TEST_F(StepSequencerTest, NewSequencerReportsNothing) {
  StepSequencer sequencer;
  EXPECT_TRUE(Play(sequencer, 0.0, 4.0).empty());
  for (unsigned int step = 0; step < StepSequencer::kMaxSteps; ++step) {
    EXPECT_FALSE(sequencer.IsActive(step));
  }
}

TEST_F(StepSequencerTest, NoteIsReportedOncePerLoopInTheFirstBufferOfItsStep) {
  StepSequencer sequencer;
  sequencer.AddNote(3, 2, 0.8);
  const std::vector<Report> reports = Play(sequencer, 0.0, 6.0);
  ASSERT_EQ(reports.size(), 3u);
  for (size_t loop = 0; loop < reports.size(); ++loop) {
    const double stepStart = 2.0 * loop + 3 * 0.125;
    EXPECT_GE(reports[loop].time, stepStart);
    EXPECT_LT(reports[loop].time, stepStart + 512 / 44100.0) << "first buffer of step 3";
    EXPECT_EQ(reports[loop].note.offset, 2);
    EXPECT_DOUBLE_EQ(reports[loop].note.velocity, 0.8);
  }
}

TEST_F(StepSequencerTest, SecondNoteOnAStepReplacesTheFirstAndRemoveSilencesIt) {
  StepSequencer sequencer;
  sequencer.AddNote(5, 1, 0.3);
  sequencer.AddNote(5, 4, 0.6);
  std::vector<Report> reports = Play(sequencer, 0.0, 2.0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].note.offset, 4);
  EXPECT_DOUBLE_EQ(reports[0].note.velocity, 0.6);

  sequencer.RemoveNote(5);
  sequencer.RemoveNote(StepSequencer::kMaxSteps + 10);  // beyond the table: ignored
  EXPECT_FALSE(sequencer.IsActive(5));
  EXPECT_TRUE(Play(sequencer, 2.0, 2.0).empty());
}

TEST_F(StepSequencerTest, NoteAddedBeforeTickInItsFirstBufferIsReported) {
  StepSequencer sequencer;
  gameState.lastStreamTime.store(0.87);  // step 6
  const double t = 0.876;                // step 7 has just begun
  sequencer.AddNote(7, 3, 0.5);
  Note note;
  ASSERT_TRUE(sequencer.Tick(t, &note));
  EXPECT_EQ(note.offset, 3);
  gameState.lastStreamTime.store(t);
  EXPECT_FALSE(sequencer.Tick(t + 0.01, &note)) << "only the step's first buffer";
}

}  // namespace
