// The generated pictures: window icon, loading screen and the two backdrops.
#pragma once

#include <string>

namespace content {

// Window size the pictures are made for, in pixels.
constexpr int kScreenWidth = 800;
constexpr int kScreenHeight = 600;

// Each writes one file and returns false with SDL's error set on failure.
// `fontPath` is the TrueType font used for the title lettering.
bool WriteIcon(const std::string& path);
bool WriteLoadingImage(const std::string& path, const std::string& fontPath);
bool WriteMenuBackdrop(const std::string& path, const std::string& fontPath);
bool WriteGameBackdrop(const std::string& path, const std::string& fontPath);
// The application's icon for desktop menus: a PNG of size x size pixels with an alpha channel,
// the window icon's crescent moon and stars on a rounded night-sky tile.
bool WriteAppIcon(const std::string& path, int size);

}  // namespace content
