#pragma once
// The audio output stream as the stream worker drives it: one stereo, 64-bit float stream on
// the default output device, opened, started, closed, and what it reports while it plays.
// The shipping program's is RtAudioStreamDevice (the audio library); tests stand in one that
// can block where a sound server that never answers blocks the library.
//
// Threads: one object is made, called and destroyed by one thread only, the stream worker's
// (stream_worker.h). The only other thread that runs its code is the audio thread the device
// starts, which calls the mixer callback.

#include <cstdint>
#include <string>

class StreamDevice {
 public:
  virtual ~StreamDevice() = default;

  // Output devices there are; 0 when there are none (or they cannot be counted).
  virtual unsigned int DeviceCount() = 0;
  // Opens (without starting) a stream of *frames frames per buffer and writes back the size
  // granted. False, with *message saying why, when it did not open; nothing is left open then.
  virtual bool Open(unsigned int* frames, std::string* message) = 0;
  // Time from a buffer's start to its being heard as the device reports it at opening,
  // seconds; negative when it reports none. After Open.
  virtual double OpeningLatency() = 0;
  // Sample rate of the open stream, frames per second.
  virtual double SampleRate() = 0;
  // Makes the stream time of the first buffer `seconds`. After Open, before Start.
  virtual void SetStreamTime(double seconds) = 0;
  // Starts the open stream: its audio thread calls the mixer from now on. False, with
  // *message saying why, when it did not start.
  virtual bool Start(std::string* message) = 0;
  // Stops and closes the stream if one is open; no callback runs afterwards.
  virtual void Close() = 0;
  // True while a stream is open. A device may close its stream by itself (a JACK server that
  // shut the program's client down): then false.
  virtual bool IsOpen() = 0;
  // Reads what the path that plays the stream reports, when a reading is due: *seconds the
  // time from a buffer's start to its being heard (negative: none), *heardOffset the heard
  // stream time minus the press clock (NaN: none). nowMs on the press clock (SDL's
  // milliseconds), lastStreamTime the stream time of the last buffer rendered, seconds.
  virtual void ReadLatency(uint32_t nowMs, double lastStreamTime, double* seconds,
                           double* heardOffset) = 0;
};
