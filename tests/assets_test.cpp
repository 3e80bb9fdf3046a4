// Checks the generated content folder through the same library calls the program uses
// to load it, and the properties the program relies on: picture sizes and depths, a font
// SDL_ttf opens, stereo menu sounds, single-cycle instrument waves, drum one-shots that
// start on their hit and end in silence, and no clipping or DC anywhere.
#include <SDL.h>
#include <SDL_image.h>
#include <SDL_ttf.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FileWvIn.h"

namespace {

std::string ContentPath(const std::string& relative) {
  return std::string(MARLUNE_RESOURCES_DIR) + "/MarluneContent/" + relative;
}

// A WAV file read whole, as the program's readers do (chunk threshold 1000000 frames).
struct Wave {
  unsigned int channels = 0;
  double fileRate = 0.0;
  std::vector<double> samples;  // interleaved

  size_t Frames() const { return channels ? samples.size() / channels : 0; }
  double At(size_t frame, unsigned int channel) const { return samples[frame * channels + channel]; }
  double Seconds() const { return static_cast<double>(Frames()) / fileRate; }
  double Peak() const {
    double peak = 0.0;
    for (double s : samples) peak = std::max(peak, std::fabs(s));
    return peak;
  }
  double Mean(unsigned int channel) const {
    double sum = 0.0;
    for (size_t f = 0; f < Frames(); ++f) sum += At(f, channel);
    return Frames() ? sum / Frames() : 0.0;
  }
  // Largest absolute value over a range of frames in any channel.
  double PeakIn(size_t first, size_t last) const {
    double peak = 0.0;
    for (size_t f = first; f < std::min(last, Frames()); ++f)
      for (unsigned int c = 0; c < channels; ++c) peak = std::max(peak, std::fabs(At(f, c)));
    return peak;
  }
};

// Reads with the program's options except normalisation, so raw levels can be checked.
Wave ReadRaw(const std::string& relative) {
  stk::FileWvIn reader(1000000, 1024);
  reader.openFile(ContentPath(relative), false, false, true);
  Wave wave;
  wave.channels = reader.channelsOut();
  wave.fileRate = reader.getFileRate();
  const unsigned long frames = reader.getSize();
  wave.samples.reserve(frames * wave.channels);
  for (unsigned long f = 0; f < frames; ++f) {
    reader.tick();
    for (unsigned int c = 0; c < wave.channels; ++c) wave.samples.push_back(reader.lastOut(c));
  }
  return wave;
}

const char* const kStereoSounds[] = {"sfx/menu_theme.wav", "sfx/loaded.wav", "sfx/start.wav",
                                     "sfx/stop.wav",       "sfx/quit.wav",   "sfx/select.wav"};
const char* const kOneShots[] = {"sfx/tr909_01.wav", "sfx/tr909_05.wav", "sfx/tr909_07.wav", "sfx/tr909_08.wav",
                                 "sfx/metronome.wav"};
const char* const kAllSounds[] = {"sfx/menu_theme.wav",     "sfx/loaded.wav",          "sfx/start.wav",
                                  "sfx/stop.wav",           "sfx/quit.wav",            "sfx/select.wav",
                                  "sfx/metronome.wav",      "sfx/lsdj_pulse_50.wav",   "sfx/lsdj_pulse_25.wav",
                                  "sfx/lsdj_pulse_12_5.wav", "sfx/famitracker_triangle.wav", "sfx/tr909_01.wav",
                                  "sfx/tr909_05.wav",       "sfx/tr909_07.wav",        "sfx/tr909_08.wav"};

// Mean Rec. 601 brightness (0..1) of an image rectangle given in window coordinates
// (origin bottom-left, y up), as the program places text over the picture.
double MeanLuma(SDL_Surface* image, int x0, int y0, int x1, int y1) {
  double sum = 0.0;
  int count = 0;
  SDL_LockSurface(image);
  for (int wy = y0; wy < y1; ++wy) {
    const int row = image->h - 1 - wy;
    for (int x = x0; x < x1; ++x) {
      const Uint8* p = static_cast<const Uint8*>(image->pixels) + row * image->pitch + x * image->format->BytesPerPixel;
      Uint32 pixel = 0;
      std::memcpy(&pixel, p, image->format->BytesPerPixel);
      Uint8 r, g, b;
      SDL_GetRGB(pixel, image->format, &r, &g, &b);
      sum += (0.299 * r + 0.587 * g + 0.114 * b) / 255.0;
      ++count;
    }
  }
  SDL_UnlockSurface(image);
  return sum / count;
}

bool IsDirectory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

TEST(Assets, PicturesDecodeAtWindowSizeWithUsableDepth) {
  for (const char* name : {"img/loading.png", "img/backdrop_main_menu.png", "img/backdrop_game.png"}) {
    SCOPED_TRACE(name);
    SDL_Surface* image = IMG_Load(ContentPath(name).c_str());
    ASSERT_NE(image, nullptr) << IMG_GetError();
    EXPECT_EQ(image->w, 800);
    EXPECT_EQ(image->h, 600);
    const int bpp = image->format->BitsPerPixel;
    EXPECT_TRUE(bpp == 24 || bpp == 32) << bpp;
    SDL_FreeSurface(image);
  }

  SDL_Surface* icon = SDL_LoadBMP_RW(SDL_RWFromFile(ContentPath("img/icon32.bmp").c_str(), "rb"), 1);
  ASSERT_NE(icon, nullptr) << SDL_GetError();
  EXPECT_EQ(icon->w, 32);
  EXPECT_EQ(icon->h, 32);
  // The window icon's transparent parts are the magenta colour key; the corners are
  // transparent and the middle is drawn.
  const Uint32 key = SDL_MapRGB(icon->format, 255, 0, 255);
  auto pixelAt = [icon](int x, int y) {
    Uint32 pixel = 0;
    std::memcpy(&pixel, static_cast<const Uint8*>(icon->pixels) + y * icon->pitch + x * icon->format->BytesPerPixel,
                icon->format->BytesPerPixel);
    return pixel;
  };
  SDL_LockSurface(icon);
  EXPECT_EQ(pixelAt(0, 0), key);
  EXPECT_EQ(pixelAt(31, 31), key);
  int drawn = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) drawn += pixelAt(x, y) != key;
  SDL_UnlockSurface(icon);
  EXPECT_GT(drawn, 100);
  EXPECT_LT(drawn, 1000);
  SDL_FreeSurface(icon);
}

