// The drawing and numeric toolkit: small helpers at their edges, sprites as the draw calls they
// make (anchor rounded to a whole pixel, rotation about the anchor, the tint's fog), and the
// message for an image the program cannot upload.

#include <gtest/gtest.h>

#include <SDL_image.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common.h"
#include "sprite.h"
#include "test_support.h"
#include "texture.h"

namespace {

TEST(Toolkit, NumericHelpersAtTheirEdges) {
  const struct { int value, want; } clamps[] = {{5, 2}, {-1, 0}, {1, 1}, {0, 0}, {2, 2}};
  for (const auto& c : clamps) EXPECT_EQ(clamp(c.value, 0, 2), c.want) << c.value;
  const struct { float value, want; } clampfs[] = {{-0.5f, 0.0f}, {0.25f, 0.25f}, {1.5f, 1.0f}};
  for (const auto& c : clampfs) EXPECT_EQ(clampf(c.value, 0.0f, 1.0f), c.want) << c.value;
  const struct { float t; int want; } blends[] = {{0.5f, 127}, {-3.0f, 0}, {7.0f, 255}, {0.25f, 63}};
  for (const auto& c : blends) {
    const SDL_Color got = ColorBlend({0, 0, 0, 255}, {255, 255, 255, 255}, c.t);
    EXPECT_TRUE(got.r == c.want && got.g == c.want && got.b == c.want && got.a == 0) << c.t;
  }
  const SDL_Color mixed = ColorBlend({200, 0, 100, 0}, {0, 100, 100, 0}, 0.5f);
  EXPECT_TRUE(mixed.r == 100 && mixed.g == 50 && mixed.b == 100) << "each channel on its own";
  float x = 3.0f, y = 4.0f, zx = 0.0f, zy = 0.0f;
  NormalizeVector(&x, &y, 10.0f);
  NormalizeVector(&zx, &zy, 10.0f);
  EXPECT_TRUE(x == 6.0f && y == 8.0f && zx == 0.0f && zy == 0.0f);
  EXPECT_FLOAT_EQ(Distance(1.0f, 1.0f, 4.0f, 5.0f), 5.0f);
  std::srand(7);
  float low = 3.0f, high = 3.0f;
  for (int i = 0; i < 2000; ++i) {
    const float r = RandomFloat(3.0f, 5.0f);
    low = std::min(low, r), high = std::max(high, r);
  }
  EXPECT_TRUE(low >= 3.0f && low < 3.01f && high <= 5.0f && high > 4.99f) << low << " " << high;
  // Textures are padded to powers of two.
  const struct { int n, want; } pads[] = {{0, 1}, {1, 1}, {2, 2}, {3, 4}, {4, 4}, {5, 8},
                                          {600, 1024}, {1024, 1024}, {1025, 2048}};
  for (const auto& c : pads) EXPECT_EQ(PadToPowerOfTwo(c.n), c.want) << c.n;
}

// A 20 x 10 sprite cut at (8, 4) of a 64 x 32 texture, anchored 5 right and 2 up of its corner.
TEST(Toolkit, SpritesAnchorOnWholePixelsRotateAboutTheAnchorAndTintByFog) {
  Texture texture;
  texture.id = 9, texture.paddedWidth = 64, texture.paddedHeight = 32;
  Sprite sprite;
  sprite.Initialize(&texture, 8, 4, 20, 10, 5, 2);
  const struct { float x, y, angle; const char* corners; } cases[] = {
      {100.5f, 50.49f, 0.0f, "Vertex 96 48\nVertex 116 48\nVertex 116 58\nVertex 96 58"},
      {-0.5f, 0.0f, 0.0f, "Vertex -5 -2\nVertex 15 -2\nVertex 15 8\nVertex -5 8"},
      {0.0f, 0.5f, 0.0f, "Vertex -5 -1\nVertex 15 -1\nVertex 15 9\nVertex -5 9"},
      {100.0f, 50.0f, 90.0f, "Vertex 102 45\nVertex 102 65\nVertex 92 65\nVertex 92 45"},
      {100.0f, 50.0f, 45.0f, "Vertex 98 45\nVertex 112 59\nVertex 105 66\nVertex 91 52"},
  };
  for (const auto& c : cases) {
    const std::string drawn = Drawn([&] { sprite.Draw(c.x, c.y, c.angle); });
    std::string corners;
    for (size_t at = drawn.find("Vertex"); at != std::string::npos; at = drawn.find("Vertex", at + 1)) {
      std::string v = drawn.substr(at, drawn.find('\n', at) - at);
      // Rotated corners land within a rounding error of whole pixels.
      float vx, vy;
      if (std::sscanf(v.c_str(), "Vertex %f %f", &vx, &vy) == 2) {
        v = "Vertex " + std::to_string(std::lround(vx)) + " " + std::to_string(std::lround(vy));
      }
      corners += (corners.empty() ? "" : "\n") + v;
    }
    EXPECT_EQ(corners, c.corners) << c.x << " " << c.y << " at " << c.angle << " degrees";
    EXPECT_NE(drawn.find("TexCoord 0.125 0.125"), std::string::npos) << drawn;
    EXPECT_NE(drawn.find("TexCoord 0.4375 0.4375"), std::string::npos) << drawn;
  }
  const std::string plain = Drawn([&] { sprite.Draw(0, 0, 0); });
  const std::string tinted = Drawn([&] { sprite.DrawTinted(0, 0, 0, 1.0f, 0.5f, 0.0f, 0.25f); });
  EXPECT_EQ(plain.find("Fog"), std::string::npos);
  EXPECT_EQ(tinted.substr(0, plain.size()), plain) << "the sprite first, as drawn untinted";
  for (const char* fog : {"FogColor 1 0.5 0 0.25", "FOG_START -0.25", "FOG_END 0.75", "Color 1 1 1 0.25",
                          "Disable FOG"}) {
    EXPECT_NE(tinted.find(fog, plain.size()), std::string::npos) << fog << " in\n" << tinted;
  }
}

// An image that decodes but cannot be padded for upload (a paletted PNG, which our content never
// holds): the message names the file, and the program ends with status 1.
TEST(Toolkit, AnImageThatCannotBePaddedIsAClearError) {
  const std::string path = MakeTempDir() + "/paletted.png";
  SDL_Surface* image = SDL_CreateRGBSurfaceWithFormat(0, 4, 4, 8, SDL_PIXELFORMAT_INDEX8);
  ASSERT_TRUE(image != nullptr && IMG_SavePNG(image, path.c_str()) == 0);
  SDL_FreeSurface(image);
  Texture texture;
  EXPECT_EXIT(texture.Load(path.c_str()), testing::ExitedWithCode(1),
              "^Error:Couldn't pad image file: " + path + "\n$");
}

}  // namespace
