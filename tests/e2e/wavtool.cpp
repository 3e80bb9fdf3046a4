// marlune_wavtool - checks and measures WAV files for the end-to-end tests.
//
// Usage:
//   marlune_wavtool info FILE
//       Prints "channels N", "rate HZ", "bits B", "format pcm|float", "frames N",
//       "seconds S" and "header ok". Exits 1 with a message on stderr when the
//       file is not a well-formed RIFF/WAVE file: RIFF size not equal to the
//       file size minus 8, data chunk running past the end of the file, data
//       size not a whole number of frames, missing "fmt " or "data" chunk.
//   marlune_wavtool rms FILE [FROM_S TO_S] [CHANNEL]
//   marlune_wavtool peak FILE [FROM_S TO_S] [CHANNEL]
//       RMS or largest absolute sample (full scale 1.0) of the range in seconds
//       (default: whole file). CHANNEL is 0, 1, ... or "all" (default: all
//       samples of all channels).
//   marlune_wavtool onsets FILE [THRESHOLD] [MIN_GAP_MS]
//       One line "FRAME SECONDS" per onset. An onset is where the RMS over a
//       2 ms window (loudest channel) rises to THRESHOLD (default 0.05) after
//       having fallen below THRESHOLD/2, at least MIN_GAP_MS (default 50) after
//       the previous onset; the position printed is the first sample in that
//       window whose magnitude reaches THRESHOLD (sample accurate for clicks
//       and fast attacks).
//   marlune_wavtool pitch FILE FROM_S TO_S [CHANNEL]
//       Fundamental frequency in Hz of a steady tone in the range (40 Hz to
//       5 kHz). The period is found with the YIN difference function and then
//       refined on lags spanning 4, 16, 64... periods with parabolic
//       interpolation, which brings a clean tone to within a small fraction of
//       a cent.
//       Exits 3 when the range holds no periodic signal.
//   marlune_wavtool declared FILE
//       Prints "declared_seconds S" and "file_seconds S" of a canonical 44-byte-header PCM
//       WAV whose sizes need not match the file (a recording cut short by SIGKILL): the data
//       size its header declares, and the data the file really holds, in seconds.
//   marlune_wavtool envelope FILE WINDOW_MS
//       One line "SECONDS RMS" per consecutive window (all channels); SECONDS is
//       the window's start.
//   marlune_wavtool gaps FILE [FROM_S TO_S] [MIN_MS] [MAX_LEVEL]
//       Dropouts in a continuous sound: runs of digital silence (every channel's
//       magnitude at most MAX_LEVEL, default 2/32768, i.e. within one 16-bit step
//       of zero whatever the rounding) lasting at least MIN_MS (default 1 ms).
//       Only the span from the first to the last sound of the range counts, so
//       silence before the sound starts or after it ends is no dropout. One line
//       "SECONDS LENGTH_MS" per gap, then "gaps N".
//
// Exit status: 0 success, 1 bad or unreadable file, 2 bad arguments, 3 no pitch.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace {

struct Wav {
  int channels = 0;
  int rate = 0;
  int bits = 0;
  bool isFloat = false;
  size_t frames = 0;
  std::vector<double> samples;  // interleaved, full scale 1.0
  double At(size_t frame, int channel) const { return samples[frame * channels + channel]; }
};

[[noreturn]] void Fail(int status, const std::string& message) {
  std::fprintf(stderr, "marlune_wavtool: %s\n", message.c_str());
  std::exit(status);
}

uint32_t Le32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }

