// A small software painter for the generated pictures: a floating-point RGB canvas with
// gradients, glows, anti-aliased shapes and text from SDL_ttf, saved through SDL2_image.
// Coordinates are image pixels with row 0 at the top of the picture.
#pragma once

#include <string>
#include <vector>

#include <SDL.h>
#include <SDL_ttf.h>

namespace content {

struct Colour {
  float r, g, b;  // 0..1
};

// Colour from 8-bit components.
Colour Rgb(int r, int g, int b);
// Linear mix of two colours, t from 0 (a) to 1 (b).
Colour Mix(Colour a, Colour b, float t);

class Canvas {
 public:
  Canvas(int width, int height);

  int Width() const { return width_; }
  int Height() const { return height_; }

  // Fills the canvas with a top-to-bottom gradient through the stops (position 0 top .. 1 bottom).
  void VerticalGradient(const std::vector<std::pair<float, Colour>>& stops);
  // Adds light around a point: strength at the centre, falling off smoothly to zero at `radius` pixels.
  void Glow(float cx, float cy, float radius, Colour colour, float strength);
  // Anti-aliased filled circle blended over the canvas with opacity `alpha`.
  void Disc(float cx, float cy, float radius, Colour colour, float alpha);
  // Anti-aliased rounded rectangle from (x0, y0) to (x1, y1) blended with opacity `alpha`.
  void RoundedRect(float x0, float y0, float x1, float y1, float radius, Colour colour, float alpha);
  // Anti-aliased line of the given width in pixels, blended with opacity `alpha`.
  void Line(float x0, float y0, float x1, float y1, float width, Colour colour, float alpha);
  // Multiplies the colours inside a rectangle by `factor` with soft edges `feather` pixels wide.
  void Darken(float x0, float y0, float x1, float y1, float factor, float feather);
  // Draws text with its box's top-left corner at (x, y); an optional glow blurs the glyphs
  // by `glowRadius` pixels underneath. Returns the rendered width in pixels.
  int Text(TTF_Font* font, const std::string& text, int x, int y, Colour colour, float alpha,
           int glowRadius = 0, Colour glowColour = {0, 0, 0}, float glowAlpha = 0.0f);
  // Blends one pixel with opacity `alpha`; pixels outside the canvas are ignored.
  void Blend(int x, int y, Colour colour, float alpha);
  // Colour of one pixel (clamped to the canvas).
  Colour Get(int x, int y) const;
  // Mean brightness (0..1, Rec. 601 luma) of a rectangle, clamped to the canvas.
  float MeanLuma(int x0, int y0, int x1, int y1) const;
  // Converts to a 24-bit surface with ordered dithering; the caller frees it.
  SDL_Surface* ToSurface() const;
  // Writes the canvas as a 24-bit PNG. Returns false with SDL's error set on failure.
  bool SavePng(const std::string& path) const;

 private:
  float& Channel(int x, int y, int c) { return pixels_[(static_cast<size_t>(y) * width_ + x) * 3 + c]; }
  int width_;
  int height_;
  std::vector<float> pixels_;
};

}  // namespace content
