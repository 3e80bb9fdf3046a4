// The whole game, played by a script and rendered offline, against the goldens in
// tests/golden/: what a player hears (the mix, within 1 LSB of 16 bits), what the recorder
// writes, each pad's sound per step, and the pictures at named moments. A difference says
// where it lies. scripts/regen-goldens.sh writes new goldens on purpose, with its report.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "golden_render.h"
#include "recorder.h"
#include "test_support.h"

namespace {
const std::string kGoldenDir = MARLUNE_GOLDEN_DIR;

// Where frame f of the mix lies: its stream, time and loop step.
std::string Where(const GoldenRender& r, long f) {
  size_t s = 0;
  while (s + 1 < r.streamStarts.size() && r.streamStarts[s + 1] <= f) ++s;
  const long local = f - r.streamStarts[s];
  std::ostringstream out;
  out << "frame " << f << " (stream " << s + 1 << " at " << local / 44100.0 << " s, loop "
      << local / 88200 << " step " << (2 * (local % 88200)) / 11025 << ")";
  return out.str();
}

// The pad table's rows by "loop step pad", values as numbers.
std::map<std::string, std::vector<double>> Rows(const std::string& table) {
  std::map<std::string, std::vector<double>> rows;
  std::istringstream in(table);
  for (std::string line; std::getline(in, line);) {
    const size_t colon = line.find(':');
    if (line.empty() || line[0] == '#' || colon == std::string::npos) continue;
    std::istringstream values(line.substr(colon + 1));
    std::vector<double> v;
    for (std::string w; values >> w;) v.push_back(w == "-" ? -1.0 : std::stod(w));
    rows[line.substr(0, colon)] = v;
  }
  return rows;
}

// The pictures' lines by moment ("frame NAME at T").
std::map<std::string, std::vector<std::string>> Moments(const std::string& text) {
  std::map<std::string, std::vector<std::string>> moments;
  std::istringstream in(text);
  std::string moment;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("== ", 0) == 0) {
      moment = line.substr(3, line.size() - 6);
    } else {
      moments[moment].push_back(line);
    }
  }
  return moments;
}
}  // namespace

TEST(Golden, PerformanceSoundsRecordsAndLooksAsItDid) {
  const long strictCalls = StrictCalls();
  const GoldenRender r = RenderPerformance(kGoldenDir + "/performance.txt");
  EXPECT_EQ(StrictCalls(), strictCalls) << "allocations, frees or locks (but the pad list's) in "
                                           "the mixer callback";
  const std::string mixWav = WavBytes(r.mix);
  std::string frames;
  for (const std::string& f : r.frames) frames += f;

  std::ostringstream streams;
  for (long s : r.streamStarts) streams << s << "\n";
  if (const char* out = std::getenv("MARLUNE_GOLDEN_OUT")) {
    // Regeneration (scripts/regen-goldens.sh): the new goldens go to a folder of its choice.
    for (const auto& [name, bytes] : {std::pair{"mix.wav", mixWav}, {"take.wav", r.takeFile},
                                      {"pads.txt", r.padTable}, {"frames.txt", frames},
                                      {"streams.txt", streams.str()}}) {
      std::ofstream(std::string(out) + "/" + name, std::ios::binary) << bytes;
    }
    return;
  }

  // Where each stream starts in the mix, which the goldens' report reads beside them.
  EXPECT_EQ(streams.str(), ReadFile(kGoldenDir + "/streams.txt")) << "the streams start elsewhere";

  // The mix, sample by sample within 1 LSB; the first stretch that differs is named.
  const std::vector<int16_t> got = WavSamples(mixWav);
  const std::vector<int16_t> want = WavSamples(ReadFile(kGoldenDir + "/mix.wav"));
  EXPECT_EQ(got.size(), want.size()) << "the mix is " << got.size() / 2 << " frames long, the golden "
                                     << want.size() / 2;
  for (size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
    if (std::abs(got[i] - want[i]) <= 1) continue;
    size_t end = i;
    while (end < std::min(got.size(), want.size()) && std::abs(got[end] - want[end]) > 1) ++end;
    ADD_FAILURE() << "the mix differs in its " << (i % 2 ? "right" : "left") << " channel from "
                  << Where(r, i / 2) << " to " << Where(r, end / 2) << ": " << got[i]
                  << " where the golden has " << want[i];
    break;
  }

  // The recorder's file: its header as recorded, its data exactly the mix over the take.
  const std::string& take = r.takeFile;
  EXPECT_EQ(r.takeNames, (std::vector<std::string>{"2024-03-01_14-05.wav", "2024-03-01_14-05_2.wav",
                                               "2024-03-01_14-05_3.wav"}))
      << "the takes, named after the minute";
  EXPECT_EQ(take.substr(0, 44), ReadFile(kGoldenDir + "/take.wav").substr(0, 44))
      << "the take's header differs";
  ASSERT_EQ(take.size(), 44 + r.take.size() * 2) << "the take holds other buffers than the mix";
  const std::vector<int16_t> taken = WavSamples(take);
  for (size_t i = 0; i < taken.size(); ++i) {
    ASSERT_EQ(taken[i], Recorder::ToSample(r.take[i])) << "take sample " << i << " is not the mix";
  }

  // Each pad per step: peak and sum of 16-bit magnitudes (1 LSB a sample), onset (1 frame),
  // pitch (0.2 %).
  const auto gotRows = Rows(r.padTable);
  const auto wantRows = Rows(ReadFile(kGoldenDir + "/pads.txt"));
  for (const auto& [key, w] : wantRows) {
    const auto g = gotRows.find(key);
    if (g == gotRows.end()) {
      ADD_FAILURE() << "loop step pad " << key << ": silent, the golden sounds (peak " << w[0] << ")";
      continue;
    }
    const std::vector<double>& v = g->second;
    EXPECT_NEAR(v[0], w[0], 1) << "loop step pad " << key << ": peak";
    EXPECT_NEAR(v[1], w[1], 5513) << "loop step pad " << key << ": sum of magnitudes";
    EXPECT_NEAR(v[2], w[2], 1) << "loop step pad " << key << ": onset frame";
    EXPECT_NEAR(v[3], w[3], 0.002 * w[3] + 0.05) << "loop step pad " << key << ": pitch (Hz)";
  }
  for (const auto& [key, v] : gotRows) {
    if (wantRows.count(key) == 0) {
      ADD_FAILURE() << "loop step pad " << key << ": sounds (peak " << v[0] << "), the golden is silent";
    }
  }

  EXPECT_TRUE(r.listsDisagree.empty()) << r.listsDisagree[0] << ": its draw list compares with an "
                                        "earlier moment's otherwise than its picture does";
  // The pictures, exactly; the first differing line of each moment is named.
  const auto gotFrames = Moments(frames);
  const auto wantFrames = Moments(ReadFile(kGoldenDir + "/frames.txt"));
  EXPECT_EQ(gotFrames.size(), wantFrames.size()) << "another number of moments was drawn";
  for (const auto& [moment, want] : wantFrames) {
    const auto got = gotFrames.find(moment);
    if (got == gotFrames.end()) {
      ADD_FAILURE() << "no picture drawn for " << moment;
      continue;
    }
    for (size_t line = 0; line < std::max(want.size(), got->second.size()); ++line) {
      const std::string w = line < want.size() ? want[line] : "(nothing)";
      const std::string g = line < got->second.size() ? got->second[line] : "(nothing)";
      if (g == w) continue;
      ADD_FAILURE() << "the picture of " << moment << " differs at its line " << line + 1
                    << ":\n  drawn:  " << g << "\n  golden: " << w;
      break;
    }
  }
}
