#include "painter.h"

#include <SDL_image.h>

#include <algorithm>
#include <cmath>

namespace content {

namespace {

float Clamp01(float v) { return std::min(1.0f, std::max(0.0f, v)); }

// Coverage of a pixel centre at signed distance d (negative inside) from a shape edge.
float Coverage(float d) { return Clamp01(0.5f - d); }

// Three passes of a box blur approximate a Gaussian; used for text glows.
void BoxBlur(std::vector<float>& mask, int width, int height, int radius) {
  if (radius <= 0) return;
  std::vector<float> tmp(mask.size());
  for (int pass = 0; pass < 3; ++pass) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        float sum = 0.0f;
        for (int k = -radius; k <= radius; ++k) {
          const int xx = x + k;
          if (xx >= 0 && xx < width) sum += mask[static_cast<size_t>(y) * width + xx];
        }
        tmp[static_cast<size_t>(y) * width + x] = sum / (2 * radius + 1);
      }
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        float sum = 0.0f;
        for (int k = -radius; k <= radius; ++k) {
          const int yy = y + k;
          if (yy >= 0 && yy < height) sum += tmp[static_cast<size_t>(yy) * width + x];
        }
        mask[static_cast<size_t>(y) * width + x] = sum / (2 * radius + 1);
      }
  }
}

}  // namespace

Colour Rgb(int r, int g, int b) { return {r / 255.0f, g / 255.0f, b / 255.0f}; }

Colour Mix(Colour a, Colour b, float t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Canvas::Canvas(int width, int height)
    : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height * 3, 0.0f) {}

void Canvas::VerticalGradient(const std::vector<std::pair<float, Colour>>& stops) {
  for (int y = 0; y < height_; ++y) {
    const float t = height_ > 1 ? static_cast<float>(y) / (height_ - 1) : 0.0f;
    Colour c = stops.front().second;
    for (size_t i = 1; i < stops.size(); ++i) {
      if (t <= stops[i].first) {
        const float span = stops[i].first - stops[i - 1].first;
        const float u = span > 0.0f ? (t - stops[i - 1].first) / span : 1.0f;
        // Smooth step between stops hides the joints.
        c = Mix(stops[i - 1].second, stops[i].second, u * u * (3.0f - 2.0f * u));
        break;
      }
      c = stops[i].second;
    }
    for (int x = 0; x < width_; ++x) {
      Channel(x, y, 0) = c.r;
      Channel(x, y, 1) = c.g;
      Channel(x, y, 2) = c.b;
    }
  }
}

void Canvas::Glow(float cx, float cy, float radius, Colour colour, float strength) {
  const int x0 = std::max(0, static_cast<int>(cx - radius)), x1 = std::min(width_ - 1, static_cast<int>(cx + radius));
  const int y0 = std::max(0, static_cast<int>(cy - radius)), y1 = std::min(height_ - 1, static_cast<int>(cy + radius));
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) {
      const float d = std::hypot(x + 0.5f - cx, y + 0.5f - cy) / radius;
      if (d >= 1.0f) continue;
      const float falloff = (1.0f - d) * (1.0f - d);
      const float k = strength * falloff * falloff;
      Channel(x, y, 0) += colour.r * k;
      Channel(x, y, 1) += colour.g * k;
      Channel(x, y, 2) += colour.b * k;
    }
}

void Canvas::Disc(float cx, float cy, float radius, Colour colour, float alpha) {
  const int x0 = std::max(0, static_cast<int>(cx - radius - 1)), x1 = std::min(width_ - 1, static_cast<int>(cx + radius + 1));
  const int y0 = std::max(0, static_cast<int>(cy - radius - 1)), y1 = std::min(height_ - 1, static_cast<int>(cy + radius + 1));
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) {
      const float d = std::hypot(x + 0.5f - cx, y + 0.5f - cy) - radius;
      const float cov = Coverage(d);
      if (cov > 0.0f) Blend(x, y, colour, alpha * cov);
    }
}

void Canvas::RoundedRect(float x0, float y0, float x1, float y1, float radius, Colour colour, float alpha) {
  const float cx = 0.5f * (x0 + x1), cy = 0.5f * (y0 + y1);
  const float hx = 0.5f * (x1 - x0) - radius, hy = 0.5f * (y1 - y0) - radius;
  for (int y = std::max(0, static_cast<int>(y0) - 1); y <= std::min(height_ - 1, static_cast<int>(y1) + 1); ++y)
    for (int x = std::max(0, static_cast<int>(x0) - 1); x <= std::min(width_ - 1, static_cast<int>(x1) + 1); ++x) {
      const float qx = std::fabs(x + 0.5f - cx) - hx, qy = std::fabs(y + 0.5f - cy) - hy;
      const float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
      const float d = outside + std::min(std::max(qx, qy), 0.0f) - radius;
      const float cov = Coverage(d);
      if (cov > 0.0f) Blend(x, y, colour, alpha * cov);
    }
}

void Canvas::Line(float x0, float y0, float x1, float y1, float width, Colour colour, float alpha) {
  const float half = 0.5f * width;
  const int bx0 = std::max(0, static_cast<int>(std::min(x0, x1) - half - 1));
  const int bx1 = std::min(width_ - 1, static_cast<int>(std::max(x0, x1) + half + 1));
  const int by0 = std::max(0, static_cast<int>(std::min(y0, y1) - half - 1));
  const int by1 = std::min(height_ - 1, static_cast<int>(std::max(y0, y1) + half + 1));
  const float dx = x1 - x0, dy = y1 - y0;
  const float lengthSq = std::max(dx * dx + dy * dy, 1e-6f);
  for (int y = by0; y <= by1; ++y)
    for (int x = bx0; x <= bx1; ++x) {
      const float px = x + 0.5f - x0, py = y + 0.5f - y0;
      const float t = Clamp01((px * dx + py * dy) / lengthSq);
      const float d = std::hypot(px - t * dx, py - t * dy) - half;
      const float cov = Coverage(d);
      if (cov > 0.0f) Blend(x, y, colour, alpha * cov);
    }
}

