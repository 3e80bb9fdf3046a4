#pragma once
// The narrow seam through which the program reads the audio stream's clock and rate.
// The shipping program asks RtAudio; tests install a clock they drive.

class RtAudio;

class StreamClock {
 public:
  virtual ~StreamClock() = default;
  // Stream time now, in seconds; while no stream is open (the sound device is lost), the time
  // it last read. Main thread only (drawing).
  virtual double StreamTime() = 0;
  // Sample rate of the open stream, in frames per second; the rate the program asks for while
  // no stream is open. Safe from any thread.
  virtual double SampleRate() = 0;
};

// Reads the clock and rate of an RtAudio stream.
class RtAudioStreamClock : public StreamClock {
 public:
  explicit RtAudioStreamClock(RtAudio& audio) : audio_(audio) {}
  double StreamTime() override;
  double SampleRate() override;

 private:
  RtAudio& audio_;
  double lastTime_ = 0.0;  // main thread only
};
