// The menu music: four bars at 100 beats per minute (A minor, F, C, G) with a soft pad,
// a triangle bass, a pulse arpeggio with a ping-pong echo, a bell-like melody, a quiet
// kick and a shaker. The loop is rendered twice and the second pass is kept, so the
// tails and echoes that spill over the loop's end are already present at its start and
// the file repeats without a seam.
#include <cmath>
#include <vector>

#include "sounds.h"
#include "tones.h"

namespace content {

namespace {

constexpr int kFramesPerBeat = 26460;  // 100 beats per minute at 44100 Hz
constexpr int kBeatsPerBar = 4;
constexpr int kBars = 4;
constexpr int kLoopFrames = kFramesPerBeat * kBeatsPerBar * kBars;
constexpr double kBeat = kFramesPerBeat / kSampleRate;
constexpr double kLoopSeconds = kLoopFrames / kSampleRate;

struct Chord {
  int bassKey;
  int pad[4];
  int arp[4];
};

// A minor, F major, C major, G major.
const Chord kChords[kBars] = {
    {45, {57, 60, 64, 69}, {69, 72, 76, 81}},
    {41, {57, 60, 65, 69}, {65, 69, 72, 77}},
    {48, {55, 60, 64, 67}, {67, 72, 76, 79}},
    {43, {55, 59, 62, 67}, {67, 71, 74, 79}},
};

struct MelodyNote {
  int bar;
  double beat;    // position in the bar, beats
  double length;  // beats
  int key;
};

const MelodyNote kMelody[] = {
    {0, 0.0, 1.5, 72}, {0, 1.5, 0.5, 76}, {0, 2.0, 2.0, 81},
    {1, 0.0, 1.5, 79}, {1, 1.5, 0.5, 77}, {1, 2.0, 2.0, 72},
    {2, 0.0, 1.5, 76}, {2, 1.5, 0.5, 79}, {2, 2.0, 1.0, 84}, {2, 3.0, 1.0, 83},
    {3, 0.0, 2.0, 74}, {3, 2.0, 1.0, 71}, {3, 3.0, 1.0, 74},
};

// Adds the events of one pass of the loop, starting `offset` seconds into the buffers.
void AddPass(Audio& dry, Audio& echoSend, double offset) {
  for (int bar = 0; bar < kBars; ++bar) {
    const Chord& chord = kChords[bar];
    const double barStart = offset + bar * kBeatsPerBar * kBeat;

    // Pad: slow swell per bar, overlapping into the next bar.
    for (int v = 0; v < 4; ++v) {
      for (int detune = -1; detune <= 1; detune += 2) {
        Tone pad;
        pad.start = barStart;
        pad.length = kBeatsPerBar * kBeat + 0.45;
        pad.hz = KeyToHz(chord.pad[v] + 0.06 * detune);
        pad.timbre = Timbre::kPulse50;
        pad.gain = 0.035;
        pad.pan = -0.6 + 0.4 * v + 0.15 * detune;
        pad.attack = 0.35;
        pad.release = 0.6;
        pad.brightness = 1100.0;
        AddTone(dry, pad);
      }
    }

    // Bass: root on 1, the and of 2, 3 and the and of 4; an octave jump on beat 4.
    const double bassBeats[] = {0.0, 1.5, 2.0, 3.0, 3.5};
    for (int i = 0; i < 5; ++i) {
      Tone bass;
      bass.start = barStart + bassBeats[i] * kBeat;
      bass.length = 0.45 * kBeat;
      bass.hz = KeyToHz(chord.bassKey + (i == 3 ? 12 : 0));
      bass.timbre = Timbre::kTriangle;
      bass.gain = 0.24;
      bass.attack = 0.004;
      bass.release = 0.04;
      AddTone(dry, bass);
    }

    // Arpeggio: sixteenths up and down the chord, alternating sides.
    static const int kPattern[8] = {0, 1, 2, 3, 2, 1, 2, 3};
    for (int s = 0; s < 16; ++s) {
      Tone arp;
      arp.start = barStart + s * 0.25 * kBeat;
      arp.length = 0.3;
      arp.hz = KeyToHz(chord.arp[kPattern[s % 8]]);
      arp.timbre = Timbre::kPulse25;
      arp.gain = s % 4 == 0 ? 0.11 : 0.08;
      arp.pan = s % 2 == 0 ? -0.4 : 0.4;
      arp.attack = 0.002;
      arp.decayTau = 0.07;
      arp.release = 0.05;
      arp.brightness = 3500.0;
      AddTone(dry, arp);
      AddTone(echoSend, arp);
    }

    // Kick on 1 and 3, shaker on every off-beat eighth.
    for (int beat = 0; beat < kBeatsPerBar; beat += 2) {
      const int first = SecondsToFrames(barStart + beat * kBeat);
      double phase = 0.0;
      for (int i = 0; i < SecondsToFrames(0.25); ++i) {
        const double t = i / kSampleRate;
        phase += (45.0 + 90.0 * std::exp(-t / 0.02)) / kSampleRate;
        const double env = AttackHoldRelease(t, 0.002, 0.25, 0.08) * std::exp(-t / 0.09);
        dry.AddPanned(first + i, 0.28 * std::sin(2.0 * kPi * phase) * env, 0.0);
      }
    }
    for (int eighth = 1; eighth < 8; eighth += 2) {
      const int first = SecondsToFrames(barStart + eighth * 0.5 * kBeat);
      Noise noise(0x5EED0000u + static_cast<uint64_t>(bar * 8 + eighth));
      Biquad high = Biquad::HighPass(7000.0, 0.7);
      for (int i = 0; i < SecondsToFrames(0.08); ++i) {
        const double t = i / kSampleRate;
        const double env = AttackHoldRelease(t, 0.003, 0.08, 0.03) * std::exp(-t / 0.025);
        dry.AddPanned(first + i, 0.05 * high.Tick(noise.Tick()) * env, eighth % 4 == 1 ? 0.3 : -0.3);
      }
    }
  }

  // Melody: a soft bell-like voice with a little vibrato, slightly right of centre.
  for (const MelodyNote& note : kMelody) {
    Tone lead;
    lead.start = offset + (note.bar * kBeatsPerBar + note.beat) * kBeat;
    lead.length = note.length * kBeat + 0.12;
    lead.hz = KeyToHz(note.key);
    lead.timbre = Timbre::kSoftSine;
    lead.gain = 0.16;
    lead.pan = 0.15;
    lead.attack = 0.012;
    lead.decayTau = 1.2;
    lead.release = 0.15;
    lead.vibrato = 0.003;
    AddTone(dry, lead);
    lead.gain *= 0.6;
    AddTone(echoSend, lead);
  }
}

// Ping-pong echo of a dotted eighth: the left repeat feeds the right and back.
void AddPingPongEcho(Audio& dry, const Audio& send) {
  const int delay = kFramesPerBeat * 3 / 4;
  const double feedback = 0.38;
  const double level = 0.45;
  std::vector<double> left(send.Frames(), 0.0), right(send.Frames(), 0.0);
  OnePole dampLeft(3000.0), dampRight(3000.0);
  for (int f = 0; f < send.Frames(); ++f) {
    const double mono = 0.5 * (send.At(f, 0) + send.At(f, 1));
    const double fromRight = f >= delay ? right[f - delay] : 0.0;
    const double fromLeft = f >= delay ? left[f - delay] : 0.0;
    left[f] = dampLeft.Tick(mono + feedback * fromRight);
    right[f] = dampRight.Tick(feedback * fromLeft);
    dry.At(f, 0) += level * fromLeft;
    dry.At(f, 1) += level * fromRight;
  }
}

}  // namespace

int MenuThemeFrames() { return kLoopFrames; }

Audio MakeMenuTheme() {
  Audio dry(2, 2 * kLoopFrames);
  Audio send(2, 2 * kLoopFrames);
  AddPass(dry, send, 0.0);
  AddPass(dry, send, kLoopSeconds);
  AddPingPongEcho(dry, send);

  Audio loop(2, kLoopFrames);
  for (int f = 0; f < kLoopFrames; ++f)
    for (int c = 0; c < 2; ++c) loop.At(f, c) = dry.At(kLoopFrames + f, c);
  // A DC blocker would need its own warm-up; the parts are built without DC, so only the
  // tiny residual mean is removed, which keeps the loop seamless.
  for (int c = 0; c < 2; ++c) {
    const double mean = Mean(loop, c);
    for (int f = 0; f < kLoopFrames; ++f) loop.At(f, c) -= mean;
  }
  ScaleToPeak(loop, 0.85);
  return loop;
}

}  // namespace content
