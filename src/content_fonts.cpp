#include "content_fonts.h"

#include "common.h"
#include "draw_list.h"

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
  draw::Text(font, color, x, y, text.data(), text.size());
}
