#pragma once
// One pad's pattern: at most one note per step of the loop, stored as a chord offset and a
// velocity, reported once per pass of the loop in the first buffer of its step.
//
// Tick, AddNote and RemoveNote: audio thread only (the owning pad's callback). Draw: main
// thread, without a lock. Each step's fields are atomics, so drawing never races with the
// audio thread; at worst a frame shows a note half a buffer early or late.

#include <array>
#include <atomic>

struct Note {
  int offset = 0;         // offset into the loop chord: the pad's row
  double velocity = 0.0;  // loudness, 0 to 1
};

class StepSequencer {
 public:
  static constexpr unsigned int kMaxSteps = 128;

  // A pattern of kMaxSteps inactive steps.
  StepSequencer() = default;

  // True, with the step's note copied to *note, in the first buffer of a step that holds a
  // note; false otherwise (*note untouched). streamTime in seconds. Audio thread.
  bool Tick(double streamTime, Note* note);
  // Puts a note on step (< kMaxSteps), replacing any note there. Audio thread.
  void AddNote(unsigned int step, int offset, double velocity);
  // Clears step; steps at or beyond kMaxSteps are ignored. Audio thread.
  void RemoveNote(unsigned int step);
  // True when step holds a note. Any thread.
  bool IsActive(unsigned int step) const;
  // The note stored on step (meaningful while it is active). Any thread.
  Note NoteAt(unsigned int step) const;
  // Draws the pattern strip in the rectangle (x, y, w, h), window pixels; rows is the owning
  // pad's row count, or -1 to draw every note on the centre line. Main thread.
  void Draw(float x, float y, float w, float h, int rows) const;

 private:
  struct Step {
    std::atomic<bool> active{false};
    std::atomic<int> offset{0};
    std::atomic<double> velocity{0.0};
  };
  std::array<Step, kMaxSteps> steps_{};
};