void Canvas::Darken(float x0, float y0, float x1, float y1, float factor, float feather) {
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x) {
      const float px = x + 0.5f, py = y + 0.5f;
      const float inside = std::min(std::min(px - x0, x1 - px), std::min(py - y0, y1 - py));
      const float w = feather > 0.0f ? Clamp01(inside / feather + 0.5f) : (inside > 0.0f ? 1.0f : 0.0f);
      if (w <= 0.0f) continue;
      const float k = 1.0f - (1.0f - factor) * w;
      for (int c = 0; c < 3; ++c) Channel(x, y, c) *= k;
    }
}

int Canvas::Text(TTF_Font* font, const std::string& text, int x, int y, Colour colour, float alpha, int glowRadius,
                 Colour glowColour, float glowAlpha) {
  SDL_Color white = {255, 255, 255, 255};
  SDL_Surface* rendered = TTF_RenderUTF8_Blended(font, text.c_str(), white);
  if (!rendered) return 0;
  SDL_Surface* glyphs = SDL_ConvertSurfaceFormat(rendered, SDL_PIXELFORMAT_ARGB8888, 0);
  SDL_FreeSurface(rendered);
  if (!glyphs) return 0;
  const int pad = glowRadius * 3;
  const int w = glyphs->w + 2 * pad, h = glyphs->h + 2 * pad;
  std::vector<float> mask(static_cast<size_t>(w) * h, 0.0f);
  SDL_LockSurface(glyphs);
  for (int gy = 0; gy < glyphs->h; ++gy) {
    const Uint32* row = reinterpret_cast<const Uint32*>(static_cast<const Uint8*>(glyphs->pixels) + gy * glyphs->pitch);
    for (int gx = 0; gx < glyphs->w; ++gx)
      mask[static_cast<size_t>(gy + pad) * w + gx + pad] = static_cast<float>((row[gx] >> 24) & 0xFF) / 255.0f;
  }
  SDL_UnlockSurface(glyphs);
  const int renderedWidth = glyphs->w;
  SDL_FreeSurface(glyphs);

  if (glowRadius > 0 && glowAlpha > 0.0f) {
    std::vector<float> glow = mask;
    BoxBlur(glow, w, h, glowRadius);
    for (int my = 0; my < h; ++my)
      for (int mx = 0; mx < w; ++mx) {
        const float a = glow[static_cast<size_t>(my) * w + mx] * glowAlpha;
        if (a > 0.0f) Blend(x - pad + mx, y - pad + my, glowColour, std::min(1.0f, a));
      }
  }
  for (int my = 0; my < h; ++my)
    for (int mx = 0; mx < w; ++mx) {
      const float a = mask[static_cast<size_t>(my) * w + mx] * alpha;
      if (a > 0.0f) Blend(x - pad + mx, y - pad + my, colour, a);
    }
  return renderedWidth;
}

void Canvas::Blend(int x, int y, Colour colour, float alpha) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  alpha = Clamp01(alpha);
  Channel(x, y, 0) += (colour.r - Channel(x, y, 0)) * alpha;
  Channel(x, y, 1) += (colour.g - Channel(x, y, 1)) * alpha;
  Channel(x, y, 2) += (colour.b - Channel(x, y, 2)) * alpha;
}

Colour Canvas::Get(int x, int y) const {
  x = std::clamp(x, 0, width_ - 1);
  y = std::clamp(y, 0, height_ - 1);
  const size_t i = (static_cast<size_t>(y) * width_ + x) * 3;
  return {pixels_[i], pixels_[i + 1], pixels_[i + 2]};
}

float Canvas::MeanLuma(int x0, int y0, int x1, int y1) const {
  double sum = 0.0;
  int count = 0;
  for (int y = std::max(0, y0); y < std::min(height_, y1); ++y)
    for (int x = std::max(0, x0); x < std::min(width_, x1); ++x) {
      const Colour c = Get(x, y);
      sum += 0.299 * Clamp01(c.r) + 0.587 * Clamp01(c.g) + 0.114 * Clamp01(c.b);
      ++count;
    }
  return count ? static_cast<float>(sum / count) : 0.0f;
}

SDL_Surface* Canvas::ToSurface() const {
  // 4 x 4 ordered dither keeps the long gradients free of bands.
  static const int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormat(0, width_, height_, 24, SDL_PIXELFORMAT_RGB24);
  if (!surface) return nullptr;
  SDL_LockSurface(surface);
  for (int y = 0; y < height_; ++y) {
    Uint8* row = static_cast<Uint8*>(surface->pixels) + y * surface->pitch;
    for (int x = 0; x < width_; ++x) {
      const float offset = (kBayer[y & 3][x & 3] + 0.5f) / 16.0f;
      for (int c = 0; c < 3; ++c) {
        const float v = Clamp01(pixels_[(static_cast<size_t>(y) * width_ + x) * 3 + c]) * 255.0f;
        row[x * 3 + c] = static_cast<Uint8>(std::min(255.0f, std::floor(v + offset)));
      }
    }
  }
  SDL_UnlockSurface(surface);
  return surface;
}

bool Canvas::SavePng(const std::string& path) const {
  SDL_Surface* surface = ToSurface();
  if (!surface) return false;
  const bool ok = IMG_SavePNG(surface, path.c_str()) == 0;
  SDL_FreeSurface(surface);
  return ok;
}

}  // namespace content
