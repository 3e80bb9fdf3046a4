// marlune_shot - reads pixels of a screenshot in the program's coordinates.
//
// Usage:
//   marlune_shot size FILE                     prints "W H"
//   marlune_shot pixel FILE X Y                prints "R G B" (0-255)
//   marlune_shot region-mean FILE X Y W H      prints the mean "R G B" (one decimal)
//
// X counts from the left, Y from the BOTTOM row of the image (Y = 0 is the
// bottom row), as in the program's drawing coordinates; a region is given by
// its lower-left corner and size, like the program's rectangles. Any image
// format that SDL2_image reads is accepted (PNG from the screenshots).
// Exit status: 0 success, 1 unreadable image, 2 bad arguments or outside the image.
#include <SDL.h>
#include <SDL_image.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

[[noreturn]] void Fail(int status, const std::string& message) {
  std::fprintf(stderr, "marlune_shot: %s\n", message.c_str());
  std::exit(status);
}

int ParseInt(const char* text, const char* what) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < -100000 || v > 100000)
    Fail(2, std::string("bad ") + what + " '" + text + "'");
  return int(v);
}

// The image as 8-bit RGBA, whatever its own format.
SDL_Surface* Load(const char* path) {
  SDL_Surface* loaded = IMG_Load(path);
  if (!loaded) Fail(1, std::string("cannot read ") + path + ": " + IMG_GetError());
  SDL_Surface* rgba = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_RGBA32, 0);
  SDL_FreeSurface(loaded);
  if (!rgba) Fail(1, std::string("cannot convert ") + path + ": " + SDL_GetError());
  return rgba;
}

// Pixel at column x, row y counted from the bottom.
const Uint8* PixelAt(const SDL_Surface* s, int x, int y) {
  const int row = s->h - 1 - y;
  return static_cast<const Uint8*>(s->pixels) + row * s->pitch + x * 4;
}

void CheckInside(const SDL_Surface* s, int x, int y, int w, int h) {
  if (w < 1 || h < 1 || x < 0 || y < 0 || x + w > s->w || y + h > s->h)
    Fail(2, "region " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(w) + "x" +
                std::to_string(h) + " is outside the " + std::to_string(s->w) + "x" + std::to_string(s->h) +
                " image");
}

void Usage() {
  std::fprintf(stderr,
               "usage: marlune_shot size FILE\n"
               "       marlune_shot pixel FILE X Y\n"
               "       marlune_shot region-mean FILE X Y W H\n"
               "(Y counts from the bottom row)\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) Usage();
  const std::string command = argv[1];
  if (command == "size" && argc == 3) {
    SDL_Surface* s = Load(argv[2]);
    std::printf("%d %d\n", s->w, s->h);
  } else if (command == "pixel" && argc == 5) {
    const int x = ParseInt(argv[3], "x"), y = ParseInt(argv[4], "y");
    SDL_Surface* s = Load(argv[2]);
    CheckInside(s, x, y, 1, 1);
    const Uint8* p = PixelAt(s, x, y);
    std::printf("%d %d %d\n", p[0], p[1], p[2]);
  } else if (command == "region-mean" && argc == 7) {
    const int x = ParseInt(argv[3], "x"), y = ParseInt(argv[4], "y");
    const int w = ParseInt(argv[5], "width"), h = ParseInt(argv[6], "height");
    SDL_Surface* s = Load(argv[2]);
    CheckInside(s, x, y, w, h);
    double sum[3] = {0, 0, 0};
    for (int j = y; j < y + h; ++j)
      for (int i = x; i < x + w; ++i)
        for (int c = 0; c < 3; ++c) sum[c] += PixelAt(s, i, j)[c];
    const double n = double(w) * h;
    std::printf("%.1f %.1f %.1f\n", sum[0] / n, sum[1] / n, sum[2] / n);
  } else {
    Usage();
  }
  return 0;
}
