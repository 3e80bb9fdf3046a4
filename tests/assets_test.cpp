// Checks the generated content folder through the same library calls the program uses to load
// it (the program itself fails to start on one it cannot load): pictures at window size, padded
// and turned as they are loaded, the window icon's colour key, the fonts and backdrops as the
// program loads them, the sound the game names when it cannot open one, and sounds at the
// stream's rate without clipping or DC, with a RIFF size strict readers accept, of the shape
// each use needs (stereo menu sounds that start and end softly, single-cycle instrument waves,
// drum hits that start at once and end in silence).
#include <SDL_image.h>
#include <SDL_ttf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "FileWvIn.h"
#include "common.h"
#include "content_fonts.h"
#include "game_state.h"
#include "pad_preset.h"
#include "test_support.h"
#include "texture.h"

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
    stk::StkFrames frames(reader.getSize(), channels);
    reader.tick(frames);
    samples.assign(&frames[0], &frames[0] + frames.size());
  }
  size_t Frames() const { return samples.size() / channels; }
  double At(size_t frame) const { return samples[frame * channels]; }
  // Largest absolute value over frames [first, last) in any channel.
  double PeakOf(size_t first, size_t last) const {
    return Peak(samples, first * channels, last * channels);
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
    {"menu_theme", kTheme, 2, 16, 0}, {"loaded", kMenu, 2, 1, 0},     {"start", kMenu, 2, 1, 0},
    {"stop", kMenu, 2, 1, 0},         {"quit", kMenu, 2, 1, 0},       {"select", kMenu, 2, 0.15, 0},
    {"metronome", kHit, 1, 0.06, 0},  {"tr909_01", kHit, 1, 1, 0},    {"tr909_05", kHit, 1, 1, 0},
    {"tr909_07", kHit, 1, 1, 0},      {"tr909_08", kHit, 1, 1, 0},
    {"lsdj_pulse_50", kCycle, 1, 0.024, 0.5},    {"lsdj_pulse_25", kCycle, 1, 0.024, 0.25},
    {"lsdj_pulse_12_5", kCycle, 1, 0.024, 0.125}, {"famitracker_triangle", kCycle, 1, 0.024, 0.5}};

}  // namespace

TEST(Assets, PicturesDecodeAtWindowSizeAndTheIconHasItsColourKey) {
  for (const char* name : {"loading", "backdrop_main_menu", "backdrop_game"}) {
    SDL_Surface* image = IMG_Load(ContentPath(std::string("img/") + name + ".png").c_str());
    ASSERT_NE(image, nullptr) << name << ": " << IMG_GetError();
    EXPECT_TRUE(image->w == 800 && image->h == 600 && image->format->BitsPerPixel >= 24) << name;
    SDL_FreeSurface(image);
  }
  // As the program loads a picture (no OpenGL context here: nothing is uploaded): padded to
  // powers of two, each side on its own, a power of two left as it is, turned upside down from
  // the top row.
  const std::string wide = ::testing::TempDir() + "marlune_wide.bmp";
  SDL_Surface* made = SDL_CreateRGBSurface(0, 40, 20, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000);
  ASSERT_EQ(SDL_SaveBMP(made, wide.c_str()), 0) << SDL_GetError();
  SDL_FreeSurface(made);
  const std::pair<std::string, int> padding[] = {
      {ContentPath("img/backdrop_game.png"), 10241024}, {ContentPath("img/icon32.bmp"), 320032},
      {wide, 640032}};
  for (const auto& [path, padded] : padding) {
    Texture texture;
    texture.Load(path.c_str());
    EXPECT_EQ(texture.paddedWidth * 10000 + texture.paddedHeight, padded) << path;
  }
  SDL_Surface* rows = SDL_CreateRGBSurface(0, 1, 3, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000);
  SDL_Surface* padded = SDL_CreateRGBSurface(0, 1, 4, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000);
  for (Uint32 row = 0; row < 3; ++row) static_cast<Uint32*>(rows->pixels)[row] = 0xFF000001 + row;
  ASSERT_TRUE(VerticalFlip(rows, padded));
  const Uint32* flipped = static_cast<const Uint32*>(padded->pixels);
  EXPECT_TRUE(flipped[0] == 0xFF000003 && flipped[1] == 0xFF000002 && flipped[2] == 0xFF000001 &&
              flipped[3] == 0)
      << std::hex << flipped[0] << " " << flipped[1] << " " << flipped[2] << " " << flipped[3];
  SDL_FreeSurface(rows);
  SDL_FreeSurface(padded);
  SDL_Surface* bmp = SDL_LoadBMP(ContentPath("img/icon32.bmp").c_str());
  ASSERT_NE(bmp, nullptr) << SDL_GetError();
  SDL_Surface* icon = SDL_ConvertSurfaceFormat(bmp, SDL_PIXELFORMAT_RGB888, 0);
  SDL_FreeSurface(bmp);
  ASSERT_EQ(icon->w * 1000 + icon->h, 32032);
  // The transparent parts are magenta: the corners are, the drawing is not.
  const auto magenta = [icon](int i) {
    return (static_cast<const Uint32*>(icon->pixels)[i] & 0xFFFFFF) == 0xFF00FF;
  };
  int drawn = 0;
  for (int i = 0; i < 32 * 32; ++i) drawn += !magenta(i);
  EXPECT_TRUE(magenta(0) && magenta(32 * 32 - 1)) << "corners";
  EXPECT_TRUE(drawn > 100 && drawn < 1000) << drawn;
  SDL_FreeSurface(icon);
}