// Reads FILE strictly; any header inconsistency ends the program with status 1.
Wav ReadWav(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(1, "cannot open " + path);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t size = bytes.size();
  const std::string what = path + ": ";
  if (size < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(&bytes[8], "WAVE", 4) != 0)
    Fail(1, what + "not a RIFF/WAVE file");
  const uint32_t riffSize = Le32(&bytes[4]);
  if (uint64_t(riffSize) + 8 != size)
    Fail(1, what + "RIFF size " + std::to_string(riffSize) + " does not match file size " +
                std::to_string(size) + " - 8");

  Wav wav;
  int formatTag = 0, blockAlign = 0;
  bool haveFmt = false, haveData = false;
  size_t dataOffset = 0, dataSize = 0;
  size_t pos = 12;
  while (pos + 8 <= size) {
    const std::string id(reinterpret_cast<const char*>(&bytes[pos]), 4);
    const uint32_t chunkSize = Le32(&bytes[pos + 4]);
    const size_t body = pos + 8;
    if (uint64_t(body) + chunkSize > size)
      Fail(1, what + "chunk '" + id + "' of " + std::to_string(chunkSize) + " bytes runs past the end of the file");
    if (id == "fmt ") {
      if (chunkSize < 16) Fail(1, what + "fmt chunk too short");
      formatTag = Le16(&bytes[body]);
      wav.channels = Le16(&bytes[body + 2]);
      wav.rate = int(Le32(&bytes[body + 4]));
      blockAlign = Le16(&bytes[body + 12]);
      wav.bits = Le16(&bytes[body + 14]);
      if (formatTag == 0xFFFE) {  // WAVE_FORMAT_EXTENSIBLE: the sub-format GUID starts with the tag
        if (chunkSize < 40) Fail(1, what + "extensible fmt chunk too short");
        formatTag = Le16(&bytes[body + 24]);
      }
      haveFmt = true;
    } else if (id == "data") {
      dataOffset = body;
      dataSize = chunkSize;
      haveData = true;
    }
    pos = body + chunkSize + (chunkSize & 1);
  }
  if (pos != size && pos != size + 1) Fail(1, what + "trailing bytes after the last chunk");
  if (!haveFmt) Fail(1, what + "no fmt chunk");
  if (!haveData) Fail(1, what + "no data chunk");
  if (formatTag == 1)
    wav.isFloat = false;
  else if (formatTag == 3)
    wav.isFloat = true;
  else
    Fail(1, what + "unsupported format tag " + std::to_string(formatTag));
  const bool bitsOk = wav.isFloat ? (wav.bits == 32 || wav.bits == 64)
                                  : (wav.bits == 8 || wav.bits == 16 || wav.bits == 24 || wav.bits == 32);
  if (!bitsOk) Fail(1, what + "unsupported sample size " + std::to_string(wav.bits));
  if (wav.channels < 1 || wav.rate < 1) Fail(1, what + "bad channel count or rate");
  const int bytesPerSample = wav.bits / 8;
  if (blockAlign != bytesPerSample * wav.channels) Fail(1, what + "block align does not match channels and bits");
  if (dataSize % blockAlign != 0) Fail(1, what + "data size is not a whole number of frames");

  wav.frames = dataSize / blockAlign;
  wav.samples.resize(wav.frames * wav.channels);
  const unsigned char* p = &bytes[dataOffset];
  for (size_t i = 0; i < wav.samples.size(); ++i, p += bytesPerSample) {
    double v = 0;
    if (wav.isFloat && wav.bits == 32) {
      float f;
      uint32_t u = Le32(p);
      std::memcpy(&f, &u, 4);
      v = f;
    } else if (wav.isFloat) {
      uint64_t u = uint64_t(Le32(p)) | uint64_t(Le32(p + 4)) << 32;
      std::memcpy(&v, &u, 8);
    } else if (wav.bits == 8) {
      v = (int(p[0]) - 128) / 128.0;
    } else if (wav.bits == 16) {
      v = int16_t(Le16(p)) / 32768.0;
    } else if (wav.bits == 24) {
      int32_t s = int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8;
      v = s / 8388608.0;
    } else {
      v = int32_t(Le32(p)) / 2147483648.0;
    }
    wav.samples[i] = v;
  }
  return wav;
}

double ParseNumber(const char* text, const char* what) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(v))
    Fail(2, std::string("bad ") + what + " '" + text + "'");
  return v;
}

// Frame range [from, to) for seconds FROM_S..TO_S, clamped to the file.
void FrameRange(const Wav& wav, double fromS, double toS, size_t& from, size_t& to) {
  if (toS < fromS) Fail(2, "range end before its start");
  const auto frame = [&](double s) {
    return size_t(std::clamp(std::llround(s * wav.rate), 0LL, static_cast<long long>(wav.frames)));
  };
  from = frame(fromS);
  to = frame(toS);
  if (to <= from) Fail(2, "empty range");
}

