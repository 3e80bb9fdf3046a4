#pragma once
// Tempo, step grid, loop start and timing windows shared by every pad.
// tempo, startTime, beatsPerLoop and stepsPerBeat never change after construction and are
// safe to read from any thread. chord and lateWindow change while the program runs; see their
// own thread rules.

#include <atomic>

#include "loop_chord.h"

struct LoopOptions {
  // Root key 49, octave span 12, one note at offset 0; 120 BPM, 4 beats of 4 steps.
  LoopOptions();

  // Step (0 to steps per loop - 1) that contains stream time t in seconds. Any thread.
  int TimeToStep(double t) const;
  // Seconds from the start of the loop pass that contains stream time t (seconds).
  double TimeIntoLoop(double t) const;
  // Seconds from the start of the step that contains stream time t (seconds).
  double TimeIntoStep(double t) const { return TimeIntoLoop(t) - StepsToSeconds(TimeToStep(t)); }
  // Seconds spanned by a (fractional) number of steps.
  double StepsToSeconds(double steps) const { return LoopLength() * steps / StepsPerLoop(); }
  // Loop length in seconds.
  double LoopLength() const { return (60 * beatsPerLoop) / tempo; }
  // Steps in one loop.
  int StepsPerLoop() const { return beatsPerLoop * stepsPerBeat; }

  LoopChord chord;            // the current harmony
  double tempo;               // beats per minute
  double startTime;           // stream time of step 0 of the first loop, seconds
  int beatsPerLoop;
  int stepsPerBeat;
  // How long after a step begins a click still lands on it, in seconds. Written by the audio
  // callback after every buffer; read by pads on both threads.
  std::atomic<double> lateWindow;
};
