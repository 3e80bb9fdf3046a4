#include "texture.h"

#include <SDL.h>
#include <SDL_image.h>
#include <SDL_opengl.h>

#include <string>

#include "common.h"

void Texture::Load(const char* path) {
  SDL_Surface* decoded = IMG_Load(path);
  if (decoded == nullptr) FatalError(std::string("Couldn't load image file: ") + path);
  width = decoded->w;
  height = decoded->h;
  SDL_Surface* padded = SDL_CreateRGBSurface(
      0, PadToPowerOfTwo(width), PadToPowerOfTwo(height), decoded->format->BitsPerPixel,
      0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000);
  if (padded == nullptr || !VerticalFlip(decoded, padded)) {
    FatalError(std::string("Couldn't pad image file: ") + path);
  }
  paddedWidth = padded->w;
  paddedHeight = padded->h;
  GLenum format = 0;
  switch (padded->format->BytesPerPixel) {
    case 3: format = GL_RGB; break;
    case 4: format = GL_RGBA; break;
    default: FatalError(std::string("Unrecognized image file format for ") + path);
  }
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexImage2D(GL_TEXTURE_2D, 0, format, paddedWidth, paddedHeight, 0, format, GL_UNSIGNED_BYTE,
               padded->pixels);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  SDL_FreeSurface(decoded);
  SDL_FreeSurface(padded);
  id = name;
}

void Texture::Unload() {
  GLuint name = id;
  glDeleteTextures(1, &name);
}
