#pragma once
// The one function the audio back end calls, on its own thread, for every output buffer: it
// runs every pad, mixes them with the menu theme and the interface sounds, limits the sum,
// copies it into the recorder's ring while recording and publishes the buffer's stream time, mouse buttons and late window.

#include <cmath>

#include "RtAudio.h"

// The realtime-sanitizer build checks that nothing under the callback allocates, locks or
// makes a system call, except inside an audio_probe::Exemption.
#ifdef MARLUNE_RTSAN
#define MARLUNE_NONBLOCKING [[clang::nonblocking]]
#else
#define MARLUNE_NONBLOCKING
#endif

// Fills 2 * nFrames interleaved stereo doubles for the buffer that starts at streamTime
// (seconds). Audio thread only. Returns 0, or 2 (stop the stream at once, silent) once the
// stream has failed (gameState.streamSupervisor).
int AudioMixerCallback(void* outputBuffer, void* inputBuffer, unsigned int nFrames,
                       double streamTime, RtAudioStreamStatus status,
                       void* userData) MARLUNE_NONBLOCKING;

// Stereo-linked instantaneous limiter: a frame whose louder channel exceeds 0.8 rises a sixth
// as fast above it; the result is clamped to [-1, 1]. A channel that is not a number or is
// infinite (a pad gone wrong) is silent, so neither the device nor the recording's 16-bit
// conversion ever sees it.
inline void LimitFrame(double& left, double& right) {
  if (!std::isfinite(left)) left = 0.0;
  if (!std::isfinite(right)) right = 0.0;
  constexpr double kThreshold = 0.8;
  constexpr double kRatio = 6.0;
  const double l = left < 0.0 ? -left : left;
  const double r = right < 0.0 ? -right : right;
  const double peak = l > r ? l : r;
  if (peak <= kThreshold) return;
  const double gain = (kThreshold + (peak - kThreshold) / kRatio) / peak;
  left *= gain;
  right *= gain;
  if (left > 1.0) left = 1.0;
  if (left < -1.0) left = -1.0;
  if (right > 1.0) right = 1.0;
  if (right < -1.0) right = -1.0;
}
