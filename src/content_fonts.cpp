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
  menuBackdropTexture.Load("MarluneContent/img/backdrop_main_menu.png");
  menuBackdrop.Initialize(&menuBackdropTexture, 0, 0, 800, 600, 0, 0);
  gameBackdropTexture.Load("MarluneContent/img/backdrop_game.png");
  gameBackdrop.Initialize(&gameBackdropTexture, 0, 0, 800, 600, 0, 0);
}

void ContentFonts::Unload() {
  TTF_CloseFont(smallFont);
  TTF_CloseFont(mediumFont);
  TTF_CloseFont(largeFont);
  menuBackdropTexture.Unload();
  gameBackdropTexture.Unload();
}

void RenderText(TTF_Font* font, SDL_Color color, float x, float y, std::string text) {
  draw::Text(font, color, x, y, text.data(), text.size());
}
