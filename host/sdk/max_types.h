// Basic types of the host's plug-in interface, under the host's own names.
//
// The stand-in host is a 64-bit Linux program; these keep the widths the
// effect was written against (WORD 16 bits, DWORD/ULONG 32 bits, BOOL an int).
#pragma once

#include <cstdint>

using BOOL = int;
using BYTE = std::uint8_t;
using UBYTE = std::uint8_t;
using WORD = std::uint16_t;
using UWORD = std::uint16_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using UINT = unsigned int;
using MCHAR = char;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Time in ticks: 4800 ticks per second, 32-bit signed.
using TimeValue = int;
inline constexpr int TIME_TICKSPERSEC = 4800;
inline constexpr TimeValue TIME_NegInfinity = -2147483647 - 1;
inline constexpr TimeValue TIME_PosInfinity = 2147483647;

using SClass_ID = ULONG;

// Super class IDs the effect and the host use.
inline constexpr SClass_ID CAMERA_CLASS_ID = 0x20;
inline constexpr SClass_ID HELPER_CLASS_ID = 0x70;
inline constexpr SClass_ID GEOMOBJECT_CLASS_ID = 0x10;
inline constexpr SClass_ID RENDER_EFFECT_CLASS_ID = 0x1090;
inline constexpr SClass_ID PARAMETER_BLOCK2_CLASS_ID = 0x82;

// A class identity: two 32-bit words.
class Class_ID {
 public:
  constexpr Class_ID() = default;
  constexpr Class_ID(ULONG a, ULONG b) : a_(a), b_(b) {}
  constexpr ULONG PartA() const { return a_; }
  constexpr ULONG PartB() const { return b_; }
  constexpr bool operator==(const Class_ID&) const = default;

 private:
  ULONG a_ = 0xFFFFFFFF;
  ULONG b_ = 0xFFFFFFFF;
};
