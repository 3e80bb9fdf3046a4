#pragma once
// Textures of rendered texts, one per (font, colour, text), made on first use and kept for
// later frames. The cache holds at most kCapacity textures; when a new text would exceed that,
// the one used least recently is deleted (the program's screens show fewer than a hundred
// different texts, so in play nothing is evicted and nothing is rendered twice).
// Main thread only, with the OpenGL context current.

#include <SDL.h>
#include <SDL_ttf.h>

#include <cstddef>
#include <string>
#include <unordered_map>

class TextCache {
 public:
  static constexpr size_t kCapacity = 128;

  struct Entry {
    unsigned int id = 0;      // OpenGL texture name; 0 when the text could not be rendered
    int width = 0;            // texture width, pixels (a power of two)
    int height = 0;           // texture height, pixels (a power of two)
    unsigned long lastUse = 0;
  };

  // The texture of text (length characters, plain ASCII) in font and colour, rendered with
  // full alpha and uploaded with nearest filtering on first use.
  const Entry& Get(TTF_Font* font, SDL_Color color, const char* text, size_t length);
  // Deletes every texture.
  void Release();
  // Number of texts rendered and uploaded so far.
  unsigned long Uploads() const { return uploads_; }

 private:
  Entry Make(TTF_Font* font, SDL_Color color) const;
  void EvictLeastRecent();

  std::unordered_map<std::string, Entry> entries_;
  std::string key_;  // reused for lookups: font pointer, red, green, blue, characters
  unsigned long uses_ = 0;
  unsigned long uploads_ = 0;
};
