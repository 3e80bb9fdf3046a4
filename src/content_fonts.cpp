#include "content_fonts.h"

#include <SDL_opengl.h>

#include "common.h"

ContentFonts content;

namespace {
constexpr const char* kFontPath = "MarluneContent/font/segoeuimono.ttf";

TTF_Font* OpenFont(int points) {
  TTF_Font* font = TTF_OpenFont(kFontPath, points);
  if (font == nullptr) FatalError(std::string("Couldn't load ") + kFontPath);
  return font;
}
}  // namespace

void ContentFonts::Load() {
  smallFont = OpenFont(10);
  mediumFont = OpenFont(12);
  largeFont = OpenFont(20);
}

void RenderText(TTF_Font* font, SDL_Color color, float x, float y, std::string text) {
  if (text.empty() || font == nullptr) return;
  // Callers pass colours with alpha 0; the glyphs are opaque in the given colour.
  color.a = 255;
  SDL_Surface* rendered = TTF_RenderText_Blended(font, text.c_str(), color);
  if (rendered == nullptr) return;
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  const int w = PadToPowerOfTwo(rendered->w);
  const int h = PadToPowerOfTwo(rendered->h);
  SDL_Surface* padded =
      SDL_CreateRGBSurface(0, w, h, 32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000);
  if (padded == nullptr) {
    SDL_FreeSurface(rendered);
    glDisable(GL_BLEND);
    return;
  }
  VerticalFlip(rendered, padded);
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexImage2D(GL_TEXTURE_2D, 0, 4, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, padded->pixels);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glEnable(GL_TEXTURE_2D);
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
  glBegin(GL_QUADS);
  glTexCoord2f(0.0f, 0.0f);
  glVertex2f(x, y);
  glTexCoord2f(1.0f, 0.0f);
  glVertex2f(x + w, y);
  glTexCoord2f(1.0f, 1.0f);
  glVertex2f(x + w, y + h);
  glTexCoord2f(0.0f, 1.0f);
  glVertex2f(x, y + h);
  glEnd();
  glDisable(GL_BLEND);
  SDL_FreeSurface(rendered);
  SDL_FreeSurface(padded);
  glDeleteTextures(1, &name);
}