// The fonts and pictures, loaded as the program loads them from its Resources folder: every
// file named is there (a missing one would end the test with its message), and each scene's
// backdrop is drawn from its own picture.
TEST(Assets, TheContentLoadsAndEachBackdropShowsItsOwnPicture) {
  ASSERT_EQ(TTF_Init(), 0) << TTF_GetError();
  const ContentFonts saved = content;
  const std::filesystem::path was = std::filesystem::current_path();
  std::filesystem::current_path(MARLUNE_RESOURCES_DIR);
  content.Load();
  std::filesystem::current_path(was);
  EXPECT_TRUE(content.smallFont && content.mediumFont && content.largeFont);
  EXPECT_EQ(content.menuBackdrop.texture, &content.menuBackdropTexture);
  EXPECT_EQ(content.gameBackdrop.texture, &content.gameBackdropTexture);
  content.Unload();
  content = saved;
  TTF_Quit();
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
    const double peak = Peak(wave.samples);
    EXPECT_TRUE(peak > 0.3 && peak < 0.9) << peak;
    std::vector<double> sum(s.channels);
    for (size_t i = 0; i < wave.samples.size(); ++i) sum[i % s.channels] += wave.samples[i] / n;
    for (double mean : sum) EXPECT_LT(std::fabs(mean), 0.005 * peak);
    // Strict readers need the RIFF chunk size to be the file size less its 8-byte chunk head.
    std::ifstream file(ContentPath(name), std::ios::binary);
    uint32_t riff = 0;
    file.seekg(4).read(reinterpret_cast<char*>(&riff), 4);  // little-endian, as this machine
    EXPECT_EQ(riff + 8, std::filesystem::file_size(ContentPath(name)));

    if (s.kind == kMenu) {  // no click when triggered or when finished
      EXPECT_LT(wave.PeakOf(0, 1), 0.01);
      EXPECT_LT(wave.PeakOf(n - 1, n), 0.001);
    } else if (s.kind == kCycle) {
      // One cycle: exactly one rising and one falling edge around the loop.
      size_t high = 0, edges = 0;
      for (size_t f = 0; f < n; ++f) {
        high += wave.At(f) > 0.0;
        edges += (wave.At(f) > 0.0) != (wave.At((f + 1) % n) > 0.0);
      }
      EXPECT_TRUE(edges == 2 && n >= 32) << edges << " edges, " << n << " frames (16 Hz and up)";
      EXPECT_NEAR(static_cast<double>(high) / n, s.duty, 1.0 / n);
    } else if (s.kind == kHit) {
      // Up within 2 ms from a first frame that is no step to full level, at its peak within
      // 20 ms, and died away to exact silence at the end.
      EXPECT_TRUE(std::fabs(wave.At(0)) < 0.5 * peak && wave.PeakOf(0, 89) >= 0.1 * peak);
      EXPECT_GE(wave.PeakOf(0, 882), peak);
      EXPECT_EQ(wave.At(n - 1), 0.0);
    }
  }
}

// A sound the game's pads cannot open is named: with only the metronome's click there, the
// first instrument's wave; with no sound at all, the click. No pad of the failed game remains.
TEST(Assets, TheGameNamesTheFirstSoundItCannotOpen) {
  for (const bool click : {true, false}) {
    const std::string dir = MakeTempDir();
    std::filesystem::create_directories(dir + "/MarluneContent/sfx");
    if (click) {
      std::filesystem::copy_file(ContentPath("sfx/metronome.wav"),
                                 dir + "/MarluneContent/sfx/metronome.wav");
    }
    const std::filesystem::path resources = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    std::string missing;
    const bool built = TryPresetInit(&missing);
    std::filesystem::current_path(resources);
    std::filesystem::remove_all(dir);
    EXPECT_FALSE(built);
    EXPECT_EQ(missing, click ? "MarluneContent/sfx/lsdj_pulse_50.wav"
                             : "MarluneContent/sfx/metronome.wav");
    EXPECT_TRUE(gameState.pads.empty());
  }
}
