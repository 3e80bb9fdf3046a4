#pragma once
// Times every buffer of the mixer callback, for soak runs of the probe build
// (MARLUNE_AUDIO_PROBES): the stream is then opened with TimedAudioMixerCallback, which runs
// AudioMixerCallback between two steady-clock and two thread-CPU-clock reads. Per buffer size it
// keeps the number of calls, the longest call (wall clock), the most CPU time one call used
// (the callback's own work: time the thread spent preempted does not count) with the page
// faults that call took and the times it was preempted, how many calls used more than a quarter
// of the buffer's duration and how many of those were preempted meanwhile (in a virtual machine
// a stalled virtual CPU shows as CPU time of the thread it stalled, and the preemption that
// follows is its trace), and the number of overruns: calls that took longer than the buffer lasts, so the back end asked
// for the next buffer before this one was ready. The PulseAudio back end never reports underflows in the
// stream status, so this timing is the one measure.
// Cost per buffer: four clock reads, two resource-usage reads and a few relaxed atomic updates;
// nothing allocates.
// The same build also times the frame loop (CountFrame): the time from process start to the
// first frame, the frame period's mean and spread, and per screen how many frames were drawn
// rather than skipped. Other builds count nothing, and Print then writes nothing.

#include <cstdio>

#include "RtAudio.h"

class Scene;

namespace callback_timer {

// AudioMixerCallback, timed; same arguments and result. Audio thread only.
int TimedAudioMixerCallback(void* outputBuffer, void* inputBuffer, unsigned int nFrames,
                            double streamTime, RtAudioStreamStatus status, void* userData);

// Counts one pass of the frame loop over scene (the menu or the game screen); shown when it
// was drawn rather than skipped, redrawing the share `redrawn` (0 to 1) of the window. Main
// thread; does nothing outside the probe build.
void CountFrame(const Scene* scene, bool shown, double redrawn);

// Writes one line per buffer size used, e.g.
//   "callback timing: 64 frames, 20671 calls, worst 0.412 ms of a 1.451 ms buffer (28.4 %),
//    0 overruns; worst thread CPU 0.210 ms (14.5 %, 0 page faults, 0 preemptions), 0 calls
//    above 25 % (0 of them preempted)" (on one line)
// then the frame loop's "frame timing: ..." line and one "frames drawn: ..." line per screen
// (with the share of the window a drawn frame redrew on average).
// Main thread; call it after the stream is closed for final figures.
void Print(std::FILE* out);

}  // namespace callback_timer
