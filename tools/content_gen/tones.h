// Note rendering shared by the interface sounds and the menu music.
#pragma once

#include <cstdint>

#include "synth.h"

namespace content {

enum class Timbre {
  kSine,       // pure tone
  kSoftSine,   // sine with a little second and third harmonic
  kTriangle,   // triangle wave
  kPulse25,    // band-limited 25 % pulse
  kPulse50,    // band-limited square
  kBell,       // sine with inharmonic, faster-decaying partials
};

// One note to add into a stereo buffer.
struct Tone {
  double start = 0.0;     // seconds from the buffer start
  double length = 0.2;    // seconds until the release has ended
  double hz = 440.0;      // frequency
  Timbre timbre = Timbre::kSine;
  double gain = 0.5;      // peak gain
  double pan = 0.0;       // -1 left .. +1 right
  double attack = 0.003;  // seconds
  double decayTau = 0.0;  // exponential decay time constant in seconds; 0 holds the level
  double release = 0.02;  // raised-cosine release at the end, seconds
  double vibrato = 0.0;   // vibrato depth as a frequency ratio (0.003 is about 5 cents)
  double brightness = 0.0;  // low-pass cut-off in Hz for the note; 0 leaves it open
};

// Renders the tone and adds it to the stereo buffer; frames past the end are dropped
// unless `wrapFrames` is positive, in which case they wrap around modulo that length.
void AddTone(Audio& out, const Tone& tone, int wrapFrames = 0);

}  // namespace content