// -1 means all channels.
int ParseChannel(const Wav& wav, const char* text) {
  if (std::strcmp(text, "all") == 0) return -1;
  const double c = ParseNumber(text, "channel");
  if (c < 0 || c >= wav.channels || c != std::floor(c)) Fail(2, std::string("no channel ") + text);
  return int(c);
}

// Mono signal of the range: one channel, or the mean of all channels.
std::vector<double> Mono(const Wav& wav, size_t from, size_t to, int channel) {
  std::vector<double> out(to - from);
  for (size_t f = from; f < to; ++f) {
    double v = 0;
    if (channel >= 0) {
      v = wav.At(f, channel);
    } else {
      for (int c = 0; c < wav.channels; ++c) v += wav.At(f, c);
      v /= wav.channels;
    }
    out[f - from] = v;
  }
  return out;
}

int Info(const Wav& wav) {
  std::printf("channels %d\nrate %d\nbits %d\nformat %s\nframes %zu\nseconds %.6f\nheader ok\n", wav.channels,
              wav.rate, wav.bits, wav.isFloat ? "float" : "pcm", wav.frames, double(wav.frames) / wav.rate);
  return 0;
}

int Level(const Wav& wav, bool peak, int argc, char** argv) {
  size_t from = 0, to = wav.frames;
  int channel = -1;
  if (argc >= 2) FrameRange(wav, ParseNumber(argv[0], "start"), ParseNumber(argv[1], "end"), from, to);
  if (argc == 1 || argc == 3) channel = ParseChannel(wav, argv[argc - 1]);
  if (argc > 3) Fail(2, "too many arguments");
  double sum = 0, max = 0;
  size_t count = 0;
  for (size_t f = from; f < to; ++f) {
    for (int c = 0; c < wav.channels; ++c) {
      if (channel >= 0 && c != channel) continue;
      const double v = wav.At(f, c);
      sum += v * v;
      max = std::max(max, std::fabs(v));
      ++count;
    }
  }
  std::printf("%.6f\n", peak ? max : (count ? std::sqrt(sum / count) : 0.0));
  return 0;
}

int Onsets(const Wav& wav, int argc, char** argv) {
  const double threshold = argc >= 1 ? ParseNumber(argv[0], "threshold") : 0.05;
  const double minGapMs = argc >= 2 ? ParseNumber(argv[1], "gap") : 50.0;
  if (argc > 2) Fail(2, "too many arguments");
  if (threshold <= 0) Fail(2, "threshold must be positive");
  const size_t window = std::max<size_t>(1, size_t(wav.rate * 0.002));
  const size_t minGap = size_t(minGapMs * wav.rate / 1000.0);
  // Loudest channel per frame keeps a sound that is panned to one side.
  std::vector<double> power(wav.frames);
  for (size_t f = 0; f < wav.frames; ++f) {
    double p = 0;
    for (int c = 0; c < wav.channels; ++c) p = std::max(p, wav.At(f, c) * wav.At(f, c));
    power[f] = p;
  }
  double sum = 0;
  bool armed = true;
  bool havePrevious = false;
  size_t previous = 0;
  for (size_t f = 0; f < wav.frames; ++f) {
    sum += power[f];
    if (f >= window) sum -= power[f - window];
    const size_t start = f + 1 >= window ? f + 1 - window : 0;
    const double rms = std::sqrt(std::max(0.0, sum) / window);
    if (!armed && rms < threshold / 2 && (!havePrevious || f >= previous + minGap)) armed = true;
    if (armed && rms >= threshold && (!havePrevious || f >= previous + minGap)) {
      size_t onset = f;
      for (size_t g = start; g <= f; ++g) {
        if (std::sqrt(power[g]) >= threshold) {
          onset = g;
          break;
        }
      }
      std::printf("%zu %.6f\n", onset, double(onset) / wav.rate);
      previous = onset;
      havePrevious = true;
      armed = false;
    }
  }
  return 0;
}

