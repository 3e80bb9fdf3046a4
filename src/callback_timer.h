#pragma once
// Times every buffer of the mixer callback, for soak runs of the probe build
// (MARLUNE_AUDIO_PROBES): the stream is then opened with TimedAudioMixerCallback, which runs
// AudioMixerCallback between two steady-clock and two thread-CPU-clock reads. Per buffer size it
// keeps the number of calls, the longest call (wall clock), the most CPU time one call used
// (the callback's own work: time the thread spent preempted does not count) and the number of
// overruns: calls that took longer than the buffer lasts, so the back end asked for the next
// buffer before this one was ready. The PulseAudio back end never reports underflows in the
// stream status, so this timing is the one measure.
// Cost per buffer: four clock reads and a few relaxed atomic updates; nothing allocates.

#include <cstdio>

#include "RtAudio.h"

namespace callback_timer {

// AudioMixerCallback, timed; same arguments and result. Audio thread only.
int TimedAudioMixerCallback(void* outputBuffer, void* inputBuffer, unsigned int nFrames,
                            double streamTime, RtAudioStreamStatus status, void* userData);

// Writes one line per buffer size used, e.g.
//   "callback timing: 64 frames, 20671 calls, worst 0.412 ms of a 1.451 ms buffer (28.4 %),
//    0 overruns; worst thread CPU 0.210 ms (14.5 %)" (on one line)
// Any thread; call it after the stream is closed for final figures.
void Print(std::FILE* out);

}  // namespace callback_timer
