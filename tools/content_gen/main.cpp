// Content generator: writes every file of MarluneContent/ (pictures, font, sounds) into
// the given folder. The output depends only on this program and the font file, so two
// runs produce byte-identical files.
//
// Usage: marlune_content_gen <MarluneContent folder> <font .ttf> <font licence>
//        marlune_content_gen --icons <icon theme folder> <icon name>
//          writes the application's icon into the theme folder (hicolor's layout):
//          <size>x<size>/apps/<icon name>.png for every size of kIconSizes.
#include <SDL.h>
#include <SDL_ttf.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "images.h"
#include "sounds.h"
#include "wav_writer.h"

namespace fs = std::filesystem;

namespace {

void CopyFile(const fs::path& from, const fs::path& to) {
  std::ifstream in(from, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + from.string());
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  if (!out) throw std::runtime_error("cannot write " + to.string());
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void Check(bool ok, const fs::path& path) {
  if (!ok) throw std::runtime_error("cannot write " + path.string() + ": " + SDL_GetError());
}

void Generate(const fs::path& root, const fs::path& fontSource, const fs::path& licenceSource) {
  const fs::path img = root / "img", font = root / "font", sfx = root / "sfx", rawwaves = sfx / "rawwaves";
  for (const fs::path& dir : {img, font, sfx, rawwaves}) fs::create_directories(dir);

  // The font first: the pictures letter their titles with the copied file.
  const fs::path fontFile = font / "segoeuimono.ttf";
  CopyFile(fontSource, fontFile);
  CopyFile(licenceSource, font / "LICENSE-DejaVu.txt");
  WriteText(rawwaves / "README.txt",
            "Raw-wave folder of the synthesis library (STK). Marlune sets it as the library's\n"
            "raw-wave path at start-up; it needs no files, and this note keeps the folder\n"
            "in place when the application is packaged.\n");

  Check(content::WriteIcon((img / "icon32.bmp").string()), img / "icon32.bmp");
  Check(content::WriteLoadingImage((img / "loading.png").string(), fontFile.string()), img / "loading.png");
  Check(content::WriteMenuBackdrop((img / "backdrop_main_menu.png").string(), fontFile.string()),
        img / "backdrop_main_menu.png");
  Check(content::WriteGameBackdrop((img / "backdrop_game.png").string(), fontFile.string()), img / "backdrop_game.png");

  const std::vector<std::pair<const char*, std::function<content::Audio()>>> sounds = {
      {"menu_theme.wav", content::MakeMenuTheme},
      {"loaded.wav", content::MakeLoadedChime},
      {"start.wav", content::MakeStartArpeggio},
      {"stop.wav", content::MakeStopArpeggio},
      {"quit.wav", content::MakeQuitFarewell},
      {"select.wav", content::MakeSelectBlip},
      {"metronome.wav", content::MakeMetronomeClick},
      {"lsdj_pulse_50.wav", [] { return content::MakePulseCycle(8); }},
      {"lsdj_pulse_25.wav", [] { return content::MakePulseCycle(4); }},
      {"lsdj_pulse_12_5.wav", [] { return content::MakePulseCycle(2); }},
      {"famitracker_triangle.wav", content::MakeSteppedTriangleCycle},
      {"tr909_01.wav", content::MakeKick},
      {"tr909_05.wav", content::MakeSnare},
      {"tr909_07.wav", content::MakeClosedHat},
      {"tr909_08.wav", content::MakeOpenHat},
  };
  for (const auto& [name, make] : sounds) content::WriteWav((sfx / name).string(), make());
}

// Icon sizes for desktop menus, pixels: the window icon's 32, and larger for menus, docks and
// software centres.
constexpr int kIconSizes[] = {32, 48, 64, 128, 256};

void GenerateIcons(const fs::path& theme, const std::string& name) {
  for (int size : kIconSizes) {
    const std::string side = std::to_string(size);
    const fs::path dir = theme / (side + "x" + side) / "apps";
    fs::create_directories(dir);
    Check(content::WriteAppIcon((dir / (name + ".png")).string(), size), dir / (name + ".png"));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--icons") {
    try {
      GenerateIcons(argv[2], argv[3]);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "Error: %s\n", e.what());
      return 1;
    }
    return 0;
  }
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s <MarluneContent folder> <font .ttf> <font licence>\n"
                 "       %s --icons <icon theme folder> <icon name>\n", argv[0], argv[0]);
    return 2;
  }
  if (TTF_Init() != 0) {
    std::fprintf(stderr, "Error: SDL_ttf: %s\n", TTF_GetError());
    return 1;
  }
  int status = 0;
  try {
    Generate(argv[1], argv[2], argv[3]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Error: %s\n", e.what());
    status = 1;
  }
  TTF_Quit();
  return status;
}
