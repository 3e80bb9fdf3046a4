#pragma once
// A rectangle cut out of a texture, drawn as one textured quad anchored at a point of its own.
// Main thread only.

struct Texture;

struct Sprite {
  // Stores the texture (not owned), the source rectangle in image pixels (from the image's
  // bottom-left) and the anchor point (from the sprite's bottom-left).
  void Initialize(Texture* texture, int sourceX, int sourceY, int width, int height,
                  int originX, int originY);
  // Draws opaque with the anchor at (x, y) window pixels, rotated by angle degrees.
  void Draw(float x, float y, float angle) const;
  // Draws with overall opacity alpha (0 to 1).
  void DrawTranslucent(float x, float y, float alpha, float angle) const;
  // Draws, then washes the sprite towards (red, green, blue) by amount (0 to 1).
  void DrawTinted(float x, float y, float angle, float red, float green, float blue,
                  float amount) const;

  Texture* texture = nullptr;
  int sourceX = 0;
  int sourceY = 0;
  int width = 0;
  int height = 0;
  int originX = 0;
  int originY = 0;

 private:
  // Binds the texture, sets the colour to (1, 1, 1, alpha) and emits the quad.
  void Quad(float x, float y, float alpha, float angle, bool fog, const float* fogColor) const;
};
