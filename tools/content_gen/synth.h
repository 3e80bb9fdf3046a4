// A tiny offline synthesis toolkit for the content generator: sample buffers,
// oscillators, envelopes, filters and a seeded noise source. Everything here is
// deterministic, so the generated files are identical on every run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace content {

constexpr double kSampleRate = 44100.0;
constexpr double kPi = 3.14159265358979323846;

// Frames for a duration in seconds at kSampleRate, rounded to the nearest frame.
int SecondsToFrames(double seconds);

// Frequency in Hz of a MIDI key (69 is 440 Hz).
double KeyToHz(double key);

// Interleaved sample buffer, full scale +-1.0.
struct Audio {
  int channels = 1;
  std::vector<double> samples;

  Audio() = default;
  // A silent buffer of the given channel count and length in frames.
  Audio(int channelCount, int frames);
  // Length in frames.
  int Frames() const { return channels > 0 ? static_cast<int>(samples.size()) / channels : 0; }
  // Sample of a frame and channel.
  double& At(int frame, int channel) { return samples[static_cast<size_t>(frame) * channels + channel]; }
  double At(int frame, int channel) const { return samples[static_cast<size_t>(frame) * channels + channel]; }
  // Adds a value to a frame; frames outside the buffer are ignored.
  void Add(int frame, int channel, double value);
  // Adds a value to both sides of a stereo frame with an equal-power pan (-1 left .. +1 right).
  void AddPanned(int frame, double value, double pan);
};

// Largest absolute sample.
double Peak(const Audio& audio);
// Mean of one channel.
double Mean(const Audio& audio, int channel);
// Multiplies every sample so that the peak becomes `peak` (gain, full scale 1.0).
void ScaleToPeak(Audio& audio, double peak);
// Raised-cosine fade of the last `seconds` to exactly zero at the final frame.
void FadeOutEnd(Audio& audio, double seconds);
// Raised-cosine fade-in over the first `seconds`, from zero at frame 0.
void FadeInStart(Audio& audio, double seconds);
// Runs a one-pole DC blocker (cut-off in Hz) over every channel.
void BlockDc(Audio& audio, double cutoffHz);

// xorshift64* generator with a fixed seed: the generator's own noise source.
class Noise {
 public:
  explicit Noise(uint64_t seed) : state_(seed ? seed : 0x9E3779B97F4A7C15ULL) {}
  // Next white-noise sample in [-1, 1).
  double Tick() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    const uint64_t r = state_ * 0x2545F4914F6CDD1DULL;
    return static_cast<double>(r >> 11) * (2.0 / 9007199254740992.0) - 1.0;
  }
  // Uniform value in [0, 1).
  double Uniform() { return 0.5 * (Tick() + 1.0); }

 private:
  uint64_t state_;
};

// Second-order filter (bilinear-transform designs), direct form I.
class Biquad {
 public:
  // Low-pass at cut-off Hz with resonance q.
  static Biquad LowPass(double cutoffHz, double q);
  // High-pass at cut-off Hz with resonance q.
  static Biquad HighPass(double cutoffHz, double q);
  // Band-pass with 0 dB peak at the centre frequency (Hz) and quality q.
  static Biquad BandPass(double centreHz, double q);
  // Filters one sample.
  double Tick(double x) {
    const double y = b0_ * x + b1_ * x1_ + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
    x2_ = x1_;
    x1_ = x;
    y2_ = y1_;
    y1_ = y;
    return y;
  }

 private:
  Biquad(double b0, double b1, double b2, double a0, double a1, double a2);
  double b0_, b1_, b2_, a1_, a2_;
  double x1_ = 0.0, x2_ = 0.0, y1_ = 0.0, y2_ = 0.0;
};

// One-pole low-pass (cut-off in Hz).
class OnePole {
 public:
  explicit OnePole(double cutoffHz);
  // Filters one sample.
  double Tick(double x) {
    y_ += k_ * (x - y_);
    return y_;
  }

 private:
  double k_;
  double y_ = 0.0;
};

// Band-limited pulse oscillator (polyBLEP edges), output +-1 with the given duty.
class PulseOsc {
 public:
  PulseOsc(double frequencyHz, double duty, double phase = 0.0);
  // Sets the frequency in Hz.
  void SetFrequency(double frequencyHz) { increment_ = frequencyHz / kSampleRate; }
  // Next sample; zero-mean over a cycle.
  double Tick();

 private:
  double phase_, increment_, duty_;
};

// Sine oscillator with a phase accumulator; the frequency may change every sample.
class SineOsc {
 public:
  explicit SineOsc(double frequencyHz, double phase = 0.0) : phase_(phase), increment_(frequencyHz / kSampleRate) {}
  // Sets the frequency in Hz.
  void SetFrequency(double frequencyHz) { increment_ = frequencyHz / kSampleRate; }
  // Next sample in [-1, 1].
  double Tick();

 private:
  double phase_, increment_;
};

// Naive triangle (its harmonics fall fast enough for this use), output +-1.
double Triangle(double phase);

// Envelope shapes; t in seconds since the note start.
// Linear attack over `attack` seconds followed by an exponential decay with time constant `tau`.
double AttackDecay(double t, double attack, double tau);
// 0..1..0 over `length` seconds: linear attack, flat, raised-cosine release over `release` seconds.
double AttackHoldRelease(double t, double attack, double length, double release);

}  // namespace content
