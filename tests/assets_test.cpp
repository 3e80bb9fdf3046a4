// Checks the generated content folder through the same library calls the program uses to load
// it: pictures at window size, the window icon's colour key, a font SDL_ttf opens, and sounds
// at the stream's rate without clipping or DC, with a RIFF size strict readers accept, of the
// shape each use needs (stereo menu sounds that start and end softly, a seamless theme loop,
// single-cycle instrument waves, drum hits that start at once and end in silence).
#include <SDL_image.h>
#include <SDL_ttf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>

#include "FileWvIn.h"

namespace {

std::string ContentPath(const std::string& relative) {
  return std::string(MARLUNE_RESOURCES_DIR) + "/MarluneContent/" + relative;
}

// A WAV file read whole with the program's reader, not normalised, so raw levels show.
struct Wave {
  explicit Wave(const std::string& relative) {
    stk::FileWvIn reader(1000000, 1024);
    reader.openFile(ContentPath(relative), false, false, true);
    channels = reader.channelsOut();
    rate = reader.getFileRate();
    for (unsigned long f = 0; f < reader.getSize(); ++f) {
      reader.tick();
      for (unsigned int c = 0; c < channels; ++c) samples.push_back(reader.lastOut(c));
    }
  }
  size_t Frames() const { return samples.size() / channels; }
  double At(size_t frame, unsigned int c = 0) const { return samples[frame * channels + c]; }
  // Largest absolute value over frames [first, last) in any channel.
  double Peak(size_t first = 0, size_t last = SIZE_MAX) const {
    double peak = 0.0;
    for (size_t i = first * channels; i < std::min(last, Frames()) * channels; ++i) {
      peak = std::max(peak, std::fabs(samples[i]));
    }
    return peak;
  }
  unsigned int channels = 0;
  double rate = 0.0;
  std::vector<double> samples;  // interleaved
};

enum Kind { kMenu, kTheme, kCycle, kHit };
// Menu sounds are stereo (the mixer reads channel 1 for the right side); shutdown waits one
// second for the quit sound; a single cycle must loop at up to 1000 Hz; duty: share above zero.
struct Sound { const char* name; Kind kind; unsigned int channels; double maxSeconds, duty; };
const Sound kSounds[] = {
    {"menu_theme", kTheme, 2, 16.0, 0},       {"loaded", kMenu, 2, 1.0, 0},
    {"start", kMenu, 2, 1.0, 0},              {"stop", kMenu, 2, 1.0, 0},
    {"quit", kMenu, 2, 1.0, 0},               {"select", kMenu, 2, 0.15, 0},
    {"metronome", kHit, 1, 0.06, 0},          {"tr909_01", kHit, 1, 1.0, 0},
    {"tr909_05", kHit, 1, 1.0, 0},            {"tr909_07", kHit, 1, 1.0, 0},
    {"tr909_08", kHit, 1, 1.0, 0},            {"lsdj_pulse_50", kCycle, 1, 0.024, 0.5},
    {"lsdj_pulse_25", kCycle, 1, 0.024, 0.25}, {"lsdj_pulse_12_5", kCycle, 1, 0.024, 0.125},
    {"famitracker_triangle", kCycle, 1, 0.024, 0.5}};

}  // namespace

TEST(Assets, PicturesDecodeAtWindowSizeAndTheIconHasItsColourKey) {
  for (const char* name : {"loading", "backdrop_main_menu", "backdrop_game"}) {
    SDL_Surface* image = IMG_Load(ContentPath(std::string("img/") + name + ".png").c_str());
    ASSERT_NE(image, nullptr) << name << ": " << IMG_GetError();
    EXPECT_EQ(image->w * 1000 + image->h, 800600) << name;
    EXPECT_GE(image->format->BitsPerPixel, 24) << name;
    SDL_FreeSurface(image);
  }
  SDL_Surface* icon = SDL_LoadBMP(ContentPath("img/icon32.bmp").c_str());
  ASSERT_NE(icon, nullptr) << SDL_GetError();
  ASSERT_EQ(icon->w * 1000 + icon->h, 32032);
  // The transparent parts are magenta: the corners are, the drawn middle is not.
  const Uint32 key = SDL_MapRGB(icon->format, 255, 0, 255);
  int drawn = 0;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      Uint32 pixel = 0;
      const auto* row = static_cast<const Uint8*>(icon->pixels) + y * icon->pitch;
      std::memcpy(&pixel, row + x * icon->format->BytesPerPixel, icon->format->BytesPerPixel);
      drawn += pixel != key;
      EXPECT_TRUE(pixel == key || (x + y != 0 && x + y != 62)) << "corner " << x << ", " << y;
    }
  }
  EXPECT_GT(drawn, 100);
  EXPECT_LT(drawn, 1000);
  SDL_FreeSurface(icon);
}

