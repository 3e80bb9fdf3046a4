#include "text_cache.h"

#include <SDL_opengl.h>

#include "common.h"

const TextCache::Entry& TextCache::Get(TTF_Font* font, SDL_Color color, const char* text,
                                       size_t length) {
  key_.assign(reinterpret_cast<const char*>(&font), sizeof font);
  key_.push_back(static_cast<char>(color.r));
  key_.push_back(static_cast<char>(color.g));
  key_.push_back(static_cast<char>(color.b));
  key_.append(text, length);
  ++uses_;
  auto found = entries_.find(key_);
  if (found == entries_.end()) {
    if (entries_.size() >= kCapacity) EvictLeastRecent();
    found = entries_.emplace(key_, Make(font, color)).first;
    ++uploads_;
  }
  found->second.lastUse = uses_;
  return found->second;
}

TextCache::Entry TextCache::Make(TTF_Font* font, SDL_Color color) const {
  Entry entry;
  // The characters follow the font pointer and the three colour bytes in the key.
  const std::string text = key_.substr(sizeof font + 3);
  // Callers pass colours with alpha 0; the glyphs are opaque in the given colour.
  color.a = 255;
  SDL_Surface* rendered = TTF_RenderText_Blended(font, text.c_str(), color);
  if (rendered == nullptr) return entry;
  const int w = PadToPowerOfTwo(rendered->w);
  const int h = PadToPowerOfTwo(rendered->h);
  SDL_Surface* padded =
      SDL_CreateRGBSurface(0, w, h, 32, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000);
  if (padded == nullptr) {
    SDL_FreeSurface(rendered);
    return entry;
  }
  VerticalFlip(rendered, padded);
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexImage2D(GL_TEXTURE_2D, 0, 4, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, padded->pixels);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  SDL_FreeSurface(rendered);
  SDL_FreeSurface(padded);
  entry.id = name;
  entry.width = w;
  entry.height = h;
  return entry;
}

void TextCache::EvictLeastRecent() {
  auto oldest = entries_.begin();
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->second.lastUse < oldest->second.lastUse) oldest = it;
  }
  if (oldest == entries_.end()) return;
  GLuint name = oldest->second.id;
  if (name != 0) glDeleteTextures(1, &name);
  entries_.erase(oldest);
}

void TextCache::Release() {
  for (auto& [key, entry] : entries_) {
    GLuint name = entry.id;
    if (name != 0) glDeleteTextures(1, &name);
  }
  entries_.clear();
}
