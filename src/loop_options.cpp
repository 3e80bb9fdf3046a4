#include "loop_options.h"

namespace {
NoteChord DefaultChord() {
  NoteChord chord(49, 12);
  chord.AddNote(0);
  return chord;
}
}  // namespace

LoopOptions::LoopOptions()
    : chord(DefaultChord()),
      tempo(120.0),
      startTime(0.0),
      beatsPerLoop(4),
      stepsPerBeat(4),
      lateWindow(0.0) {}

double LoopOptions::TimeIntoLoop(double t) const {
  const double r = t - startTime;
  const double length = LoopLength();
  const int loops = static_cast<int>(r / length);
  return r - loops * length;
}

int LoopOptions::TimeToStep(double t) const {
  return static_cast<int>(StepsPerLoop() * (TimeIntoLoop(t) / LoopLength()));
}
