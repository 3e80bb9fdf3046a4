// Interface sound effects: short stereo cues, each with its own shape so that the
// player tells them apart without looking.
#include <vector>

#include "sounds.h"
#include "tones.h"

namespace content {

namespace {

// Ends every effect the same way: no DC, a smooth fade to zero, headroom.
void FinishEffect(Audio& audio, double fadeSeconds) {
  BlockDc(audio, 15.0);
  FadeOutEnd(audio, fadeSeconds);
  ScaleToPeak(audio, 0.85);
}

// A run of notes of one timbre, evenly spaced, panned from `panFrom` to `panTo`.
void AddRun(Audio& out, const std::vector<int>& keys, double spacing, double length, Timbre timbre,
            double decayTau, double panFrom, double panTo, double brightness) {
  for (size_t i = 0; i < keys.size(); ++i) {
    Tone tone;
    tone.start = spacing * i;
    tone.length = length - tone.start;
    tone.hz = KeyToHz(keys[i]);
    tone.timbre = timbre;
    tone.gain = 0.35;
    tone.pan = keys.size() > 1 ? panFrom + (panTo - panFrom) * i / (keys.size() - 1) : panFrom;
    tone.attack = 0.004;
    tone.decayTau = decayTau;
    tone.release = 0.05;
    tone.brightness = brightness;
    AddTone(out, tone);
  }
}

}  // namespace

Audio MakeLoadedChime() {
  // Two bell strikes a fifth apart, left then right, over a soft low sine.
  const double seconds = 0.9;
  Audio out(2, SecondsToFrames(seconds));
  const int keys[2] = {88, 95};
  for (int i = 0; i < 2; ++i) {
    Tone bell;
    bell.start = 0.09 * i;
    bell.length = seconds - bell.start;
    bell.hz = KeyToHz(keys[i]);
    bell.timbre = Timbre::kBell;
    bell.gain = 0.4;
    bell.pan = i == 0 ? -0.45 : 0.45;
    bell.attack = 0.002;
    bell.decayTau = 0.28;
    bell.release = 0.1;
    AddTone(out, bell);
  }
  Tone low;
  low.length = seconds;
  low.hz = KeyToHz(64);
  low.gain = 0.18;
  low.attack = 0.01;
  low.decayTau = 0.3;
  low.release = 0.1;
  AddTone(out, low);
  FinishEffect(out, 0.1);
  return out;
}

Audio MakeStartArpeggio() {
  // C major, rising, left to right.
  Audio out(2, SecondsToFrames(0.55));
  AddRun(out, {72, 76, 79, 84}, 0.065, 0.55, Timbre::kPulse25, 0.11, -0.6, 0.6, 7000.0);
  AddRun(out, {60}, 0.0, 0.3, Timbre::kTriangle, 0.1, 0.0, 0.0, 0.0);
  FinishEffect(out, 0.08);
  return out;
}

Audio MakeStopArpeggio() {
  // The same chord falling, right to left, on a darker square.
  Audio out(2, SecondsToFrames(0.55));
  AddRun(out, {84, 79, 76, 72}, 0.065, 0.55, Timbre::kPulse50, 0.11, 0.6, -0.6, 4500.0);
  FinishEffect(out, 0.08);
  return out;
}

Audio MakeQuitFarewell() {
  // A slow, soft descent that has faded out well within one second.
  Audio out(2, SecondsToFrames(0.95));
  AddRun(out, {79, 76, 72}, 0.17, 0.95, Timbre::kTriangle, 0.22, 0.3, -0.3, 0.0);
  AddRun(out, {67, 64, 60}, 0.17, 0.95, Timbre::kSine, 0.25, -0.2, 0.2, 0.0);
  FinishEffect(out, 0.25);
  return out;
}

Audio MakeSelectBlip() {
  // Two very short square steps up a fourth.
  Audio out(2, SecondsToFrames(0.07));
  AddRun(out, {83, 88}, 0.025, 0.07, Timbre::kPulse50, 0.02, 0.0, 0.0, 9000.0);
  FinishEffect(out, 0.015);
  return out;
}

}  // namespace content
