// The resource section of a module: string table, dialog templates, bitmaps
// and version record, as the resource compiler (host/tools/rcc.cpp) emits
// them from a module's .rc file.
//
// In this stand-in platform a module's instance handle (HINSTANCE) is the
// address of its ModuleResources, the way a Windows instance handle
// addresses the module's image with its resource section. Every module
// exports its resources under the C name `HostModuleResources`; the module
// loader looks that name up and hands its address to the module's entry
// routine.
//
// Everything here is read-only data with static storage duration inside the
// module: pointers stay valid while the module is loaded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/platform/resource_constants.h"

// Marks the one symbol of a module that the loader looks up by name.
#define VELUMBRA_MODULE_EXPORT __attribute__((visibility("default")))

// The name under which a module exports its ModuleResources.
inline constexpr const char* kModuleResourcesSymbol = "HostModuleResources";
// First word of every ModuleResources: "VRES". A handle whose first word is
// anything else is not a module's resources.
inline constexpr std::uint32_t kModuleResourcesMagic = 0x53455256u;
// Layout revision of these tables; a module built against another layout is
// refused by the lookups.
inline constexpr std::uint32_t kModuleResourcesVersion = 1;

// One string of the string table.
struct StringResource {
  std::uint32_t id;
  const char* text;  // UTF-8 as written in the .rc file, never null
};

// One control of a dialog template. Coordinates are dialog units relative
// to the template's client area.
struct DialogControl {
  int id;                 // -1 (IDC_STATIC) for controls nobody addresses
  const char* className;  // "BUTTON", "STATIC", "EDIT" in upper case; custom classes as written
  const char* text;       // caption; "" when the control shows a resource instead
  int textResourceId;     // the resource a picture control shows (SS_BITMAP), else 0
  std::uint32_t style;    // WS_CHILD | WS_VISIBLE | the control's own bits, as a resource compiler sets them
  std::uint32_t exStyle;
  int x, y, cx, cy;
};

struct DialogTemplate {
  int id;
  std::uint32_t style;
  std::uint32_t exStyle;
  int x, y, cx, cy;      // dialog units
  const char* caption;   // "" when the template has none
  const char* fontName;  // "" when the template sets no font
  int fontPointSize;     // 0 when the template sets no font
  const DialogControl* controls;
  std::size_t controlCount;
};

// A bitmap resource: a device-independent bitmap as Windows keeps it in a
// module, i.e. the .bmp file without its 14-byte file header (info header,
// palette, pixel rows).
struct BitmapResource {
  int id;
  const unsigned char* dib;
  std::size_t size;
};

struct VersionString {
  const char* key;  // "FileVersion", "ProductName", ...
  const char* value;
};

// The module's version record (VERSIONINFO).
struct VersionResource {
  std::uint16_t fileVersion[4];     // most significant part first: 3.0.1.0
  std::uint16_t productVersion[4];
  std::uint32_t fileFlagsMask;
  std::uint32_t fileFlags;
  std::uint32_t fileOS;
  std::uint32_t fileType;
  std::uint32_t fileSubtype;
  std::uint16_t language;  // of the string block, e.g. 0x0409
  std::uint16_t codePage;  // of the string block, e.g. 1200
  const VersionString* strings;
  std::size_t stringCount;
};

struct ModuleResources {
  std::uint32_t magic;    // kModuleResourcesMagic
  std::uint32_t version;  // kModuleResourcesVersion
  const StringResource* strings;  // sorted by id, ids unique
  std::size_t stringCount;
  const DialogTemplate* dialogs;  // sorted by id
  std::size_t dialogCount;
  const BitmapResource* bitmaps;  // sorted by id
  std::size_t bitmapCount;
  const VersionResource* versionInfo;  // null when the module has none
};

// Lookups in one module's resources; all of them answer null for a null
// handle, a handle that is not a module's resources, or an absent ID.
const ModuleResources* ModuleResourcesOf(const void* handle);
const StringResource* FindStringResource(const ModuleResources* module, std::uint32_t id);
const DialogTemplate* FindDialogTemplate(const ModuleResources* module, int id);
const BitmapResource* FindBitmapResource(const ModuleResources* module, int id);
// The value of `key` in the version record's string block, or null.
const char* FindVersionString(const ModuleResources* module, const char* key);
// The control with `id` in `dialog` (the first one when several share it),
// or null.
const DialogControl* FindDialogControl(const DialogTemplate* dialog, int id);
