#include "stream_clock.h"

#include "RtAudio.h"
#include "Stk.h"

// The library must not be asked about a stream that is not open: it reports that as an error.
double RtAudioStreamClock::StreamTime() {
  if (audio_.isStreamOpen()) lastTime_ = audio_.getStreamTime();
  return lastTime_;
}

double RtAudioStreamClock::SampleRate() {
  if (!audio_.isStreamOpen()) return stk::Stk::sampleRate();
  return static_cast<double>(audio_.getStreamSampleRate());
}
