// The files the velumbra panel serves (host/app/panel/assets/), compiled
// into the program by the build (cmake/scripts/embed_panel_assets.cmake).
#pragma once

#include <cstddef>
#include <span>

namespace velumbra {

struct PanelAsset {
  const char* url;          // "/", "/panel.css", "/panel.js"
  const char* contentType;  // without parameters: "text/html"
  const unsigned char* data;
  std::size_t size;
};

std::span<const PanelAsset> PanelAssets();

}  // namespace velumbra
