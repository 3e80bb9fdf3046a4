#include "wav_writer.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <stdexcept>

#include "FileWvOut.h"
#include "Stk.h"

namespace content {

namespace {

// The writer converts a sample by truncating sample * 32767 towards zero. Handing it
// a value a quarter step beyond the nearest integer makes the stored value that
// rounded integer, independent of the last bits of the floating-point result.
double SnapToSixteenBit(double sample) {
  const double level = std::round(sample * 32767.0);
  if (level == 0.0) return 0.0;
  return (level + std::copysign(0.25, level)) / 32767.0;
}

// The audio library writes the file size as the RIFF chunk size; the chunk size excludes the
// 8 bytes of the chunk's own id and size field. Strict readers reject the file otherwise.
void RepairRiffSize(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "r+b");
  if (file == nullptr) throw std::runtime_error(path + ": cannot reopen to finish its header");
  std::fseek(file, 0, SEEK_END);
  const long size = std::ftell(file);
  const uint32_t riff = static_cast<uint32_t>(size - 8);
  const unsigned char bytes[4] = {static_cast<unsigned char>(riff),
                                  static_cast<unsigned char>(riff >> 8),
                                  static_cast<unsigned char>(riff >> 16),
                                  static_cast<unsigned char>(riff >> 24)};
  std::fseek(file, 4, SEEK_SET);
  const bool written = std::fwrite(bytes, 1, 4, file) == 4;
  if (std::fclose(file) != 0 || !written) throw std::runtime_error(path + ": cannot finish its header");
}

}  // namespace

void WriteWav(const std::string& path, const Audio& audio) {
  const int frames = audio.Frames();
  if (frames <= 0 || frames > kMaxWavFrames)
    throw std::runtime_error(path + ": length out of range (" + std::to_string(frames) + " frames)");
  if (Peak(audio) > 0.999)
    throw std::runtime_error(path + ": samples exceed full scale");

  stk::Stk::setSampleRate(kSampleRate);
  stk::StkFrames block(static_cast<unsigned int>(frames), static_cast<unsigned int>(audio.channels));
  for (size_t i = 0; i < audio.samples.size(); ++i) block[i] = SnapToSixteenBit(audio.samples[i]);

  stk::FileWvOut out(path, static_cast<unsigned int>(audio.channels), stk::FileWrite::FILE_WAV, stk::Stk::STK_SINT16);
  out.tick(block);
  out.closeFile();
  RepairRiffSize(path);
}

}  // namespace content
