#include "simple_square_pad.h"

#include <SDL_opengl.h>

#include "common.h"
#include "game_state.h"

SimpleSquarePad::SimpleSquarePad(float x, float y, float w, float h, int keys,
                                 double minVelocity, double pitchMultiplier)
    : MonoSoundPad(x, y, w, h),
      keys_(keys),
      minVelocity_(minVelocity),
      pitchMultiplier_(pitchMultiplier),
      square_(220.0),
      adsr_(),
      sequencer_() {
  // The decay rate is derived from the sustain level in force when the decay time is set
  // (still the default 0.5), so a note falls from 1.0 to silence in about 0.1 s.
  adsr_.setAttackTime(1e-8);
  adsr_.setDecayTime(0.05);
  adsr_.setSustainLevel(0.0);
}

void SimpleSquarePad::MonoAudioCallback(double* buffer, unsigned int nFrames, double streamTime) {
  const NoteChord& chord = gameState.loopOptions.chord.Current();
  const bool stepChange = StepChange(streamTime);

  if (MouseWithin(x, y, width, height)) {
    // Keys across the width, velocity up the height. The right edge itself gives keys_: an
    // offset past the last key wraps into the next octave of the chord.
    const int key =
        static_cast<int>(static_cast<float>(keys_) * ((static_cast<float>(MouseX()) - x) / width));
    const double velocity =
        (1.0 - minVelocity_) * static_cast<double>((static_cast<float>(MouseY()) - y) / height) +
        minVelocity_;
    const int step = gameState.loopOptions.TimeToStep(streamTime);
    if (stepChange) {
      // A button held across the boundary edits the step that has just begun.
      if (MouseRightButton()) {
        sequencer_.RemoveNote(step);
      } else if (MouseLeftButton()) {
        sequencer_.AddNote(step, key, velocity);
      }
    } else if (LateTimingWindow(streamTime)) {
      // A fresh click shortly after the boundary still lands on this step and sounds at once.
      if (MouseRightClick()) {
        sequencer_.RemoveNote(step);
      } else if (MouseLeftClick()) {
        sequencer_.AddNote(step, key, velocity);
        adsr_.keyOn();
        adsr_.setAttackTarget(velocity);
        square_.setFrequency(chord.GetFrequency(key) * pitchMultiplier_);
      }
    }
  }

  Note note;
  if (sequencer_.Tick(streamTime, &note)) {
    // Sustain is 0: every note decays to silence on its own and is never released.
    adsr_.keyOn();
    adsr_.setAttackTarget(note.velocity);
    square_.setFrequency(chord.GetFrequency(note.offset) * pitchMultiplier_);
  }

  for (unsigned int i = 0; i < nFrames; ++i) buffer[i] = square_.tick() * adsr_.tick();
}

void SimpleSquarePad::Draw() {
  glBegin(GL_QUADS);
  glColor3f(1.0f, 1.0f, 1.0f);
  glVertex2f(x, y);
  glVertex2f(x, y + height);
  glVertex2f(x + width, y + height);
  glVertex2f(x + width, y);
  glColor3f(0.0f, 0.0f, 0.0f);
  glVertex2f(x + 1, y + 1);
  glVertex2f(x + 1, y + height - 1);
  glVertex2f(x + width - 1, y + height - 1);
  glVertex2f(x + width - 1, y + 1);
  glEnd();
  sequencer_.Draw(x, y, width, height * 0.5f, keys_);
}
