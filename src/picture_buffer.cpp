#include "picture_buffer.h"

#include <SDL.h>

namespace {

template <typename Function>
bool Load(Function* function, const char* name) {
  *function = reinterpret_cast<Function>(SDL_GL_GetProcAddress(name));
  return *function != nullptr;
}

}  // namespace

bool PictureBuffer::Bind(int width, int height) {
  if (status_ == Status::kReady && (width != width_ || height != height_)) Release();
  if (status_ == Status::kUntried) status_ = Create(width, height) ? Status::kReady : Status::kUnavailable;
  if (status_ != Status::kReady) return false;
  bindFramebuffer_(GL_FRAMEBUFFER_EXT, framebuffer_);
  clipControl_(GL_UPPER_LEFT, GL_NEGATIVE_ONE_TO_ONE);
  return true;
}

void PictureBuffer::Unbind() const {
  if (status_ != Status::kReady) return;
  clipControl_(GL_LOWER_LEFT, GL_NEGATIVE_ONE_TO_ONE);
  bindFramebuffer_(GL_FRAMEBUFFER_EXT, 0);
}

void PictureBuffer::Scissor(int x, int y, int width, int height) const {
  glScissor(x, height_ - y - height, width, height);
}

void PictureBuffer::CopyToWindow() const {
  if (status_ != Status::kReady) return;
  bindFramebuffer_(GL_READ_FRAMEBUFFER_EXT, framebuffer_);
  bindFramebuffer_(GL_DRAW_FRAMEBUFFER_EXT, 0);
  blitFramebuffer_(0, 0, width_, height_, 0, height_, width_, 0, GL_COLOR_BUFFER_BIT,
                   GL_NEAREST);
  bindFramebuffer_(GL_FRAMEBUFFER_EXT, 0);
}

void PictureBuffer::Release() {
  if (status_ != Status::kReady) return;
  bindFramebuffer_(GL_FRAMEBUFFER_EXT, 0);
  deleteFramebuffers_(1, &framebuffer_);
  deleteRenderbuffers_(1, &colour_);
  framebuffer_ = 0;
  colour_ = 0;
  status_ = Status::kUntried;
}

bool PictureBuffer::Create(int width, int height) {
  if (!SDL_GL_ExtensionSupported("GL_EXT_framebuffer_object") ||
      !SDL_GL_ExtensionSupported("GL_EXT_framebuffer_blit") ||
      !SDL_GL_ExtensionSupported("GL_ARB_clip_control")) {
    return false;
  }
  if (!Load(&genFramebuffers_, "glGenFramebuffersEXT") ||
      !Load(&deleteFramebuffers_, "glDeleteFramebuffersEXT") ||
      !Load(&bindFramebuffer_, "glBindFramebufferEXT") ||
      !Load(&framebufferRenderbuffer_, "glFramebufferRenderbufferEXT") ||
      !Load(&checkFramebufferStatus_, "glCheckFramebufferStatusEXT") ||
      !Load(&genRenderbuffers_, "glGenRenderbuffersEXT") ||
      !Load(&deleteRenderbuffers_, "glDeleteRenderbuffersEXT") ||
      !Load(&bindRenderbuffer_, "glBindRenderbufferEXT") ||
      !Load(&renderbufferStorage_, "glRenderbufferStorageEXT") ||
      !Load(&blitFramebuffer_, "glBlitFramebufferEXT") ||
      !Load(&clipControl_, "glClipControl")) {
    return false;
  }
  // The picture must round and blend as the window would: the same 8 bits per colour, and an
  // alpha channel only where the window has one.
  GLint red = 0, green = 0, blue = 0, alpha = 0;
  bindFramebuffer_(GL_FRAMEBUFFER_EXT, 0);
  glGetIntegerv(GL_RED_BITS, &red);
  glGetIntegerv(GL_GREEN_BITS, &green);
  glGetIntegerv(GL_BLUE_BITS, &blue);
  glGetIntegerv(GL_ALPHA_BITS, &alpha);
  if (red != 8 || green != 8 || blue != 8 || (alpha != 0 && alpha != 8)) return false;

  while (glGetError() != GL_NO_ERROR) {
  }
  genRenderbuffers_(1, &colour_);
  bindRenderbuffer_(GL_RENDERBUFFER_EXT, colour_);
  renderbufferStorage_(GL_RENDERBUFFER_EXT, alpha != 0 ? GL_RGBA8 : GL_RGB8, width, height);
  bindRenderbuffer_(GL_RENDERBUFFER_EXT, 0);
  genFramebuffers_(1, &framebuffer_);
  bindFramebuffer_(GL_FRAMEBUFFER_EXT, framebuffer_);
  framebufferRenderbuffer_(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_RENDERBUFFER_EXT,
                           colour_);
  const bool complete =
      checkFramebufferStatus_(GL_FRAMEBUFFER_EXT) == GL_FRAMEBUFFER_COMPLETE_EXT &&
      glGetError() == GL_NO_ERROR;
  bindFramebuffer_(GL_FRAMEBUFFER_EXT, 0);
  width_ = width;
  height_ = height;
  status_ = Status::kReady;
  if (!complete) {
    Release();
    return false;
  }
  return true;
}
