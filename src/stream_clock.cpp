#include "stream_clock.h"

#include "RtAudio.h"

double RtAudioStreamClock::StreamTime() { return audio_.getStreamTime(); }

double RtAudioStreamClock::SampleRate() {
  return static_cast<double>(audio_.getStreamSampleRate());
}
