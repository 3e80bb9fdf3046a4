#pragma once
// The window's picture, kept off screen between frames: a framebuffer object of the window's
// size and colour format (EXT_framebuffer_object), copied to the window's back buffer with a
// framebuffer blit (EXT_framebuffer_blit) before each buffer swap. The window's back buffer
// holds nothing defined after a swap, so a picture that is to be changed in places only must
// live here: the frame loop redraws the changed rectangles into it and copies the whole of it
// to the window.
//
// The picture is kept upside down, rows counted from the top as a window's are in memory,
// and drawn with the clip origin at the upper left (ARB_clip_control): a rasteriser then
// meets exactly the coordinates and edge rules it meets drawing into the window, so the
// picture is the window's pixel for pixel (drawn upright, texture lookups can round the other
// way on an edge). The copy turns it the right way up. Scissor rectangles, in window pixels,
// must be turned as well (Scissor).
//
// Where the OpenGL implementation lacks one of the extensions, or its framebuffer cannot
// match the window's pixels (not 8 bits per colour), Bind reports false and the caller draws
// every frame in full into the window as before.
//
// Main thread only, with the OpenGL context current.

#include <SDL_opengl.h>

class PictureBuffer {
 public:
  // Makes the picture the target of drawing, creating it (width × height, window pixels) on
  // first use. False, with the window's framebuffer left bound, when it cannot exist.
  bool Bind(int width, int height);
  // Makes the window's back buffer the target of drawing again.
  void Unbind() const;
  // glScissor for the window pixels x, y, width, height while the picture is bound.
  void Scissor(int x, int y, int width, int height) const;
  // Copies the whole picture into the window's back buffer, pixel for pixel.
  void CopyToWindow() const;
  // Deletes the framebuffer and its storage; the next Bind creates them again.
  void Release();

 private:
  bool Create(int width, int height);

  enum class Status { kUntried, kReady, kUnavailable };
  Status status_ = Status::kUntried;
  int width_ = 0;   // pixels
  int height_ = 0;  // pixels
  GLuint framebuffer_ = 0;
  GLuint colour_ = 0;  // renderbuffer
  PFNGLGENFRAMEBUFFERSEXTPROC genFramebuffers_ = nullptr;
  PFNGLDELETEFRAMEBUFFERSEXTPROC deleteFramebuffers_ = nullptr;
  PFNGLBINDFRAMEBUFFEREXTPROC bindFramebuffer_ = nullptr;
  PFNGLFRAMEBUFFERRENDERBUFFEREXTPROC framebufferRenderbuffer_ = nullptr;
  PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC checkFramebufferStatus_ = nullptr;
  PFNGLGENRENDERBUFFERSEXTPROC genRenderbuffers_ = nullptr;
  PFNGLDELETERENDERBUFFERSEXTPROC deleteRenderbuffers_ = nullptr;
  PFNGLBINDRENDERBUFFEREXTPROC bindRenderbuffer_ = nullptr;
  PFNGLRENDERBUFFERSTORAGEEXTPROC renderbufferStorage_ = nullptr;
  PFNGLBLITFRAMEBUFFEREXTPROC blitFramebuffer_ = nullptr;
  PFNGLCLIPCONTROLPROC clipControl_ = nullptr;
};