// Sum of squared differences between x[j] and x[j + lag] over `width` samples.
double Difference(const std::vector<double>& x, size_t lag, size_t width) {
  double d = 0;
  for (size_t j = 0; j < width; ++j) {
    const double e = x[j] - x[j + lag];
    d += e * e;
  }
  return d;
}

// Offset of the vertex of the parabola through (-1, a), (0, b), (1, c).
double ParabolicOffset(double a, double b, double c) {
  const double denominator = a - 2 * b + c;
  if (denominator <= 0) return 0;
  return std::clamp(0.5 * (a - c) / denominator, -1.0, 1.0);
}

int Pitch(const Wav& wav, int argc, char** argv) {
  if (argc < 2 || argc > 3) Fail(2, "pitch needs FROM_S TO_S [CHANNEL]");
  size_t from, to;
  FrameRange(wav, ParseNumber(argv[0], "start"), ParseNumber(argv[1], "end"), from, to);
  const int channel = argc == 3 ? ParseChannel(wav, argv[2]) : -1;
  const std::vector<double> x = Mono(wav, from, to, channel);
  const size_t n = x.size();
  const size_t minLag = std::max<size_t>(2, size_t(wav.rate / 5000.0));
  const size_t maxLag = size_t(wav.rate / 40.0) + 2;
  if (n < 3 * maxLag) Fail(2, "range too short for pitch (need at least " +
                                  std::to_string(3.0 * maxLag / wav.rate) + " s)");

  // Coarse period: YIN's cumulative-mean-normalised difference, first dip under 0.1.
  const size_t width = n - maxLag;
  std::vector<double> d(maxLag + 1, 0.0), cmnd(maxLag + 1, 1.0);
  double running = 0;
  for (size_t lag = 1; lag <= maxLag; ++lag) {
    d[lag] = Difference(x, lag, width);
    running += d[lag];
    cmnd[lag] = running > 0 ? d[lag] * lag / running : 1.0;
  }
  size_t best = 0;
  for (size_t lag = minLag; lag < maxLag; ++lag) {
    if (cmnd[lag] < 0.1) {
      while (lag + 1 < maxLag && cmnd[lag + 1] < cmnd[lag]) ++lag;
      best = lag;
      break;
    }
  }
  if (best == 0) {
    best = minLag;
    for (size_t lag = minLag; lag < maxLag; ++lag)
      if (cmnd[lag] < cmnd[best]) best = lag;
    if (cmnd[best] > 0.35) Fail(3, "no steady pitch in range");
  }
  const double period = best + ParabolicOffset(cmnd[best - 1], cmnd[best], cmnd[best + 1]);

  // Fine period: the difference minimum near a multiple of the period, whose
  // position error is shared among all the periods it spans. The multiple
  // grows fourfold per round, each round starting from the previous estimate,
  // until the lag spans half of the range.
  double refined = period;
  size_t multiple = 1;
  const size_t searchHalf = 3;
  while (true) {
    const size_t next = multiple * 4;
    if ((next * refined) + searchHalf + 2 > n / 2) break;
    multiple = next;
    const size_t centre = size_t(std::llround(multiple * refined));
    const size_t fineWidth = n - (centre + searchHalf + 1);
    const size_t first = centre - searchHalf - 1;
    std::vector<double> fine(2 * searchHalf + 3);
    for (size_t k = 0; k < fine.size(); ++k) fine[k] = Difference(x, first + k, fineWidth);
    size_t i = 1;
    for (size_t k = 2; k + 1 < fine.size(); ++k)
      if (fine[k] < fine[i]) i = k;
    refined = (first + i + ParabolicOffset(fine[i - 1], fine[i], fine[i + 1])) / multiple;
  }
  std::printf("%.4f\n", wav.rate / refined);
  return 0;
}

