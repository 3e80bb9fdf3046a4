// Pictures drawn by code. The program places things with y growing upward from the
// bottom of the window, while image rows count from the top; RowOf converts.
#include "images.h"

#include <SDL.h>
#include <SDL_image.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "painter.h"
#include "synth.h"

namespace content {

namespace {

// Image row of a window y coordinate (y up from the bottom edge).
float RowOf(float windowY) { return kScreenHeight - windowY; }

// A font handle closed on scope exit.
class FontHandle {
 public:
  FontHandle(const std::string& path, int points) : font_(TTF_OpenFont(path.c_str(), points)) {}
  ~FontHandle() {
    if (font_) TTF_CloseFont(font_);
  }
  FontHandle(const FontHandle&) = delete;
  FontHandle& operator=(const FontHandle&) = delete;
  TTF_Font* get() const { return font_; }

 private:
  TTF_Font* font_;
};

// Night sky fading towards a violet horizon.
void PaintSky(Canvas& canvas) {
  canvas.VerticalGradient({{0.0f, Rgb(9, 8, 30)},
                           {0.40f, Rgb(34, 22, 70)},
                           {0.66f, Rgb(58, 34, 92)},
                           {0.67f, Rgb(20, 26, 60)},
                           {1.0f, Rgb(6, 9, 22)}});
}

// Scattered stars of varied size and warmth; deterministic positions.
void PaintStars(Canvas& canvas, int count, float maxRow, uint64_t seed) {
  Noise noise(seed);
  for (int i = 0; i < count; ++i) {
    const float x = static_cast<float>(noise.Uniform() * canvas.Width());
    const float y = static_cast<float>(noise.Uniform() * maxRow);
    const float size = static_cast<float>(0.35 + 0.9 * noise.Uniform() * noise.Uniform());
    const float brightness = static_cast<float>(0.35 + 0.65 * noise.Uniform());
    const Colour tint = Mix(Rgb(190, 200, 255), Rgb(255, 236, 200), static_cast<float>(noise.Uniform()));
    canvas.Disc(x, y, size, tint, brightness * (1.0f - 0.6f * y / maxRow));
    if (size > 0.9f) canvas.Glow(x, y, 6.0f * size, tint, 0.12f * brightness);
  }
}

// Full moon lit from the upper left, with soft maria and a wide halo.
void PaintMoon(Canvas& canvas, float cx, float cy, float radius) {
  canvas.Glow(cx, cy, radius * 5.0f, Rgb(120, 90, 220), 0.35f);
  canvas.Glow(cx, cy, radius * 2.2f, Rgb(220, 205, 255), 0.45f);
  const float maria[][3] = {{-0.35f, -0.25f, 0.24f}, {0.18f, -0.42f, 0.15f}, {0.28f, 0.22f, 0.3f},
                            {-0.22f, 0.42f, 0.13f},  {-0.55f, 0.12f, 0.11f}, {0.55f, -0.1f, 0.1f}};
  const Colour lit = Rgb(246, 240, 255), dark = Rgb(170, 160, 215);
  for (int y = static_cast<int>(cy - radius - 2); y <= static_cast<int>(cy + radius + 2); ++y)
    for (int x = static_cast<int>(cx - radius - 2); x <= static_cast<int>(cx + radius + 2); ++x) {
      const float nx = (x + 0.5f - cx) / radius, ny = (y + 0.5f - cy) / radius;
      const float d = std::hypot(nx, ny);
      const float coverage = std::min(1.0f, std::max(0.0f, 0.5f - (d - 1.0f) * radius));
      if (coverage <= 0.0f) continue;
      const float nz = std::sqrt(std::max(0.0f, 1.0f - d * d));
      float light = 0.55f + 0.45f * std::min(1.0f, std::max(0.0f, -0.45f * nx - 0.45f * ny + 0.77f * nz));
      for (const auto& m : maria) {
        const float md = std::hypot(nx - m[0], ny - m[1]) / m[2];
        if (md < 1.0f) light *= 1.0f - 0.16f * (1.0f - md * md);
      }
      canvas.Blend(x, y, Mix(dark, lit, light), coverage);
    }
}

// Calm sea below the horizon: the moon's shimmering reflection and waveform ripples that
// fade out where the menu entries stand.
void PaintSea(Canvas& canvas, float horizonRow, float moonX, uint64_t seed) {
  Noise noise(seed);
  canvas.Line(0.0f, horizonRow, static_cast<float>(canvas.Width()), horizonRow, 1.0f, Rgb(150, 120, 220), 0.35f);
  canvas.Glow(moonX, horizonRow, 220.0f, Rgb(120, 100, 210), 0.18f);
  const int depth = canvas.Height() - static_cast<int>(horizonRow);
  for (int i = 1; i < depth; ++i) {
    const float t = static_cast<float>(i) / depth;
    const float row = horizonRow + i;
    const float sparkle = static_cast<float>(noise.Uniform());
    if (sparkle < 0.3f) continue;
    const float halfWidth = 14.0f + 90.0f * t;
    const float shift = static_cast<float>(noise.Tick()) * 22.0f * t;
    const float strength = 0.5f * std::pow(1.0f - t, 1.6f) * sparkle;
    for (int x = static_cast<int>(moonX - halfWidth - 30); x <= static_cast<int>(moonX + halfWidth + 30); ++x) {
      const float u = (x + 0.5f - moonX - shift) / halfWidth;
      if (std::fabs(u) >= 1.0f) continue;
      const float across = 0.5f * (1.0f + std::cos(kPi * u));
      canvas.Blend(x, static_cast<int>(row), Rgb(225, 215, 255), strength * across * across);
    }
  }
  for (int k = 0; k < 4; ++k) {
    const float row = horizonRow + 18.0f + k * 26.0f + k * k * 6.0f;
    const float amplitude = 2.0f + k * 1.5f;
    const float alpha = 0.22f - 0.04f * k;
    float prevX = 0.0f, prevY = row;
    for (int x = 0; x <= canvas.Width(); x += 4) {
      const float phase = static_cast<float>(x) / (60.0f + 20.0f * k) + k;
      const float y = row + amplitude * std::sin(phase) * std::sin(phase * 0.31f + k);
      // Quiet between x 40 and 460, full strength from 560 on.
      const float fade = x < 40 ? 1.0f - x / 40.0f : (x < 460 ? 0.0f : std::min(1.0f, (x - 460.0f) / 100.0f));
      if (x > 0) canvas.Line(prevX, prevY, static_cast<float>(x), y, 1.2f, Rgb(120, 210, 230), alpha * (0.15f + 0.85f * fade));
      prevX = static_cast<float>(x);
      prevY = y;
    }
  }
}

// A row of sixteen small step cells, some lit, as on a pad's pattern strip.
void PaintStepStrip(Canvas& canvas, float x, float row, float cell, float alpha) {
  static const int kLit[16] = {1, 0, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0, 0, 1, 1, 0};
  for (int i = 0; i < 16; ++i) {
    const float left = x + i * (cell + 4.0f);
    const Colour colour = kLit[i] ? Rgb(255, 214, 90) : Rgb(120, 110, 170);
    canvas.RoundedRect(left, row, left + cell, row + cell, 2.5f, colour, alpha * (kLit[i] ? 0.9f : 0.35f));
    if (kLit[i]) canvas.Glow(left + cell * 0.5f, row + cell * 0.5f, cell * 1.6f, Rgb(255, 190, 60), 0.12f * alpha);
  }
}

}  // namespace

bool WriteIcon(const std::string& path) {
  // A crescent moon with two star pixels on the magenta colour key; edges are hard so no
  // pink fringe shows once the key is removed.
  SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormat(0, 32, 32, 24, SDL_PIXELFORMAT_BGR24);
  if (!surface) return false;
  SDL_LockSurface(surface);
  for (int y = 0; y < 32; ++y) {
    Uint8* row = static_cast<Uint8*>(surface->pixels) + y * surface->pitch;
    for (int x = 0; x < 32; ++x) {
      const float px = x + 0.5f, py = y + 0.5f;
      const float outer = std::hypot(px - 15.0f, py - 16.5f);
      const float inner = std::hypot(px - 21.5f, py - 12.0f);
      int r = 255, g = 0, b = 255;
      if (outer <= 13.5f && inner > 11.0f) {
        // Lit limb brighter, inner edge warmer.
        const float t = std::min(1.0f, (inner - 11.0f) / 9.0f);
        r = static_cast<int>(250 - 20 * t);
        g = static_cast<int>(222 + 10 * t);
        b = static_cast<int>(140 + 90 * t);
        if (outer > 12.5f) {
          r -= 60;
          g -= 70;
          b -= 40;
        }
      }
      if ((x == 26 && y == 24) || (x == 23 && y == 28) || (x == 27 && y == 5)) {
        r = 255;
        g = 250;
        b = 220;
      }
      row[x * 3 + 0] = static_cast<Uint8>(b);
      row[x * 3 + 1] = static_cast<Uint8>(g);
      row[x * 3 + 2] = static_cast<Uint8>(r);
    }
  }
  SDL_UnlockSurface(surface);
  const bool ok = SDL_SaveBMP(surface, path.c_str()) == 0;
  SDL_FreeSurface(surface);
  return ok;
}

bool WriteAppIcon(const std::string& path, int size) {
  // Drawn in the window icon's 32-unit grid (row 0 at the top), scaled to size, with every
  // pixel's coverage taken from 4 x 4 samples, so edges stay smooth at any size.
  const float unit = size / 32.0f;
  const auto tile = [](float u, float v) {  // rounded square from 1 to 31, corner radius 6
    const float dx = std::max(std::fabs(u - 16.0f) - 9.0f, 0.0f), dy = std::max(std::fabs(v - 16.0f) - 9.0f, 0.0f);
    return std::hypot(dx, dy) <= 6.0f;
  };
  const auto moon = [](float u, float v) {
    return std::hypot(u - 15.0f, v - 16.5f) <= 11.0f && std::hypot(u - 20.5f, v - 12.5f) > 9.0f;
  };
  Canvas canvas(size, size);
  canvas.VerticalGradient({{0.0f, Rgb(9, 8, 30)}, {0.6f, Rgb(34, 22, 70)}, {1.0f, Rgb(58, 34, 92)}});
  canvas.Glow(15.0f * unit, 16.5f * unit, 15.0f * unit, Rgb(120, 90, 220), 0.35f);
  std::vector<float> alpha(static_cast<size_t>(size) * size);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      int inTile = 0, inMoon = 0;
      for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) {
          const float u = (x + (sx + 0.5f) / 4.0f) / unit, v = (y + (sy + 0.5f) / 4.0f) / unit;
          inTile += tile(u, v);
          inMoon += moon(u, v);
        }
      alpha[static_cast<size_t>(y) * size + x] = inTile / 16.0f;
      // Lit limb brighter, inner edge warmer, as on the window icon.
      const float t = std::min(1.0f, (std::hypot((x + 0.5f) / unit - 20.5f, (y + 0.5f) / unit - 12.5f) - 9.0f) / 8.0f);
      canvas.Blend(x, y, Rgb(static_cast<int>(250 - 20 * t), static_cast<int>(222 + 10 * t), static_cast<int>(140 + 90 * t)),
                   inMoon / 16.0f);
    }
  for (const auto& star : {std::make_pair(26.5f, 24.5f), std::make_pair(23.5f, 28.0f), std::make_pair(27.0f, 6.0f)}) {
    canvas.Glow(star.first * unit, star.second * unit, 2.0f * unit, Rgb(255, 250, 220), 0.5f);
    canvas.Disc(star.first * unit, star.second * unit, std::max(0.6f, 0.7f * unit), Rgb(255, 250, 220), 1.0f);
  }

  SDL_Surface* opaque = canvas.ToSurface();
  if (!opaque) return false;
  SDL_Surface* surface = SDL_ConvertSurfaceFormat(opaque, SDL_PIXELFORMAT_RGBA32, 0);
  SDL_FreeSurface(opaque);
  if (!surface) return false;
  SDL_LockSurface(surface);
  for (int y = 0; y < size; ++y) {
    Uint8* row = static_cast<Uint8*>(surface->pixels) + y * surface->pitch;
    for (int x = 0; x < size; ++x) row[x * 4 + 3] = static_cast<Uint8>(std::lround(alpha[static_cast<size_t>(y) * size + x] * 255.0f));
  }
  SDL_UnlockSurface(surface);
  const bool ok = IMG_SavePNG(surface, path.c_str()) == 0;
  SDL_FreeSurface(surface);
  return ok;
}