TEST(Assets, TextAreasOfTheBackdropsStayDarkEnoughForLightText) {
  SDL_Surface* menu = IMG_Load(ContentPath("img/backdrop_main_menu.png").c_str());
  SDL_Surface* game = IMG_Load(ContentPath("img/backdrop_game.png").c_str());
  ASSERT_NE(menu, nullptr);
  ASSERT_NE(game, nullptr);

  // Menu entries at x 100, y 90..170 (light grey and yellow), version label at the
  // bottom-left corner (white).
  EXPECT_LT(MeanLuma(menu, 90, 80, 400, 180), 0.2);
  EXPECT_LT(MeanLuma(menu, 0, 0, 120, 16), 0.2);
  // The picture is not blank: the lettered title is bright somewhere above the entries.
  EXPECT_GT(MeanLuma(menu, 60, 420, 440, 540), MeanLuma(menu, 90, 80, 400, 180) + 0.05);

  // Game screen: white pad labels 2 pixels above each instrument pad, and the version label.
  struct PadTop {
    int x, top;
  };
  const PadTop pads[] = {{25, 370}, {225, 370}, {425, 370}, {25, 170}, {225, 170},
                         {425, 170}, {625, 370}, {625, 279}, {625, 187}, {625, 95}};
  for (const PadTop& pad : pads) {
    SCOPED_TRACE(pad.x * 1000 + pad.top);
    EXPECT_LT(MeanLuma(game, pad.x, pad.top + 2, pad.x + 150, pad.top + 14), 0.15);
  }
  EXPECT_LT(MeanLuma(game, 0, 0, 120, 16), 0.15);
  SDL_FreeSurface(menu);
  SDL_FreeSurface(game);
}

