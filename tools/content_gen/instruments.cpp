// Instrument samples: single-cycle waves for the pitched pads, drum one-shots and the
// metronome click.
#include <cmath>
#include <vector>

#include "sounds.h"

namespace content {

namespace {

// Integer 16-bit level as a sample value (the WAV writer stores it exactly).
double Level(int value) { return value / 32767.0; }

// Soft saturation that keeps small signals linear, like an overdriven analogue stage.
double Saturate(double x, double drive) { return std::tanh(drive * x) / std::tanh(drive); }

// Shared ending of every one-shot: remove DC, fade the tail to zero, set the level.
void FinishOneShot(Audio& audio, double fadeSeconds, double peak) {
  BlockDc(audio, 12.0);
  FadeOutEnd(audio, fadeSeconds);
  ScaleToPeak(audio, peak);
}

// Metallic cluster of six detuned square oscillators, band-passed into the hat range.
Audio MakeHat(double seconds, double decayTau, uint64_t seed) {
  static const double kRatios[6] = {1.0, 1.4827, 1.8003, 2.5460, 2.6303, 3.8967};
  const double base = 540.0;
  Audio out(1, SecondsToFrames(seconds));
  Noise noise(seed);
  Biquad band1 = Biquad::BandPass(9500.0, 0.9);
  Biquad band2 = Biquad::HighPass(6800.0, 0.7);
  Biquad noiseHigh = Biquad::HighPass(8000.0, 0.7);
  double phases[6] = {0.0, 0.13, 0.41, 0.77, 0.29, 0.58};
  for (int f = 0; f < out.Frames(); ++f) {
    const double t = f / kSampleRate;
    double metal = 0.0;
    for (int k = 0; k < 6; ++k) {
      metal += phases[k] < 0.5 ? 1.0 : -1.0;
      phases[k] += base * kRatios[k] / kSampleRate;
      if (phases[k] >= 1.0) phases[k] -= 1.0;
    }
    const double tone = band2.Tick(band1.Tick(metal / 6.0));
    const double air = noiseHigh.Tick(noise.Tick());
    const double env = AttackDecay(t, 0.0003, decayTau);
    out.At(f, 0) = env * (0.8 * tone + 0.35 * air);
  }
  return out;
}

}  // namespace

Audio MakePulseCycle(int dutySixteenths) {
  // High for n of 16 parts and low for the rest, with levels in the ratio (16 - n) : n so
  // that the cycle sums to exactly zero; the high level is about 0.8 of full scale.
  const int high = kCycleFrames * dutySixteenths / 16;
  const int unit = 26208 / (16 - dutySixteenths);
  const int highLevel = unit * (16 - dutySixteenths);
  const int lowLevel = -unit * dutySixteenths;
  Audio out(1, kCycleFrames);
  for (int f = 0; f < kCycleFrames; ++f) out.At(f, 0) = Level(f < high ? highLevel : lowLevel);
  return out;
}

Audio MakeSteppedTriangleCycle() {
  // Steps 0..15 up then 15..0 down, each held kCycleFrames / 32 frames, as odd levels
  // -15..15 so the cycle is symmetric about zero.
  const int framesPerStep = kCycleFrames / 32;
  const int unit = 1747;
  Audio out(1, kCycleFrames);
  for (int step = 0; step < 32; ++step) {
    const int value = step < 16 ? step : 31 - step;
    for (int i = 0; i < framesPerStep; ++i) out.At(step * framesPerStep + i, 0) = Level((2 * value - 15) * unit);
  }
  return out;
}

Audio MakeKick() {
  Audio out(1, SecondsToFrames(0.5));
  Noise noise(0x4B1C);
  Biquad clickBand = Biquad::BandPass(3200.0, 0.8);
  double phase = 0.0;
  for (int f = 0; f < out.Frames(); ++f) {
    const double t = f / kSampleRate;
    // Fast drop from about 260 Hz into a 48 Hz body.
    const double hz = 48.0 + 150.0 * std::exp(-t / 0.016) + 60.0 * std::exp(-t / 0.11);
    phase += hz / kSampleRate;
    const double body = std::sin(2.0 * kPi * phase) * AttackDecay(t, 0.0004, 0.24);
    const double click = clickBand.Tick(noise.Tick()) * AttackDecay(t, 0.0003, 0.004);
    out.At(f, 0) = Saturate(body + 0.9 * click, 1.6);
  }
  FinishOneShot(out, 0.08, 0.85);
  return out;
}

Audio MakeSnare() {
  Audio out(1, SecondsToFrames(0.3));
  Noise noise(0x5A4E);
  Biquad noiseHigh = Biquad::HighPass(1400.0, 0.7);
  Biquad noiseLow = Biquad::LowPass(9000.0, 0.7);
  double phase1 = 0.0, phase2 = 0.0;
  for (int f = 0; f < out.Frames(); ++f) {
    const double t = f / kSampleRate;
    const double drop = 1.0 + 0.25 * std::exp(-t / 0.012);
    phase1 += 185.0 * drop / kSampleRate;
    phase2 += 332.0 * drop / kSampleRate;
    const double body = 0.8 * std::sin(2.0 * kPi * phase1) * AttackDecay(t, 0.0004, 0.045) +
                        0.45 * std::sin(2.0 * kPi * phase2) * AttackDecay(t, 0.0004, 0.03);
    const double snap = noiseLow.Tick(noiseHigh.Tick(noise.Tick())) * AttackDecay(t, 0.0005, 0.085);
    out.At(f, 0) = Saturate(body + 0.9 * snap, 1.3);
  }
  FinishOneShot(out, 0.06, 0.85);
  return out;
}

Audio MakeClosedHat() {
  Audio out = MakeHat(0.12, 0.022, 0xC105ED);
  FinishOneShot(out, 0.04, 0.8);
  return out;
}

Audio MakeOpenHat() {
  Audio out = MakeHat(0.6, 0.17, 0x0BE7);
  FinishOneShot(out, 0.15, 0.8);
  return out;
}

Audio MakeMetronomeClick() {
  // A struck block: three damped partials at inharmonic ratios plus a tiny noise tick.
  Audio out(1, SecondsToFrames(0.05));
  Noise noise(0x71C4);
  Biquad tickHigh = Biquad::HighPass(2500.0, 0.7);
  for (int f = 0; f < out.Frames(); ++f) {
    const double t = f / kSampleRate;
    const double wood = 1.0 * std::sin(2.0 * kPi * 1450.0 * t) * AttackDecay(t, 0.0002, 0.009) +
                        0.55 * std::sin(2.0 * kPi * 2390.0 * t) * AttackDecay(t, 0.0002, 0.006) +
                        0.3 * std::sin(2.0 * kPi * 3810.0 * t) * AttackDecay(t, 0.0002, 0.003);
    const double tick = tickHigh.Tick(noise.Tick()) * AttackDecay(t, 0.0002, 0.0012);
    out.At(f, 0) = wood + 0.4 * tick;
  }
  FinishOneShot(out, 0.015, 0.85);
  return out;
}

}  // namespace content
