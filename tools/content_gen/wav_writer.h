// Writes generated audio as 16-bit PCM WAV files at 44100 Hz through the synthesis
// library's file writer, the same library the program reads them back with.
#pragma once

#include <string>

#include "synth.h"

namespace content {

// Largest file the program reads whole into memory, in frames.
constexpr int kMaxWavFrames = 1000000;

// Writes the buffer to `path`. Throws std::runtime_error for an empty or too long
// buffer or for samples outside +-1.0 (the writer would otherwise clip silently).
void WriteWav(const std::string& path, const Audio& audio);

}  // namespace content
