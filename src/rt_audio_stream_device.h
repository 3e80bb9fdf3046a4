#pragma once
// The audio library's stream (RtAudio) as a StreamDevice: its RtAudio object, made on the
// stream worker's thread (the library may reach for a sound server as it is made), the reading
// of the stream's latency (stream_latency.h), and the library's errors, which it reports to
// the stream supervisor instead of printing them.
//
// While it opens and starts a stream the calling thread runs real-time (SCHED_RR at the
// priority given) where the system
// allows it, so the threads the library starts meanwhile (its audio thread, the PulseAudio
// client's I/O thread) inherit it.
//
// Threads: everything on the stream worker's thread (stream_device.h); the library's audio
// thread runs the mixer callback and reports errors to the supervisor.

#include <memory>
#include <string>

#include "stream_device.h"

class RtAudio;
class StreamLatency;
class StreamSupervisor;

class RtAudioStreamDevice : public StreamDevice {
 public:
  // supervisor: where the library's errors go (from any of its threads). buffers: the buffers
  // the sound server may queue (RtAudio's numberOfBuffers). priority: the SCHED_RR priority
  // of the stream's threads.
  RtAudioStreamDevice(StreamSupervisor& supervisor, unsigned int buffers, int priority);
  ~RtAudioStreamDevice() override;
  RtAudioStreamDevice(const RtAudioStreamDevice&) = delete;
  RtAudioStreamDevice& operator=(const RtAudioStreamDevice&) = delete;

  unsigned int DeviceCount() override;
  bool Open(unsigned int* frames, std::string* message) override;
  double OpeningLatency() override;
  double SampleRate() override;
  void SetStreamTime(double seconds) override;
  bool Start(std::string* message) override;
  void Close() override;
  bool IsOpen() override;
  void ReadLatency(uint32_t nowMs, double lastStreamTime, double* seconds,
                   double* heardOffset) override;

 private:
  // The reason the library reported for the failure of what was just tried, else fallback.
  std::string Failure(const char* fallback);

  StreamSupervisor& supervisor_;
  const unsigned int buffers_;
  const int priority_;
  unsigned int frames_ = 0;  // the buffer size the open stream was granted
  std::unique_ptr<RtAudio> audio_;
  std::unique_ptr<StreamLatency> latency_;
};