int Envelope(const Wav& wav, int argc, char** argv) {
  if (argc != 1) Fail(2, "envelope needs WINDOW_MS");
  const double ms = ParseNumber(argv[0], "window");
  const size_t window = size_t(std::llround(ms * wav.rate / 1000.0));
  if (window < 1) Fail(2, "window too short");
  for (size_t start = 0; start + window <= wav.frames; start += window) {
    double sum = 0;
    for (size_t f = start; f < start + window; ++f)
      for (int c = 0; c < wav.channels; ++c) sum += wav.At(f, c) * wav.At(f, c);
    std::printf("%.6f %.6f\n", double(start) / wav.rate, std::sqrt(sum / (window * wav.channels)));
  }
  return 0;
}

// The header's own account of a file that may have been cut short: no size needs to agree.
int Declared(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(1, "cannot open " + path);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 44 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(&bytes[8], "WAVEfmt ", 8) != 0 || std::memcmp(&bytes[36], "data", 4) != 0)
    Fail(1, path + ": not a canonical 44-byte-header WAV file");
  const double bytesPerSecond = Le32(&bytes[28]);
  if (bytesPerSecond <= 0) Fail(1, path + ": no byte rate");
  std::printf("declared_seconds %.6f\nfile_seconds %.6f\n", Le32(&bytes[40]) / bytesPerSecond,
              (bytes.size() - 44) / bytesPerSecond);
  return 0;
}

int Gaps(const Wav& wav, int argc, char** argv) {
  if (argc == 1 || argc > 4) Fail(2, "gaps needs [FROM_S TO_S] [MIN_MS] [MAX_LEVEL]");
  size_t from = 0, to = wav.frames;
  if (argc >= 2) FrameRange(wav, ParseNumber(argv[0], "start"), ParseNumber(argv[1], "end"), from, to);
  const double minMs = argc >= 3 ? ParseNumber(argv[2], "minimum length") : 1.0;
  const double maxLevel = argc >= 4 ? ParseNumber(argv[3], "level") : 2.0 / 32768.0;
  if (minMs <= 0 || maxLevel < 0) Fail(2, "minimum length must be positive and level not negative");
  const size_t minFrames = std::max<size_t>(1, size_t(std::llround(minMs * wav.rate / 1000.0)));
  const auto silent = [&](size_t f) {
    for (int c = 0; c < wav.channels; ++c)
      if (std::fabs(wav.At(f, c)) > maxLevel) return false;
    return true;
  };
  while (from < to && silent(from)) ++from;
  while (to > from && silent(to - 1)) --to;
  size_t count = 0;
  for (size_t f = from; f < to;) {
    if (!silent(f)) {
      ++f;
      continue;
    }
    size_t end = f;
    while (end < to && silent(end)) ++end;
    if (end - f >= minFrames) {
      std::printf("%.6f %.3f\n", double(f) / wav.rate, 1000.0 * double(end - f) / wav.rate);
      ++count;
    }
    f = end;
  }
  std::printf("gaps %zu\n", count);
  return 0;
}

void Usage() {
  std::fprintf(stderr,
               "usage: marlune_wavtool info FILE\n"
               "       marlune_wavtool rms|peak FILE [FROM_S TO_S] [CHANNEL|all]\n"
               "       marlune_wavtool onsets FILE [THRESHOLD] [MIN_GAP_MS]\n"
               "       marlune_wavtool pitch FILE FROM_S TO_S [CHANNEL|all]\n"
               "       marlune_wavtool envelope FILE WINDOW_MS\n"
               "       marlune_wavtool declared FILE\n"

               "       marlune_wavtool gaps FILE [FROM_S TO_S] [MIN_MS] [MAX_LEVEL]\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) Usage();
  const std::string command = argv[1];
  if (command == "declared" && argc == 3) return Declared(argv[2]);
  const Wav wav = ReadWav(argv[2]);
  const int rest = argc - 3;
  char** args = argv + 3;
  if (command == "info" && rest == 0) return Info(wav);
  if (command == "rms") return Level(wav, false, rest, args);
  if (command == "peak") return Level(wav, true, rest, args);
  if (command == "onsets") return Onsets(wav, rest, args);
  if (command == "pitch") return Pitch(wav, rest, args);
  if (command == "envelope") return Envelope(wav, rest, args);
  if (command == "gaps") return Gaps(wav, rest, args);
  Usage();
}