TEST(Assets, FontOpensAtTheProgramsSizesAndCarriesItsLicence) {
  ASSERT_EQ(TTF_Init(), 0) << TTF_GetError();
  for (int points : {10, 12, 20}) {
    TTF_Font* font = TTF_OpenFont("MarluneContent/font/segoeuimono.ttf", points);
    ASSERT_NE(font, nullptr) << "relative to the Resources folder, " << points << " points: " << TTF_GetError();
    SDL_Surface* text = TTF_RenderText_Blended(font, "Marlune v1.03", SDL_Color{255, 255, 255, 255});
    ASSERT_NE(text, nullptr);
    EXPECT_GT(text->w, 0);
    SDL_FreeSurface(text);
    TTF_CloseFont(font);
  }
  TTF_Quit();

  std::ifstream licence(ContentPath("font/LICENSE-DejaVu.txt"));
  const std::string body((std::istreambuf_iterator<char>(licence)), std::istreambuf_iterator<char>());
  EXPECT_NE(body.find("DejaVu"), std::string::npos);
  EXPECT_TRUE(IsDirectory(ContentPath("sfx/rawwaves")));
}

TEST(Assets, EverySoundOpensAsTheProgramOpensItWithinLengthAndLevelLimits) {
  for (const char* name : kAllSounds) {
    SCOPED_TRACE(name);
    stk::FileWvIn reader(1000000, 1024);
    reader.openFile(ContentPath(name), false, true, true);
    EXPECT_EQ(reader.getFileRate(), 44100.0);
    EXPECT_GT(reader.getSize(), 0u);
    EXPECT_LT(reader.getSize(), 1000000u);

    const Wave wave = ReadRaw(name);
    // Raw level below full scale (with headroom), so nothing clipped when written.
    EXPECT_LT(wave.Peak(), 0.9);
    EXPECT_GT(wave.Peak(), 0.3);
    for (unsigned int c = 0; c < wave.channels; ++c) EXPECT_LT(std::fabs(wave.Mean(c)), 0.005 * wave.Peak()) << c;

    // Strict readers need the RIFF chunk size to be the file size less its 8-byte chunk head.
    std::ifstream file(ContentPath(name), std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 44u);
    const unsigned long riff = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | static_cast<unsigned long>(bytes[7]) << 24;
    EXPECT_EQ(riff, bytes.size() - 8);
  }
}

TEST(Assets, MenuSoundsAreStereoAndShortEnough) {
  for (const char* name : kStereoSounds) {
    SCOPED_TRACE(name);
    stk::FileWvIn reader(1000000, 1024);
    reader.openFile(ContentPath(name), false, true, true);
    // The mixer reads channel 1 of every menu sound for the right side.
    EXPECT_EQ(reader.channelsOut(), 2u);
  }
  EXPECT_LE(ReadRaw("sfx/select.wav").Seconds(), 0.15);
  for (const char* name : {"sfx/loaded.wav", "sfx/start.wav", "sfx/stop.wav", "sfx/quit.wav"}) {
    SCOPED_TRACE(name);
    const Wave wave = ReadRaw(name);
    // Shutdown waits one second for the quit sound; none of them is longer.
    EXPECT_LE(wave.Seconds(), 1.0);
    // Soft start and an end in silence: no click when triggered or when finished.
    EXPECT_LT(wave.PeakIn(0, 1), 0.01);
    EXPECT_LT(wave.PeakIn(wave.Frames() - 1, wave.Frames()), 0.001);
  }
  const double themeSeconds = ReadRaw("sfx/menu_theme.wav").Seconds();
  EXPECT_GE(themeSeconds, 8.0);
  EXPECT_LE(themeSeconds, 16.0);
}

TEST(Assets, MenuThemeLoopsWithoutASeam) {
  const Wave theme = ReadRaw("sfx/menu_theme.wav");
  const size_t n = theme.Frames();
  ASSERT_GT(n, 3u);
  for (unsigned int c = 0; c < 2; ++c) {
    SCOPED_TRACE(c);
    // Curvature (second difference) of the signal everywhere inside the file, and across
    // the join where the last frame flows into the first.
    std::vector<double> curvature;
    for (size_t f = 1; f + 1 < n; ++f)
      curvature.push_back(std::fabs(theme.At(f + 1, c) - 2.0 * theme.At(f, c) + theme.At(f - 1, c)));
    std::sort(curvature.begin(), curvature.end());
    // The join must be no rougher than 95 % of the frames; a loop cut at an arbitrary
    // point, or with tails that stop at the end instead of wrapping, lands far above that.
    const double p95 = curvature[curvature.size() * 95 / 100];
    const double acrossEnd = std::fabs(theme.At(0, c) - 2.0 * theme.At(n - 1, c) + theme.At(n - 2, c));
    const double acrossStart = std::fabs(theme.At(1, c) - 2.0 * theme.At(0, c) + theme.At(n - 1, c));
    EXPECT_LE(acrossEnd, p95);
    EXPECT_LE(acrossStart, p95);
    // The loop does not fade out and in around the join: it plays on at its usual level.
    EXPECT_GT(theme.PeakIn(0, 2205), 0.1 * theme.Peak());
    EXPECT_GT(theme.PeakIn(n - 2205, n), 0.1 * theme.Peak());
  }
}

