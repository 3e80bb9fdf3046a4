#include "sprite.h"

#include <cmath>

#include "draw_list.h"
#include "texture.h"

void Sprite::Initialize(Texture* texture_, int sourceX_, int sourceY_, int width_, int height_,
                        int originX_, int originY_) {
  texture = texture_;
  sourceX = sourceX_;
  sourceY = sourceY_;
  width = width_;
  height = height_;
  originX = originX_;
  originY = originY_;
}

void Sprite::Draw(float x, float y, float angle) const { DrawTranslucent(x, y, 1.0f, angle); }

void Sprite::DrawTranslucent(float x, float y, float alpha, float angle) const {
  Quad(x, y, alpha, angle, false, nullptr);
  draw::Disable(GL_TEXTURE_2D);
}

void Sprite::DrawTinted(float x, float y, float angle, float red, float green, float blue,
                        float amount) const {
  DrawTranslucent(x, y, 1.0f, angle);
  const float fogColor[4] = {red, green, blue, amount};
  Quad(x, y, amount, angle, true, fogColor);
  draw::Disable(GL_TEXTURE_2D);
  draw::Disable(GL_FOG);
}

void Sprite::Quad(float x, float y, float alpha, float angle, bool fog,
                  const float* fogColor) const {
  const float ax = std::floor(x + 0.5f);
  const float ay = std::floor(y + 0.5f);
  draw::BindTexture(texture->id);
  // Unrotated, the quad lies on whole pixels and is exactly as large as its source, so every
  // pixel centre meets a texel centre, where linear filtering returns that texel alone:
  // nearest filtering gives the same pixels for a fraction of the software rasteriser's work.
  const bool rotated = angle != 0.0f || std::isnan(angle);
  draw::TextureFilter(rotated ? GL_LINEAR : GL_NEAREST);
  draw::Enable(GL_TEXTURE_2D);
  draw::Enable(GL_BLEND);
  draw::BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  draw::Color(1.0f, 1.0f, 1.0f, alpha);
  draw::PolygonMode(GL_FRONT_AND_BACK, GL_FILL);

  const float s0 = static_cast<float>(sourceX) / texture->paddedWidth;
  const float s1 = s0 + static_cast<float>(width) / texture->paddedWidth;
  const float t0 = static_cast<float>(sourceY) / texture->paddedHeight;
  const float t1 = t0 + static_cast<float>(height) / texture->paddedHeight;

  const float left = ax - originX;
  const float right = left + width;
  const float bottom = ay - originY;
  const float top = bottom + height;
  float corners[4][2] = {{left, bottom}, {right, bottom}, {right, top}, {left, top}};
  if (rotated) {
    const float theta = angle * 3.14159274f / 180.0f;
    const float s = std::sin(theta);
    const float c = std::cos(theta);
    for (auto& corner : corners) {
      const float px = corner[0] - ax;
      const float py = corner[1] - ay;
      corner[0] = ax + c * px - s * py;
      corner[1] = ay + s * px + c * py;
    }
  }

  if (fog) {
    draw::Fogi(GL_FOG_MODE, GL_LINEAR);
    draw::FogColor(fogColor);
    draw::Fogf(GL_FOG_DENSITY, 1.0f);
    draw::Fogf(GL_FOG_START, -fogColor[3]);
    draw::Fogf(GL_FOG_END, 1.0f - fogColor[3]);
    draw::Hint(GL_FOG_HINT, GL_FASTEST);
    draw::Enable(GL_FOG);
  }
  const float texCoords[4][2] = {{s0, t0}, {s1, t0}, {s1, t1}, {s0, t1}};
  draw::Begin(GL_QUADS);
  for (int i = 0; i < 4; ++i) {
    draw::TexCoord(texCoords[i][0], texCoords[i][1]);
    draw::Vertex(corners[i][0], corners[i][1], 0.0f);
  }
  draw::End();
}