bool WriteLoadingImage(const std::string& path, const std::string& fontPath) {
  FontHandle title(fontPath, 64);
  FontHandle caption(fontPath, 16);
  if (!title.get() || !caption.get()) return false;
  Canvas canvas(kScreenWidth, kScreenHeight);
  canvas.VerticalGradient({{0.0f, Rgb(8, 7, 26)}, {0.55f, Rgb(30, 20, 62)}, {1.0f, Rgb(10, 8, 28)}});
  PaintStars(canvas, 160, 600.0f, 0x10AD);
  PaintMoon(canvas, 400.0f, 200.0f, 64.0f);
  int w = 0, h = 0;
  TTF_SizeUTF8(title.get(), "Marlune", &w, &h);
  canvas.Text(title.get(), "Marlune", (kScreenWidth - w) / 2, 300, Rgb(246, 240, 255), 1.0f, 6, Rgb(160, 120, 255), 0.8f);
  TTF_SizeUTF8(caption.get(), "loading", &w, &h);
  canvas.Text(caption.get(), "loading", (kScreenWidth - w) / 2, 400, Rgb(200, 190, 235), 0.85f);
  PaintStepStrip(canvas, (kScreenWidth - (16 * 14.0f + 15 * 4.0f)) / 2.0f, 440.0f, 14.0f, 0.9f);
  return canvas.SavePng(path);
}

