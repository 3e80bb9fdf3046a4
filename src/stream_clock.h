#pragma once
// The narrow seam through which the program reads the audio stream's clock and rate.
// The shipping program reads what the stream's callbacks publish; tests install a clock they
// drive.

#include <atomic>
#include <cstdint>

class StreamClock {
 public:
  virtual ~StreamClock() = default;
  // Stream time now, in seconds. Main thread only (drawing).
  virtual double StreamTime() = 0;
  // Sample rate of the stream, in frames per second. Safe from any thread.
  virtual double SampleRate() = 0;
  // A callback begins a buffer of `frames` frames at stream time `streamTime`, seconds. Audio
  // thread only; never blocks.
  virtual void BufferBegins(double /*streamTime*/, unsigned int /*frames*/) {}
};

// The clock of the audio library's stream, read without calling into the library (which only
// the stream's own thread may do): the stream time of the last buffer a callback began, moved
// on by the time since, on the monotonic clock, by at most that buffer's length. So it runs
// with the stream, and stands still a buffer after the last callback while no stream plays
// (the sound device is lost, a new stream is being opened).
class CallbackStreamClock : public StreamClock {
 public:
  // Main thread only.
  double StreamTime() override;
  // The rate the stream worker set, or the synthesis library's rate before. Any thread.
  double SampleRate() override;
  // Audio thread only: a few atomic stores.
  void BufferBegins(double streamTime, unsigned int frames) override;
  // The sample rate of the stream about to start. Stream worker's thread.
  void SetSampleRate(double rate) { rate_.store(rate, std::memory_order_relaxed); }

 private:
  // Odd while the audio thread writes the three values below (a sequence lock the reader
  // never waits on: it keeps the time it read last if it catches a write).
  std::atomic<uint32_t> sequence_{0};
  std::atomic<double> time_{0.0};
  std::atomic<double> length_{0.0};   // seconds
  std::atomic<int64_t> beganNs_{0};   // monotonic clock, nanoseconds; 0: no buffer yet
  std::atomic<double> rate_{0.0};     // 0: not set
  double lastTime_ = 0.0;             // main thread only
};
