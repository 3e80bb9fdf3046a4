#pragma once
// Where the player's ears stand against the audio the callbacks render, as the path that plays
// the stream reports it, refreshed while the stream runs:
// - the PulseAudio protocol (PulseAudio itself, or PipeWire's PulseAudio server): libpulse's
//   latency of the stream (what was written to it and not yet played, the sink's own latency
//   included), read at a moment between two callbacks; with the stream time of the last
//   buffer rendered it places the heard stream time on the press clock (HeardOffset);
// - JACK: the playback latency range of the ports the stream feeds, read through a client of
//   our own that has no ports: the time from a callback's buffer to its being heard (Seconds);
// - ALSA: the device's delay, which the audio library reads after every buffer it writes
//   (Seconds).
// Nothing reported (no answer yet, another back end): HeardOffset is NaN, Seconds negative,
// and the caller keeps its own estimate.
//
// Threads: everything on the thread that owns the stream only (the stream worker's,
// stream_worker.h). The values it yields are handed to the audio thread by the caller
// (GameState::outputLatency, GameState::heardOffset).

#include <cstdint>
#include <memory>

class RtAudio;

class StreamLatency {
 public:
  // The back end that plays the stream.
  enum class Path { kNone, kPulse, kJack, kAlsa };
  // Time between two readings, milliseconds.
  static constexpr uint32_t kQueryIntervalMs = 50;
  // Readings kept for the heard offset: half a second of them, so that slow drift is followed
  // within half a second. A stream that falls behind all at once (an underrun) is followed at
  // the first reading after it (FromOffsetReadings).
  static constexpr int kSamples = 10;
  // Time the stream plays before libpulse is asked, milliseconds.
  static constexpr uint32_t kSettleMs = 500;

  StreamLatency();
  ~StreamLatency();
  StreamLatency(const StreamLatency&) = delete;
  StreamLatency& operator=(const StreamLatency&) = delete;

  // The stream that audio just started plays through path at rate frames per second, in
  // buffers of frames; readings of an earlier stream are forgotten.
  void Start(RtAudio& audio, Path path, double rate, unsigned int frames);
  // The stream is about to close: nothing is read or reported until the next Start.
  void Stop();
  // Takes a reading when one is due; nowMs on the press clock (wrapping milliseconds),
  // lastStreamTime the stream time of the last buffer rendered, seconds, read before the
  // call. Every few milliseconds while the stream runs.
  void Poll(uint32_t nowMs, double lastStreamTime);
  // Time from the start of a callback's buffer to when it is heard, seconds; negative when
  // not reported (JACK and ALSA report it).
  double Seconds() const { return seconds_; }
  // Heard stream time minus press-clock time, seconds; NaN when not reported (the PulseAudio
  // protocol reports it).
  double HeardOffset() const;

  // Asks the server of the next stream this process opens through the PulseAudio protocol to
  // keep seconds of audio queued in all (rounded up to whole milliseconds, at least one).
  // libpulse takes the request from PULSE_LATENCY_MSEC, which this sets (a value the user set
  // is replaced: the menu's buffer size is the player's choice). Without it the audio library
  // only caps the stream's queue, and the server then holds over 10 ms more than asked for at
  // 64 and 128 frames. The thread that opens streams (the stream worker's), before it opens
  // one. The main thread's SDL reads the environment meanwhile (its hints): the first call
  // adds the variable, for which glibc copies the environment into a new array and keeps the
  // old one, and later calls only replace the variable's string, so a reader sees the old
  // value or the new one.
  static void AskPulse(double seconds);
  // The shortest queue the PulseAudio protocol's servers played without breaking up all the
  // time on a quiet machine, seconds: three 64-frame buffers (4.4 ms) broke up 95 times a
  // minute, seven (10.2 ms) 8 times.
  static constexpr double kPulseShortestQueue = 0.010;
  // What to ask such a server to keep queued for buffers of frames at rate frames per second:
  // the fewest whole buffers that hold both `buffers` of them and kPulseShortestQueue, so a
  // smaller size is never heard later than a larger one. Seconds. Any thread (pure).
  static double PulseQueue(unsigned int buffers, unsigned int frames, double rate);

  // The heard offset from readings taken at random moments between callbacks, each the stream
  // time of the last buffer rendered, minus the stream's latency then, minus the press clock:
  // the buffer last rendered waits until it can be written, so what was written ends where
  // it begins; a reading taken after it was written, before the next callback finished,
  // comes out a buffer low, and one while it was partly written low by that part: the
  // largest reading is the true one. A reading lower than the largest before it by more than
  // a buffer (bufferSeconds) and kReadingNoise cannot be that: the stream has fallen behind
  // since (an underrun:
  // what was queued played out, and what came after plays that much later), and the readings
  // before it are stale. Kept, they would put the heard clock ahead of the audio by the gap
  // and place a press a step late. offsets oldest first. NaN for no readings. Any thread
  // (pure).
  static double FromOffsetReadings(const double* offsets, int count, double bufferSeconds);
  // How far a reading strays besides that, seconds: libpulse interpolates between the
  // server's timing reports, and PipeWire's server reports in its own graph's periods. With
  // none allowed, a reading 1 to 3 ms lower than its buffer allows was taken for a stream
  // fallen behind several times a second under PipeWire, each time holding the heard clock up
  // to 10 ms behind until a higher reading came.
  static constexpr double kReadingNoise = 0.003;

 private:
  class Pulse;
  class Jack;

  RtAudio* audio_ = nullptr;
  Path path_ = Path::kNone;
  double rate_ = 44100.0;
  double seconds_ = -1.0;
  uint32_t startMs_ = 0;  // the first Poll of the stream
  uint32_t lastReadMs_ = 0;
  bool started_ = false;
  std::unique_ptr<Pulse> pulse_;
  std::unique_ptr<Jack> jack_;
};
