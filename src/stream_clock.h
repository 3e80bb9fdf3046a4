#pragma once
// The narrow seam through which the program reads the audio stream's clock and rate.
// The shipping program asks RtAudio; tests install a clock they drive.

class RtAudio;

class StreamClock {
 public:
  virtual ~StreamClock() = default;
  // Stream time now, in seconds. Main thread only (drawing), while a stream is open.
  virtual double StreamTime() = 0;
  // Sample rate of the open stream, in frames per second. Safe from any thread while a
  // stream is open.
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
};
