#pragma once

// Which server answers the PulseAudio protocol the audio library's PulseAudio back end speaks:
// PulseAudio itself, or the PulseAudio server of PipeWire. They keep a stream's queue on
// different threads, so the program asks them for different amounts of audio queued ahead
// (GameState::OpenStream). Main thread only.
class SoundServer {
 public:
  enum class Kind { kNone, kPulseAudio, kPipeWire };

  // Asks the server named by the environment (PULSE_SERVER, the client configuration, else the
  // user's own) for its name; never starts one. Blocks for one round trip, at most kTimeoutMs
  // milliseconds when a server does not answer. kNone when no server answered.
  static Kind Probe();
  // The kind a server's name says: PipeWire's names itself "PulseAudio (on PipeWire x.y.z)".
  static Kind FromName(const char* serverName);

  static constexpr int kTimeoutMs = 1000;
};
