// The sample mapping between the frame and PNG files.
//
// The frame holds premultiplied (associated) colour on the effect's 8.8
// scale: full intensity and full opacity are 65280 (255 x 256). A PNG file
// holds straight (unassociated) alpha by definition, with full at 255
// (8-bit) or 65535 (16-bit). Every conversion is integer arithmetic,
// rounded half up, so that it gives the same file on every machine.
//
// Depth: 16-bit samples are scaled so that the frame's 65280 is the file's
// 65535,
//   file  = round(v * 65535 / 65280)      for v in 0..65280
//   frame = round(f * 65280 / 65535)      for f in 0..65535
// and every frame value 0..65280 survives a write and a read exactly (the
// file's steps are finer than the frame's). Frame values above 65280 are
// beyond file white and clamp to 65535. 8-bit samples keep the 8.8 scale:
//   file  = v >> 8 (v clamped to 65280)    frame = f * 256.
//
// Alpha: writing straight alpha divides the colour by the pixel's alpha
// (alpha clamped to 65280, colour clamped to the alpha: light beyond the
// pixel's coverage cannot be stored straight and saturates at white),
//   straight = round(c * 65280 / a)
// then maps it to the file's depth as above (at 8 bits a partial alpha
// rounds, round(c * 255 / a), rather than truncating, so that 8-bit files
// pass through unchanged); reading multiplies back,
//   c = round(straight * a / 65280).
// A pixel of alpha 0 has no straight colour: it is written with its colour
// as it is (premultiplied light with no coverage, such as stars drawn without
// alpha over a transparent background, is then hidden by most viewers: use
// an opaque background or premultiplied files for it), and reads as
// transparent black. Exact round trips: opaque pixels (alpha 65280),
// transparent black, every pixel in premultiplied mode (at 16 bits), and
// every pixel of an 8-bit file read and written again at 8 bits; a frame's
// other pixels come back within the rounding of one division and one
// multiplication (2 in 65280 at 16 bits).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "host/app/image/image.h"
#include "host/sdk/color.h"
#include "host/sdk/max_types.h"

