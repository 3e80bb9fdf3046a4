// marlune_wavtool COMMAND FILE ARGS - checks and measures the 16-bit PCM WAV files of the
// end-to-end tests (captures of the sink, the program's recordings). Times in seconds, levels
// at full scale 1.
//
//   info FILE             "channels C rate R seconds S"; status 1 unless the file is a complete
//                         WAV: RIFF size = file size - 8, data chunk inside the file and a whole
//                         number of frames, "fmt " before "data"
//   rms|peak FILE [FROM TO]         level of all channels over the range (default: all)
//   onsets FILE [LEVEL] [GAP_MS]    "FRAME SECONDS" per onset: the 2 ms RMS of the loudest
//                         channel reaching LEVEL (0.05) after falling under LEVEL/2, GAP_MS (50)
//                         after the last; the frame is the first sample reaching LEVEL
//   pitch FILE FROM TO    fundamental of a steady tone, 40 Hz to 5 kHz (YIN, then refined over
//                         many periods); status 3 if there is none
//   gaps FILE FROM TO [whole]  dropouts: runs of digital silence (every channel within 2/32768
//                         of 0) of 1 ms or more between the range's first and last sound, or
//                         with "whole" anywhere in the range (for a range inside a sound that
//                         must not stop: silence at its ends counts too); "SECONDS LENGTH_MS"
//                         each, then "gaps N"
//   raw FILE              of a file being written or cut short (no size need agree):
//                         "declared D held H tailpeak P": the data its header declares, the
//                         data it holds, and the peak of its last 0.1 s
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Wav {
  int channels = 2, rate = 44100;
  size_t frames = 0;
  uint32_t declared = 0;
  std::vector<double> samples;  // interleaved
  double At(size_t frame, int channel) const { return samples[frame * channels + channel]; }
};

[[noreturn]] void Fail(int status, const std::string& message) {
  std::fprintf(stderr, "marlune_wavtool: %s\n", message.c_str());
  std::exit(status);
}

uint32_t Le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// Reads a 16-bit PCM WAV; strict, any size that disagrees with the file fails it.
Wav Read(const std::string& path, bool strict) {
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string what = path + ": ";
  if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(&b[8], "WAVE", 4) != 0)
    Fail(1, what + "not a RIFF/WAVE file");
  if (strict && uint64_t(Le32(&b[4])) + 8 != b.size()) Fail(1, what + "RIFF size does not match the file");
  Wav wav;
  bool fmt = false;
  for (size_t pos = 12; pos + 8 <= b.size();) {
    const uint32_t size = Le32(&b[pos + 4]);
    const size_t body = pos + 8;
    if (std::memcmp(&b[pos], "fmt ", 4) == 0 && size >= 16 && body + 16 <= b.size()) {
      wav.channels = b[body + 2] | b[body + 3] << 8;
      wav.rate = int(Le32(&b[body + 4]));
      if ((b[body] | b[body + 1] << 8) != 1 || b[body + 14] != 16 || wav.channels < 1 || wav.rate < 1)
        Fail(1, what + "not 16-bit PCM");
      fmt = true;
    } else if (std::memcmp(&b[pos], "data", 4) == 0) {
      if (!fmt) Fail(1, what + "no fmt chunk before the data");
      wav.declared = size;
      const size_t held = b.size() - body;
      if (strict && (size > held || size % (2 * wav.channels) != 0)) Fail(1, what + "data size does not match the file");
      wav.frames = std::min<size_t>(size && strict ? size : held, held) / (2 * wav.channels);
      for (size_t i = 0; i < wav.frames * wav.channels; ++i)
        wav.samples.push_back(int16_t(b[body + 2 * i] | b[body + 2 * i + 1] << 8) / 32768.0);
      return wav;
    }
    pos = body + size + (size & 1);
  }
  Fail(1, what + "no data chunk");
}

double Number(const char* text) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(v)) Fail(2, std::string("bad number '") + text + "'");
  return v;
}

// Frames [from, to) of seconds argv[0]..argv[1], clamped to the file; the whole file without.
void Range(const Wav& wav, int argc, char** argv, size_t& from, size_t& to) {
  from = 0, to = wav.frames;
  if (argc < 2) return;
  const auto frame = [&](const char* s) { return size_t(std::clamp(std::llround(Number(s) * wav.rate), 0LL, (long long)wav.frames)); };
  from = frame(argv[0]), to = frame(argv[1]);
  if (to <= from) Fail(2, "empty range");
}

double Loudest(const Wav& wav, size_t f) {
  double m = 0;
  for (int c = 0; c < wav.channels; ++c) m = std::max(m, std::fabs(wav.At(f, c)));
  return m;
}

void Level(const Wav& wav, bool peak, int argc, char** argv) {
  size_t from, to;
  Range(wav, argc, argv, from, to);
  double sum = 0, max = 0;
  for (size_t i = from * wav.channels; i < to * wav.channels; ++i) {
    sum += wav.samples[i] * wav.samples[i];
    max = std::max(max, std::fabs(wav.samples[i]));
  }
  std::printf("%.6f\n", peak ? max : std::sqrt(sum / ((to - from) * wav.channels)));
}

