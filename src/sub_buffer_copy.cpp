#include "sub_buffer_copy.h"

#include <SDL.h>
#include <GL/glx.h>

#include <cstring>

namespace {

template <typename Function>
Function Find(const char* name) {
  return reinterpret_cast<Function>(SDL_GL_GetProcAddress(name));
}

// True when the space-separated list holds the name.
bool Listed(const char* list, const char* name) {
  const size_t length = std::strlen(name);
  for (const char* at = list; at != nullptr && *at != '\0';) {
    const char* end = std::strchr(at, ' ');
    const size_t size = end != nullptr ? static_cast<size_t>(end - at) : std::strlen(at);
    if (size == length && std::strncmp(at, name, length) == 0) return true;
    at = end != nullptr ? end + 1 : nullptr;
  }
  return false;
}

}  // namespace

bool SubBufferCopy::Open() {
  // Function names resolve through GLX whether or not the implementation has them, so the
  // context and the extension list decide. A context made through EGL has no GLX context.
  auto currentContext = Find<GLXContext (*)()>("glXGetCurrentContext");
  auto currentDisplay = Find<Display* (*)()>("glXGetCurrentDisplay");
  auto currentDrawable = Find<GLXDrawable (*)()>("glXGetCurrentDrawable");
  auto queryContext = Find<int (*)(Display*, GLXContext, int, int*)>("glXQueryContext");
  auto extensions = Find<const char* (*)(Display*, int)>("glXQueryExtensionsString");
  auto copy = Find<PFNGLXCOPYSUBBUFFERMESAPROC>("glXCopySubBufferMESA");
  if (currentContext == nullptr || currentDisplay == nullptr || currentDrawable == nullptr ||
      queryContext == nullptr || extensions == nullptr || copy == nullptr) {
    return false;
  }
  GLXContext context = currentContext();
  Display* display = currentDisplay();
  const GLXDrawable drawable = currentDrawable();
  if (context == nullptr || display == nullptr || drawable == 0) return false;
  int screen = 0;
  if (queryContext(display, context, GLX_SCREEN, &screen) != Success) return false;
  if (!Listed(extensions(display, screen), "GLX_MESA_copy_sub_buffer")) return false;
  display_ = display;
  drawable_ = drawable;
  copy_ = reinterpret_cast<CopyFunction>(copy);
  return true;
}

void SubBufferCopy::Copy(int x, int y, int width, int height) const {
  if (copy_ == nullptr) return;
  reinterpret_cast<PFNGLXCOPYSUBBUFFERMESAPROC>(copy_)(static_cast<Display*>(display_), drawable_,
                                                       x, y, width, height);
}