bool WriteMenuBackdrop(const std::string& path, const std::string& fontPath) {
  FontHandle title(fontPath, 84);
  if (!title.get()) return false;
  Canvas canvas(kScreenWidth, kScreenHeight);
  PaintSky(canvas);
  const float horizon = 0.665f * kScreenHeight;
  PaintStars(canvas, 260, horizon - 10.0f, 0x57A25);
  PaintMoon(canvas, 600.0f, 190.0f, 78.0f);
  PaintSea(canvas, horizon, 600.0f, 0x5EA);

  canvas.Text(title.get(), "Marlune", 70, 70, Rgb(248, 242, 255), 1.0f, 8, Rgb(150, 110, 255), 0.9f);
  PaintStepStrip(canvas, 78.0f, 190.0f, 14.0f, 0.85f);

  // The menu entries sit at window x 100, y 90..170 and the version label in the
  // bottom-left corner: the dark sea there is shaded a little further, with wide soft edges.
  canvas.Darken(60.0f, RowOf(200.0f), 460.0f, RowOf(70.0f), 0.7f, 40.0f);
  canvas.Darken(-40.0f, RowOf(24.0f), 170.0f, kScreenHeight + 40.0f, 0.7f, 24.0f);
  return canvas.SavePng(path);
}

bool WriteGameBackdrop(const std::string& path, const std::string& fontPath) {
  FontHandle title(fontPath, 34);
  if (!title.get()) return false;
  Canvas canvas(kScreenWidth, kScreenHeight);
  canvas.VerticalGradient({{0.0f, Rgb(18, 14, 40)}, {0.5f, Rgb(11, 10, 27)}, {1.0f, Rgb(5, 5, 13)}});

  // Faint grid of 25-pixel cells, one brighter line per 100 pixels.
  for (int x = 0; x <= kScreenWidth; x += 25) {
    const float alpha = x % 100 == 0 ? 0.10f : 0.05f;
    canvas.Line(x + 0.5f, 0.0f, x + 0.5f, static_cast<float>(kScreenHeight), 1.0f, Rgb(110, 100, 200), alpha);
  }
  for (int y = 0; y <= kScreenHeight; y += 25) {
    const float alpha = y % 100 == 0 ? 0.10f : 0.05f;
    canvas.Line(0.0f, y + 0.5f, static_cast<float>(kScreenWidth), y + 0.5f, 1.0f, Rgb(110, 100, 200), alpha);
  }

  // The free corner above the instrument pads, left of the chord pad, carries the emblem.
  PaintStars(canvas, 70, 200.0f, 0x6A3E);
  PaintMoon(canvas, 282.0f, 70.0f, 30.0f);
  int w = 0, h = 0;
  TTF_SizeUTF8(title.get(), "Marlune", &w, &h);
  canvas.Text(title.get(), "Marlune", 282 - w / 2, 118, Rgb(225, 215, 255), 0.75f, 5, Rgb(120, 90, 230), 0.6f);

  // Soft glow behind the pad groups so they stand out from the grid.
  canvas.Glow(300.0f, RowOf(210.0f), 420.0f, Rgb(60, 40, 120), 0.12f);
  canvas.Glow(700.0f, RowOf(200.0f), 260.0f, Rgb(40, 70, 120), 0.10f);

  // The pad labels (white 10-point text 2 pixels above each pad) and the version label
  // stay readable because everything below the emblem is dark; the tests measure it.
  return canvas.SavePng(path);
}

}  // namespace content