TEST(Assets, PulseWavesAreOneCycleWithTheirDuty) {
  const struct {
    const char* name;
    double duty;
  } pulses[] = {{"sfx/lsdj_pulse_50.wav", 0.5}, {"sfx/lsdj_pulse_25.wav", 0.25}, {"sfx/lsdj_pulse_12_5.wav", 0.125}};
  for (const auto& pulse : pulses) {
    SCOPED_TRACE(pulse.name);
    const Wave wave = ReadRaw(pulse.name);
    const size_t n = wave.Frames();
    // Long enough for clean edges at 16 Hz, short enough to loop at 1000 Hz.
    EXPECT_GE(n, 32u);
    EXPECT_LE(n, 1024u);
    size_t high = 0, edges = 0;
    for (size_t f = 0; f < n; ++f) {
      high += wave.At(f, 0) > 0.0;
      // Counting sign changes around the loop (last frame to first included): one cycle
      // has exactly one rising and one falling edge.
      edges += (wave.At(f, 0) > 0.0) != (wave.At((f + 1) % n, 0) > 0.0);
    }
    EXPECT_EQ(edges, 2u);
    EXPECT_NEAR(static_cast<double>(high) / n, pulse.duty, 1.0 / n);
    EXPECT_LT(std::fabs(wave.Mean(0)), 1e-3);
  }
}

TEST(Assets, TriangleIsOneCycleOf32EqualFourBitSteps) {
  const Wave wave = ReadRaw("sfx/famitracker_triangle.wav");
  const size_t n = wave.Frames();
  ASSERT_EQ(n % 32, 0u);
  const size_t hold = n / 32;
  std::vector<double> steps;
  for (size_t s = 0; s < 32; ++s) {
    for (size_t i = 1; i < hold; ++i) EXPECT_EQ(wave.At(s * hold + i, 0), wave.At(s * hold, 0)) << s;
    steps.push_back(wave.At(s * hold, 0));
  }
  // Sixteen equal steps up from the lowest level, then the same sixteen levels down.
  const double increment = steps[1] - steps[0];
  ASSERT_GT(increment, 0.0);
  for (size_t s = 1; s < 16; ++s) EXPECT_NEAR(steps[s] - steps[s - 1], increment, 1e-4) << s;
  for (size_t s = 16; s < 32; ++s) EXPECT_EQ(steps[s], steps[31 - s]) << s;
  EXPECT_LT(std::fabs(wave.Mean(0)), 1e-4);
}

TEST(Assets, DrumsAndClickStartOnTheirHitAndFadeToSilence) {
  for (const char* name : kOneShots) {
    SCOPED_TRACE(name);
    const Wave wave = ReadRaw(name);
    const double peak = wave.Peak();
    ASSERT_GT(peak, 0.0);
    EXPECT_LE(wave.Seconds(), 1.0);
    // No silence before the hit: the signal is up within 2 ms and peaks within 20 ms.
    size_t onset = 0;
    while (onset < wave.Frames() && std::fabs(wave.At(onset, 0)) < 0.1 * peak) ++onset;
    EXPECT_LE(onset, 88u);
    EXPECT_GE(wave.PeakIn(0, 882), peak);
    // The first frame is at most the natural start of the attack, not a step to full level.
    EXPECT_LT(std::fabs(wave.At(0, 0)), 0.5 * peak);
    // The tail has died away to exact silence by the last frame.
    EXPECT_LT(wave.PeakIn(wave.Frames() - wave.Frames() / 50, wave.Frames()), 0.02 * peak);
    EXPECT_EQ(wave.At(wave.Frames() - 1, 0), 0.0);
  }
  // The metronome click must be over well before the next beat's click and stay crisp.
  EXPECT_LE(ReadRaw("sfx/metronome.wav").Seconds(), 0.06);
}
