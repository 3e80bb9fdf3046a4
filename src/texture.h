#pragma once
// An image decoded once, padded to power-of-two sides, turned upside down (so it stands
// upright with y up) and uploaded as an OpenGL texture. Main thread only.

struct Texture {
  // Loads the image at path; any failure ends the program through FatalError. On return the
  // new texture is bound to GL_TEXTURE_2D.
  void Load(const char* path);
  // Deletes the OpenGL texture.
  void Unload();

  unsigned int id = 0;   // OpenGL texture name
  int width = 0;         // image width, pixels
  int height = 0;        // image height, pixels
  int paddedWidth = 0;   // texture width: smallest power of two not below width
  int paddedHeight = 0;  // texture height: smallest power of two not below height
};
