#pragma once
// The fonts and backdrops the program draws with, and the one text-drawing function.
// Main thread only.

#include <SDL.h>
#include <SDL_ttf.h>

#include <string>

#include "sprite.h"
#include "texture.h"

struct ContentFonts {
  // Opens the font at 10, 12 and 20 points, then loads the menu's and the game's backdrops;
  // failure ends the program through FatalError. Needs the OpenGL context.
  void Load();
  // Closes the three fonts and unloads the two backdrops: everything Load made.
  void Unload();

  TTF_Font* smallFont = nullptr;   // 10 points: labels and the version label
  TTF_Font* mediumFont = nullptr;  // 12 points
  TTF_Font* largeFont = nullptr;   // 20 points: menu entries
  Texture menuBackdropTexture;
  Sprite menuBackdrop;
  Texture gameBackdropTexture;
  Sprite gameBackdrop;
};

extern ContentFonts content;

// Draws text with the lower-left corner of its rendered box at (x, y), window pixels, through
// the frame's draw list (draw::Text): each (font, colour, text) is rendered and uploaded once.
// An empty text draws nothing and changes no OpenGL state.
void RenderText(TTF_Font* font, SDL_Color color, float x, float y, std::string text);
