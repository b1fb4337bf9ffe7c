// Window, control and version-record constants shared by the resource
// compiler and the code that reads the compiled resources.
//
// One list, two uses: the resource compiler turns it into the symbols a .rc
// file may name (as `#include <windows.h>` provides them to a Windows
// resource compiler), and C++ code gets typed constants of the same names.
// The values are the Windows ones, so the same .rc file means the same thing
// to both tool chains.
#pragma once

#include <cstdint>

// X(name, value): every symbol a resource script may use without defining it.
#define VELUMBRA_RESOURCE_CONSTANTS(X)                                    \
  /* window styles */                                                     \
  X(WS_OVERLAPPED, 0x00000000u)                                           \
  X(WS_POPUP, 0x80000000u)                                                \
  X(WS_CHILD, 0x40000000u)                                                \
  X(WS_VISIBLE, 0x10000000u)                                              \
  X(WS_DISABLED, 0x08000000u)                                             \
  X(WS_CAPTION, 0x00C00000u)                                              \
  X(WS_BORDER, 0x00800000u)                                               \
  X(WS_SYSMENU, 0x00080000u)                                              \
  X(WS_GROUP, 0x00020000u)                                                \
  X(WS_TABSTOP, 0x00010000u)                                              \
  /* extended window styles */                                            \
  X(WS_EX_TRANSPARENT, 0x00000020u)                                       \
  X(WS_EX_CLIENTEDGE, 0x00000200u)                                        \
  X(WS_EX_STATICEDGE, 0x00020000u)                                        \
  /* dialog styles */                                                     \
  X(DS_3DLOOK, 0x00000004u)                                               \
  X(DS_FIXEDSYS, 0x00000008u)                                             \
  X(DS_SETFONT, 0x00000040u)                                              \
  X(DS_CONTROL, 0x00000400u)                                              \
  /* button styles (the low four bits are the button type) */             \
  X(BS_PUSHBUTTON, 0x00000000u)                                           \
  X(BS_DEFPUSHBUTTON, 0x00000001u)                                        \
  X(BS_CHECKBOX, 0x00000002u)                                             \
  X(BS_AUTOCHECKBOX, 0x00000003u)                                         \
  X(BS_RADIOBUTTON, 0x00000004u)                                          \
  X(BS_3STATE, 0x00000005u)                                               \
  X(BS_AUTO3STATE, 0x00000006u)                                           \
  X(BS_GROUPBOX, 0x00000007u)                                             \
  X(BS_AUTORADIOBUTTON, 0x00000009u)                                      \
  X(BS_TYPEMASK, 0x0000000Fu)                                             \
  X(BS_LEFTTEXT, 0x00000020u)                                             \
  /* static styles (the low five bits are the static type) */             \
  X(SS_LEFT, 0x00000000u)                                                 \
  X(SS_CENTER, 0x00000001u)                                               \
  X(SS_RIGHT, 0x00000002u)                                                \
  X(SS_ICON, 0x00000003u)                                                 \
  X(SS_BITMAP, 0x0000000Eu)                                               \
  X(SS_TYPEMASK, 0x0000001Fu)                                             \
  X(SS_CENTERIMAGE, 0x00000200u)                                          \
  X(SS_SUNKEN, 0x00001000u)                                               \
  /* edit styles */                                                       \
  X(ES_LEFT, 0x00000000u)                                                 \
  X(ES_AUTOHSCROLL, 0x00000080u)                                          \
  /* version record */                                                    \
  X(VS_VERSION_INFO, 1u)                                                  \
  X(VS_FFI_FILEFLAGSMASK, 0x0000003Fu)                                    \
  X(VS_FF_DEBUG, 0x00000001u)                                             \
  X(VOS__WINDOWS32, 0x00000004u)                                          \
  X(VOS_NT_WINDOWS32, 0x00040004u)                                        \
  X(VFT_UNKNOWN, 0x00000000u)                                             \
  X(VFT_APP, 0x00000001u)                                                 \
  X(VFT_DLL, 0x00000002u)                                                 \
  X(VFT2_UNKNOWN, 0x00000000u)                                            \
  /* languages */                                                         \
  X(LANG_NEUTRAL, 0x00u)                                                  \
  X(LANG_ENGLISH, 0x09u)                                                  \
  X(SUBLANG_NEUTRAL, 0x00u)                                               \
  X(SUBLANG_DEFAULT, 0x01u)                                               \
  X(SUBLANG_ENGLISH_US, 0x01u)

#define VELUMBRA_DEFINE_RESOURCE_CONSTANT(name, value) inline constexpr std::uint32_t name = value;
VELUMBRA_RESOURCE_CONSTANTS(VELUMBRA_DEFINE_RESOURCE_CONSTANT)
#undef VELUMBRA_DEFINE_RESOURCE_CONSTANT