TEST(Assets, FontOpensRelativeToTheResourcesFolderAtTheProgramsSizes) {
  ASSERT_EQ(TTF_Init(), 0) << TTF_GetError();
  for (int points : {10, 12, 20}) {
    TTF_Font* font = TTF_OpenFont("MarluneContent/font/segoeuimono.ttf", points);
    ASSERT_NE(font, nullptr) << points << " points: " << TTF_GetError();
    SDL_Surface* text = TTF_RenderText_Blended(font, "Marlune v1.03", SDL_Color{255, 255, 255, 255});
    EXPECT_TRUE(text != nullptr && text->w > 0);
    SDL_FreeSurface(text);
    TTF_CloseFont(font);
  }
  TTF_Quit();
  EXPECT_TRUE(std::ifstream(ContentPath("font/LICENSE-DejaVu.txt")).good());
}

TEST(Assets, EverySoundOpensAsTheProgramOpensItAndHasTheShapeItsUseNeeds) {
  for (const Sound& s : kSounds) {
    const std::string name = std::string("sfx/") + s.name + ".wav";
    SCOPED_TRACE(name);
    const Wave wave(name);
    const size_t n = wave.Frames();
    ASSERT_GT(n, 3u);
    EXPECT_EQ(wave.rate, 44100.0);
    EXPECT_EQ(wave.channels, s.channels);
    EXPECT_LE(n, s.maxSeconds * 44100);
    // Below full scale with headroom, so nothing clipped when written, and no DC.
    const double peak = wave.Peak();
    EXPECT_TRUE(peak > 0.3 && peak < 0.9) << peak;
    for (unsigned int c = 0; c < s.channels; ++c) {
      double sum = 0.0;
      for (size_t f = 0; f < n; ++f) sum += wave.At(f, c);
      EXPECT_LT(std::fabs(sum / n), 0.005 * peak) << "channel " << c;
    }
    // Strict readers need the RIFF chunk size to be the file size less its 8-byte chunk head.
    std::ifstream file(ContentPath(name), std::ios::binary);
    unsigned char head[8] = {};
    file.read(reinterpret_cast<char*>(head), 8);
    file.seekg(0, std::ios::end);
    EXPECT_EQ(head[4] | head[5] << 8 | head[6] << 16 | static_cast<long>(head[7]) << 24,
              static_cast<long>(file.tellg()) - 8);

    if (s.kind == kMenu) {  // no click when triggered or when finished
      EXPECT_LT(wave.Peak(0, 1), 0.01);
      EXPECT_LT(wave.Peak(n - 1), 0.001);
    } else if (s.kind == kTheme) {
      EXPECT_GE(n, 8 * 44100u);
      for (unsigned int c = 0; c < 2; ++c) {
        // The join is no rougher than 95 % of the frames (second difference), and the loop
        // plays on at its usual level around it rather than fading out and in.
        const auto curve = [&](size_t f) {
          return std::fabs(wave.At((f + 1) % n, c) - 2 * wave.At(f % n, c) + wave.At((f - 1) % n, c));
        };
        std::vector<double> curvature;
        for (size_t f = 1; f + 1 < n; ++f) curvature.push_back(curve(f));
        const auto p95 = curvature.begin() + curvature.size() * 95 / 100;
        std::nth_element(curvature.begin(), p95, curvature.end());
        EXPECT_LE(std::max(curve(n - 1), curve(n)), *p95) << c;
        EXPECT_GT(std::min(wave.Peak(0, 2205), wave.Peak(n - 2205)), 0.1 * peak) << c;
      }
    } else if (s.kind == kCycle) {
      // One cycle: exactly one rising and one falling edge around the loop.
      size_t high = 0, edges = 0;
      for (size_t f = 0; f < n; ++f) {
        high += wave.At(f) > 0.0;
        edges += (wave.At(f) > 0.0) != (wave.At((f + 1) % n) > 0.0);
      }
      EXPECT_EQ(edges, 2u);
      EXPECT_GE(n, 32u) << "clean edges at 16 Hz";
      EXPECT_NEAR(static_cast<double>(high) / n, s.duty, 1.0 / n);
    } else {
      // Up within 2 ms of the first frame (which is no step to full level), at its peak
      // within 20 ms, and died away to exact silence at the end.
      size_t onset = 0;
      while (onset < n && std::fabs(wave.At(onset)) < 0.1 * peak) ++onset;
      EXPECT_LE(onset, 88u);
      EXPECT_GE(wave.Peak(0, 882), peak);
      EXPECT_LT(std::fabs(wave.At(0)), 0.5 * peak);
      EXPECT_LT(wave.Peak(n - n / 50), 0.02 * peak);
      EXPECT_EQ(wave.At(n - 1), 0.0);
    }
  }
}
