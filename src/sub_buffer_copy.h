#pragma once
// Puts rectangles of the window's back buffer on screen without swapping the buffers
// (GLX_MESA_copy_sub_buffer, offered by Mesa's software rasteriser among others). The back
// buffer then keeps its picture from frame to frame, as nothing but the program draws into it,
// so a frame can be drawn and shown in the changed places only: the frame loop draws the
// changed rectangles into the back buffer and copies just those to the window.
//
// Open reports false where the window is not drawn through GLX or the extension is missing;
// the caller then keeps the picture elsewhere (picture_buffer.h).
//
// Main thread only, with the window's OpenGL context current.

class SubBufferCopy {
 public:
  // Looks up the current GLX context's display and drawable and the copy function; false
  // when they are not there.
  bool Open();
  // Copies the back buffer's rectangle x, y, width, height (window pixels, origin at the
  // lower-left corner) to the window, once the drawing so far has finished.
  void Copy(int x, int y, int width, int height) const;

 private:
  using CopyFunction = void (*)(void* display, unsigned long drawable, int x, int y, int width,
                                int height);
  void* display_ = nullptr;
  unsigned long drawable_ = 0;
  CopyFunction copy_ = nullptr;
};
