#include "synth.h"

#include <algorithm>
#include <cmath>

namespace content {

int SecondsToFrames(double seconds) { return static_cast<int>(std::lround(seconds * kSampleRate)); }

double KeyToHz(double key) { return 440.0 * std::pow(2.0, (key - 69.0) / 12.0); }

Audio::Audio(int channelCount, int frames)
    : channels(channelCount), samples(static_cast<size_t>(channelCount) * frames, 0.0) {}

void Audio::Add(int frame, int channel, double value) {
  if (frame < 0 || frame >= Frames()) return;
  At(frame, channel) += value;
}

void Audio::AddPanned(int frame, double value, double pan) {
  const double angle = (std::clamp(pan, -1.0, 1.0) + 1.0) * 0.25 * kPi;
  Add(frame, 0, value * std::cos(angle) * std::sqrt(2.0));
  Add(frame, 1, value * std::sin(angle) * std::sqrt(2.0));
}

double Peak(const Audio& audio) {
  double peak = 0.0;
  for (double s : audio.samples) peak = std::max(peak, std::fabs(s));
  return peak;
}

double Mean(const Audio& audio, int channel) {
  const int frames = audio.Frames();
  if (frames == 0) return 0.0;
  double sum = 0.0;
  for (int f = 0; f < frames; ++f) sum += audio.At(f, channel);
  return sum / frames;
}

void ScaleToPeak(Audio& audio, double peak) {
  const double current = Peak(audio);
  if (current <= 0.0) return;
  const double gain = peak / current;
  for (double& s : audio.samples) s *= gain;
}

void FadeOutEnd(Audio& audio, double seconds) {
  const int frames = audio.Frames();
  const int length = std::min(frames, SecondsToFrames(seconds));
  if (length < 2) return;
  for (int i = 0; i < length; ++i) {
    // Gain runs from just below 1 to exactly 0 on the last frame.
    const double x = static_cast<double>(i + 1) / length;
    const double gain = 0.5 * (1.0 + std::cos(kPi * x));
    const int f = frames - length + i;
    for (int c = 0; c < audio.channels; ++c) audio.At(f, c) *= gain;
  }
  for (int c = 0; c < audio.channels; ++c) audio.At(frames - 1, c) = 0.0;
}

void FadeInStart(Audio& audio, double seconds) {
  const int length = std::min(audio.Frames(), SecondsToFrames(seconds));
  for (int i = 0; i < length; ++i) {
    const double gain = 0.5 * (1.0 - std::cos(kPi * i / length));
    for (int c = 0; c < audio.channels; ++c) audio.At(i, c) *= gain;
  }
}

void BlockDc(Audio& audio, double cutoffHz) {
  const double r = std::exp(-2.0 * kPi * cutoffHz / kSampleRate);
  for (int c = 0; c < audio.channels; ++c) {
    double x1 = 0.0, y1 = 0.0;
    for (int f = 0; f < audio.Frames(); ++f) {
      const double x = audio.At(f, c);
      const double y = x - x1 + r * y1;
      x1 = x;
      y1 = y;
      audio.At(f, c) = y;
    }
  }
}

Biquad::Biquad(double b0, double b1, double b2, double a0, double a1, double a2)
    : b0_(b0 / a0), b1_(b1 / a0), b2_(b2 / a0), a1_(a1 / a0), a2_(a2 / a0) {}

Biquad Biquad::LowPass(double cutoffHz, double q) {
  const double w = 2.0 * kPi * cutoffHz / kSampleRate;
  const double alpha = std::sin(w) / (2.0 * q);
  const double c = std::cos(w);
  return Biquad((1.0 - c) * 0.5, 1.0 - c, (1.0 - c) * 0.5, 1.0 + alpha, -2.0 * c, 1.0 - alpha);
}

Biquad Biquad::HighPass(double cutoffHz, double q) {
  const double w = 2.0 * kPi * cutoffHz / kSampleRate;
  const double alpha = std::sin(w) / (2.0 * q);
  const double c = std::cos(w);
  return Biquad((1.0 + c) * 0.5, -(1.0 + c), (1.0 + c) * 0.5, 1.0 + alpha, -2.0 * c, 1.0 - alpha);
}

Biquad Biquad::BandPass(double centreHz, double q) {
  const double w = 2.0 * kPi * centreHz / kSampleRate;
  const double alpha = std::sin(w) / (2.0 * q);
  const double c = std::cos(w);
  return Biquad(alpha, 0.0, -alpha, 1.0 + alpha, -2.0 * c, 1.0 - alpha);
}

OnePole::OnePole(double cutoffHz) : k_(1.0 - std::exp(-2.0 * kPi * cutoffHz / kSampleRate)) {}

namespace {

// Correction for a unit step at phase 0 of a phase accumulator with increment dt.
double PolyBlep(double t, double dt) {
  if (t < dt) {
    t /= dt;
    return t + t - t * t - 1.0;
  }
  if (t > 1.0 - dt) {
    t = (t - 1.0) / dt;
    return t * t + t + t + 1.0;
  }
  return 0.0;
}

}  // namespace

PulseOsc::PulseOsc(double frequencyHz, double duty, double phase)
    : phase_(phase), increment_(frequencyHz / kSampleRate), duty_(duty) {}

double PulseOsc::Tick() {
  // High for the first `duty` of the cycle; levels chosen so the cycle averages to zero.
  double value = phase_ < duty_ ? 1.0 : -1.0;
  value += PolyBlep(phase_, increment_);
  double falling = phase_ - duty_;
  if (falling < 0.0) falling += 1.0;
  value -= PolyBlep(falling, increment_);
  phase_ += increment_;
  if (phase_ >= 1.0) phase_ -= 1.0;
  return value - (2.0 * duty_ - 1.0);
}

double SineOsc::Tick() {
  const double value = std::sin(2.0 * kPi * phase_);
  phase_ += increment_;
  if (phase_ >= 1.0) phase_ -= 1.0;
  return value;
}

double Triangle(double phase) {
  phase -= std::floor(phase);
  return phase < 0.5 ? 4.0 * phase - 1.0 : 3.0 - 4.0 * phase;
}

double AttackDecay(double t, double attack, double tau) {
  if (t < 0.0) return 0.0;
  if (t < attack) return t / attack;
  return std::exp(-(t - attack) / tau);
}

double AttackHoldRelease(double t, double attack, double length, double release) {
  if (t < 0.0 || t >= length) return 0.0;
  double gain = attack > 0.0 && t < attack ? t / attack : 1.0;
  const double releaseStart = length - release;
  if (t > releaseStart && release > 0.0) gain *= 0.5 * (1.0 + std::cos(kPi * (t - releaseStart) / release));
  return gain;
}

}  // namespace content