void Onsets(const Wav& wav, int argc, char** argv) {
  const double level = argc >= 1 ? Number(argv[0]) : 0.05;
  const size_t gap = size_t((argc >= 2 ? Number(argv[1]) : 50.0) * wav.rate / 1000.0);
  const size_t window = size_t(wav.rate * 0.002);
  double sum = 0;
  bool armed = true;
  size_t previous = 0;
  for (size_t f = 0; f < wav.frames; ++f) {
    sum += Loudest(wav, f) * Loudest(wav, f);
    if (f >= window) sum -= Loudest(wav, f - window) * Loudest(wav, f - window);
    const double rms = std::sqrt(std::max(0.0, sum) / window);
    const bool apart = previous == 0 || f >= previous + gap;
    if (!armed && rms < level / 2 && apart) armed = true;
    if (armed && rms >= level && apart) {
      size_t onset = f + 1 >= window ? f + 1 - window : 0;
      while (onset < f && Loudest(wav, onset) < level) ++onset;
      std::printf("%zu %.6f\n", onset, double(onset) / wav.rate);
      previous = std::max<size_t>(onset, 1);
      armed = false;
    }
  }
}

// Sum of squared differences between x[j] and x[j + lag] over `width` samples.
double Difference(const std::vector<double>& x, size_t lag, size_t width) {
  double d = 0;
  for (size_t j = 0; j < width; ++j) d += (x[j] - x[j + lag]) * (x[j] - x[j + lag]);
  return d;
}

// Offset of the vertex of the parabola through (-1, a), (0, b), (1, c).
double Vertex(double a, double b, double c) {
  const double d = a - 2 * b + c;
  return d <= 0 ? 0 : std::clamp(0.5 * (a - c) / d, -1.0, 1.0);
}

int Pitch(const Wav& wav, int argc, char** argv) {
  size_t from, to;
  if (argc != 2) Fail(2, "pitch needs FROM TO");
  Range(wav, argc, argv, from, to);
  std::vector<double> x;
  for (size_t f = from; f < to; ++f) x.push_back((wav.At(f, 0) + wav.At(f, wav.channels - 1)) / 2);
  const size_t n = x.size(), minLag = size_t(wav.rate / 5000.0), maxLag = size_t(wav.rate / 40.0) + 2;
  if (n < 3 * maxLag) Fail(2, "range too short for a pitch");
  // Coarse period: the first dip under 0.1 of YIN's cumulative-mean-normalised difference.
  std::vector<double> cmnd(maxLag + 1, 1.0);
  double running = 0;
  for (size_t lag = 1; lag <= maxLag; ++lag) {
    const double d = Difference(x, lag, n - maxLag);
    running += d;
    cmnd[lag] = running > 0 ? d * lag / running : 1.0;
  }
  size_t best = minLag;
  while (best < maxLag && cmnd[best] >= 0.1) ++best;
  if (best == maxLag) {
    best = size_t(std::min_element(cmnd.begin() + minLag, cmnd.end() - 1) - cmnd.begin());
    if (cmnd[best] > 0.35) Fail(3, "no steady pitch in range");
  }
  while (best + 1 < maxLag && cmnd[best + 1] < cmnd[best]) ++best;
  double period = best + Vertex(cmnd[best - 1], cmnd[best], cmnd[best + 1]);
  // Fine period: the difference's minimum near 4, 16, 64... periods, whose position error is
  // shared among all the periods it spans, up to half the range.
  for (size_t multiple = 4; multiple * period + 5 <= n / 2; multiple *= 4) {
    const size_t first = size_t(std::llround(multiple * period)) - 4;
    double fine[9];
    for (size_t k = 0; k < 9; ++k) fine[k] = Difference(x, first + k, n - first - 9);
    const size_t i = size_t(std::min_element(fine + 1, fine + 8) - fine);
    period = (first + i + Vertex(fine[i - 1], fine[i], fine[i + 1])) / multiple;
  }
  std::printf("%.4f\n", wav.rate / period);
  return 0;
}

void Gaps(const Wav& wav, int argc, char** argv) {
  size_t from, to, count = 0;
  Range(wav, argc, argv, from, to);
  const auto silent = [&](size_t f) { return Loudest(wav, f) <= 2.0 / 32768.0; };
  if (argc < 3 || std::string(argv[2]) != "whole") {
    while (from < to && silent(from)) ++from;
    while (to > from && silent(to - 1)) --to;
  }
  for (size_t f = from; f < to; ++f) {
    size_t end = f;
    while (end < to && silent(end)) ++end;
    if ((end - f) * 1000 >= size_t(wav.rate)) {
      std::printf("%.6f %.3f\n", double(f) / wav.rate, 1000.0 * double(end - f) / wav.rate);
      ++count;
    }
    f = end;
  }
  std::printf("gaps %zu\n", count);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) Fail(2, "usage: marlune_wavtool info|rms|peak|onsets|pitch|gaps|raw FILE [ARGS]");
  const std::string command = argv[1];
  const Wav wav = Read(argv[2], command != "raw");
  const int rest = argc - 3;
  char** args = argv + 3;
  if (command == "info") {
    std::printf("channels %d rate %d seconds %.6f\n", wav.channels, wav.rate, double(wav.frames) / wav.rate);
  } else if (command == "raw") {
    double tail = 0;
    for (size_t f = wav.frames - std::min<size_t>(wav.frames, wav.rate / 10); f < wav.frames; ++f)
      tail = std::max(tail, Loudest(wav, f));
    const double frameBytes = 2.0 * wav.channels * wav.rate;
    std::printf("declared %.6f held %.6f tailpeak %.6f\n", wav.declared / frameBytes,
                double(wav.frames) / wav.rate, tail);
  } else if (command == "rms" || command == "peak") {
    Level(wav, command == "peak", rest, args);
  } else if (command == "onsets") {
    Onsets(wav, rest, args);
  } else if (command == "pitch") {
    return Pitch(wav, rest, args);
  } else if (command == "gaps") {
    Gaps(wav, rest, args);
  } else {
    Fail(2, "unknown command " + command);
  }
  return 0;
}