namespace velumbra {

constexpr WORD kFrameFull = 65280;  // the effect's full intensity and opacity

// Frame 0..65535 (clamped at 65280) -> 16-bit file sample 0..65535.
constexpr WORD FrameToPng16(unsigned v) {
  const std::uint32_t c = std::min<unsigned>(v, kFrameFull);
  return static_cast<WORD>((c * 65535u + kFrameFull / 2) / kFrameFull);
}

// 16-bit file sample 0..65535 -> frame 0..65280.
constexpr WORD Png16ToFrame(unsigned f) {
  return static_cast<WORD>((std::uint32_t{f} * kFrameFull + 65535u / 2) / 65535u);
}

constexpr unsigned char FrameToPng8(unsigned v) {
  return static_cast<unsigned char>(std::min<unsigned>(v, kFrameFull) >> 8);
}
constexpr WORD Png8ToFrame(unsigned f) { return static_cast<WORD>(f << 8); }

// The straight colour (frame scale 0..65280) of a premultiplied channel `c`
// over alpha `a`; `a` is clamped to 65280, and 0 gives `c` itself (clamped).
constexpr WORD Unpremultiply(unsigned c, unsigned a) {
  const std::uint32_t alpha = std::min<unsigned>(a, kFrameFull);
  if (alpha == 0) return static_cast<WORD>(std::min<unsigned>(c, kFrameFull));
  const std::uint32_t colour = std::min<std::uint32_t>(c, alpha);
  return static_cast<WORD>((colour * kFrameFull + alpha / 2) / alpha);
}

// The premultiplied channel of a straight colour `s` (0..65280) over alpha
// `a` (0..65280).
constexpr WORD Premultiply(unsigned s, unsigned a) {
  return static_cast<WORD>((std::uint32_t{s} * a + kFrameFull / 2) / kFrameFull);
}

// One frame pixel as the file's samples of `bitDepth` 8 or 16.
struct PngSamples {
  unsigned r = 0, g = 0, b = 0, a = 0;
};

// The 8-bit straight colour of a premultiplied channel `c` over a partial
// alpha `a` (1..65279): round(c * 255 / a), so that every 8-bit straight
// file value comes back exactly through a read and a write.
constexpr unsigned Unpremultiply8(unsigned c, unsigned a) {
  const std::uint32_t colour = std::min(c, a);
  return (colour * 255u + a / 2) / a;
}

constexpr PngSamples FrameToPng(const BMM_Color_64& p, int bitDepth, PngAlpha alpha) {
  const unsigned a = std::min<unsigned>(p.a, kFrameFull);
  if (bitDepth == 8 && alpha == PngAlpha::Straight && a > 0 && a < kFrameFull)
    return {Unpremultiply8(p.r, a), Unpremultiply8(p.g, a), Unpremultiply8(p.b, a), FrameToPng8(p.a)};
  WORD r = p.r, g = p.g, b = p.b;
  if (alpha == PngAlpha::Straight) {
    r = Unpremultiply(p.r, p.a);
    g = Unpremultiply(p.g, p.a);
    b = Unpremultiply(p.b, p.a);
  }
  if (bitDepth == 16) return {FrameToPng16(r), FrameToPng16(g), FrameToPng16(b), FrameToPng16(p.a)};
  return {FrameToPng8(r), FrameToPng8(g), FrameToPng8(b), FrameToPng8(p.a)};
}

// --- whole rows, as the file stores them ------------------------------------------
//
// The row writers give FrameToPng's samples for every pixel (8-bit samples,
// or 16-bit ones most significant byte first). Every sample first takes the
// plain depth mapping, which is right for all premultiplied pixels and for
// straight pixels of alpha 0 or at least 65280 (their straight colour is the
// colour itself, clamped to 65280); then, for straight alpha, the pixels of
// partial alpha are divided by FrameToPng. Pixels go sixteen at a time as
// 64 plain samples: all four channels take the same mapping, so the
// compiler vectorises it without regrouping channels. Star frames are mostly
// transparent black or opaque, so few blocks need the division.

// FrameToPng16 without a division: for c in 0..65280,
//   (c * 65535 + 32640) / 65280 = c + (c + 128) / 256
// since c * 65535 = c * 65280 + 255 * c, and 255 * (c + 128) over
// 255 * 256. Every intermediate value fits 16 bits.
constexpr WORD FrameToPng16ByShift(WORD v) {
  const WORD c = std::min(v, kFrameFull);
  return static_cast<WORD>(c + ((c + 128u) >> 8));
}

// True for a partial alpha, 1..65279 (a - 1 wraps 0 to 65535).
constexpr bool IsPartialAlpha(WORD a) { return static_cast<WORD>(a - 1u) < kFrameFull - 1u; }

// The row writers' common loop: `n` pixels to bytesPerSample * 4 * n bytes,
// each sample through `plain` (frame sample -> file sample), most
// significant byte first; then, when `straight`, `fix(i, out)` rewrites
// the colour of each pixel i of partial alpha at `out` (its first byte).
template <int bytesPerSample, class Plain, class Fix>
inline void ConvertRow(const BMM_Color_64* pixels, std::size_t n, bool straight, unsigned char* out, Plain plain,
                       Fix fix) {
  constexpr std::size_t kBlock = 16;
  constexpr std::size_t kPixelBytes = 4 * bytesPerSample;
  const auto put = [](unsigned char* o, unsigned v) {
    if constexpr (bytesPerSample == 2) {
      o[0] = static_cast<unsigned char>(v >> 8);
      o[1] = static_cast<unsigned char>(v & 0xFF);
    } else {
      o[0] = static_cast<unsigned char>(v);
    }
  };
  std::size_t i = 0;
  for (; i + kBlock <= n; i += kBlock) {
    WORD samples[4 * kBlock];
    std::memcpy(samples, pixels + i, sizeof samples);
    unsigned char bytes[kPixelBytes * kBlock];
    for (std::size_t k = 0; k < 4 * kBlock; ++k) put(bytes + bytesPerSample * k, plain(samples[k]));
    std::memcpy(out + kPixelBytes * i, bytes, sizeof bytes);
    if (!straight) continue;
    bool partial = false;
    for (std::size_t j = 0; j < kBlock; ++j) partial |= IsPartialAlpha(samples[4 * j + 3]);
    if (!partial) continue;
    for (std::size_t j = i; j < i + kBlock; ++j)
      if (IsPartialAlpha(pixels[j].a)) fix(j, out + kPixelBytes * j);
  }
  for (; i < n; ++i) {
    unsigned char* o = out + kPixelBytes * i;
    put(o + 0 * bytesPerSample, plain(pixels[i].r));
    put(o + 1 * bytesPerSample, plain(pixels[i].g));
    put(o + 2 * bytesPerSample, plain(pixels[i].b));
    put(o + 3 * bytesPerSample, plain(pixels[i].a));
    if (straight && IsPartialAlpha(pixels[i].a)) fix(i, o);
  }
}

// `n` pixels as 8 * n bytes of 16-bit RGBA samples, most significant byte first.
inline void FrameRowToPng16(const BMM_Color_64* pixels, std::size_t n, PngAlpha alpha, unsigned char* out) {
  ConvertRow<2>(pixels, n, alpha == PngAlpha::Straight, out, FrameToPng16ByShift,
                [&](std::size_t i, unsigned char* o) {
                  const PngSamples s = FrameToPng(pixels[i], 16, alpha);
                  const unsigned rgb[3] = {s.r, s.g, s.b};
                  for (int c = 0; c < 3; ++c) {
                    o[2 * c] = static_cast<unsigned char>(rgb[c] >> 8);
                    o[2 * c + 1] = static_cast<unsigned char>(rgb[c] & 0xFF);
                  }
                });
}

// `n` pixels as 4 * n bytes of 8-bit RGBA samples.
inline void FrameRowToPng8(const BMM_Color_64* pixels, std::size_t n, PngAlpha alpha, unsigned char* out) {
  ConvertRow<1>(pixels, n, alpha == PngAlpha::Straight, out, [](WORD v) { return FrameToPng8(v); },
                [&](std::size_t i, unsigned char* o) {
                  const PngSamples s = FrameToPng(pixels[i], 8, alpha);
                  o[0] = static_cast<unsigned char>(s.r);
                  o[1] = static_cast<unsigned char>(s.g);
                  o[2] = static_cast<unsigned char>(s.b);
                });
}

constexpr BMM_Color_64 PngToFrame(const PngSamples& s, int bitDepth, PngAlpha alpha) {
  const auto frame = [bitDepth](unsigned v) { return bitDepth == 16 ? Png16ToFrame(v) : Png8ToFrame(v); };
  BMM_Color_64 p{frame(s.r), frame(s.g), frame(s.b), frame(s.a)};
  if (alpha == PngAlpha::Straight) {
    p.r = Premultiply(p.r, p.a);
    p.g = Premultiply(p.g, p.a);
    p.b = Premultiply(p.b, p.a);
  }
  return p;
}

}  // namespace velumbra
