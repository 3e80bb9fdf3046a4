#include "tones.h"

#include <cmath>

namespace content {

void AddTone(Audio& out, const Tone& tone, int wrapFrames) {
  const int first = SecondsToFrames(tone.start);
  const int count = SecondsToFrames(tone.length);
  PulseOsc pulse(tone.hz, tone.timbre == Timbre::kPulse25 ? 0.25 : 0.5);
  OnePole tone1(tone.brightness > 0.0 ? tone.brightness : 20000.0);
  OnePole tone2(tone.brightness > 0.0 ? tone.brightness : 20000.0);
  double phase = 0.0;
  for (int i = 0; i < count; ++i) {
    const double t = i / kSampleRate;
    double env = AttackHoldRelease(t, tone.attack, tone.length, tone.release);
    if (tone.decayTau > 0.0 && t > tone.attack) env *= std::exp(-(t - tone.attack) / tone.decayTau);
    const double hz = tone.hz * (1.0 + tone.vibrato * std::sin(2.0 * kPi * 5.2 * t));
    double value = 0.0;
    switch (tone.timbre) {
      case Timbre::kSine:
        value = std::sin(2.0 * kPi * phase);
        break;
      case Timbre::kSoftSine:
        value = std::sin(2.0 * kPi * phase) + 0.18 * std::sin(4.0 * kPi * phase) + 0.06 * std::sin(6.0 * kPi * phase);
        break;
      case Timbre::kTriangle:
        value = Triangle(phase + 0.25);
        break;
      case Timbre::kPulse25:
      case Timbre::kPulse50:
        pulse.SetFrequency(hz);
        value = 0.6 * pulse.Tick();
        break;
      case Timbre::kBell:
        value = std::sin(2.0 * kPi * phase) + 0.45 * std::sin(2.0 * kPi * 2.756 * phase) * std::exp(-t / 0.12) +
                0.2 * std::sin(2.0 * kPi * 5.404 * phase) * std::exp(-t / 0.05);
        break;
    }
    phase += hz / kSampleRate;
    if (phase >= 1000.0) phase -= 1000.0;  // keep the accumulator precise; partial ratios repeat per whole cycle
    if (tone.brightness > 0.0) value = tone2.Tick(tone1.Tick(value));
    int frame = first + i;
    if (wrapFrames > 0) frame %= wrapFrames;
    out.AddPanned(frame, value * env * tone.gain, tone.pan);
  }
}

}  // namespace content
