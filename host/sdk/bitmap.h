// Bitmap and BitmapStorage: the rendered frame an effect works on.
//
// Pixels are BMM_Color_64 (16 bits per channel, full intensity 65280), rows
// top to bottom, the pixel at column x, row y at index y * width + x. The
// storage may carry G-buffer channels, allocated only when asked for:
//   BMM_CHAN_MTL_ID  (2): material-effects ID, one unsigned byte per pixel
//   BMM_CHAN_NODE_ID (4): node (object) ID, one unsigned 16-bit value per pixel
// both in the pixel layout, zero-filled.
//
// The light layer: an optional float RGBA layer (BMM_Color_fl, same pixel
// layout) holding the light the effects drew into this frame alone,
// premultiplied and unclipped, on the float scale where 1.0 = 65280. The
// host creates it (zeroed) only when it will write it (an OpenEXR output
// keeps light above the 16-bit full value); effects add to it when present
// and never create it. Drawing into it leaves the 16-bit pixels as they
// would be without it.
#pragma once

#include <memory>
#include <vector>

#include "color.h"
#include "host_memory.h"
#include "max_types.h"
#include "render_info.h"

inline constexpr ULONG BMM_CHAN_NONE = 0;
inline constexpr ULONG BMM_CHAN_MTL_ID = 1 << 1;
inline constexpr ULONG BMM_CHAN_NODE_ID = 1 << 2;

// Channel element types reported by GetChannel.
inline constexpr ULONG BMM_CHAN_TYPE_8 = 2;
inline constexpr ULONG BMM_CHAN_TYPE_16 = 3;
inline constexpr ULONG BMM_CHAN_TYPE_UNKNOWN = 0;

class Interface;

class BitmapStorage {
 public:
  // width and height must be at least 0; the pixels start transparent black.
  BitmapStorage(int width, int height);

  int Width() const { return width_; }
  int Height() const { return height_; }

  // Copies `count` pixels of row y from column x. 1 on success, 0 (and
  // nothing copied) when the run is not wholly inside the image.
  int GetPixels(int x, int y, int count, BMM_Color_64* out) const;
  int PutPixels(int x, int y, int count, const BMM_Color_64* in);

  // The G-buffer channel with the given ID, or null when absent; chanType
  // receives its element type.
  void* GetChannel(ULONG channelID, ULONG& chanType);
  // Allocates the channels of `mask` not yet present; returns the channels
  // present afterwards.
  ULONG CreateChannels(ULONG mask);
  ULONG ChannelsPresent() const;

  RenderInfo* GetRenderInfo() { return renderInfo_.get(); }
  RenderInfo* AllocRenderInfo();

  // Allocates the light layer (width * height pixels, zero) unless present;
  // false, and no layer, when the memory cannot be had.
  bool CreateLightLayer();
  // The light layer, or null when the host made none.
  BMM_Color_fl* LightLayer() { return light_.empty() ? nullptr : light_.data(); }
  const BMM_Color_fl* LightLayer() const { return light_.empty() ? nullptr : light_.data(); }

  // The host's direct access to the pixel array (width * height elements).
  BMM_Color_64* Pixels() { return pixels_.data(); }
  const BMM_Color_64* Pixels() const { return pixels_.data(); }

 private:
  bool Inside(int x, int y, int count) const;

  int width_;
  int height_;
  // In host blocks: a frame's arrays are large and made anew for every
  // frame, so they get huge pages where the kernel offers them.
  std::vector<BMM_Color_64, HostAllocator<BMM_Color_64>> pixels_;
  std::vector<UBYTE, HostAllocator<UBYTE>> materialIds_;
  std::vector<WORD, HostAllocator<WORD>> objectIds_;
  std::vector<BMM_Color_fl, HostAllocator<BMM_Color_fl>> light_;
  ULONG channels_ = BMM_CHAN_NONE;
  std::unique_ptr<RenderInfo> renderInfo_;
};

// The bitmap manager: the host service a bitmap belongs to; through it an
// effect reaches the host's interface (and so the scene root).
class BitmapManager {
 public:
  explicit BitmapManager(Interface* ip = nullptr) : ip_(ip) {}
  Interface* Max() const { return ip_; }
  void SetMax(Interface* ip) { ip_ = ip; }

 private:
  Interface* ip_;
};

class Bitmap {
 public:
  // A bitmap without storage (nothing can be read or written).
  Bitmap() = default;
  Bitmap(int width, int height, BitmapManager* manager = nullptr);

  BitmapStorage* Storage() { return storage_.get(); }
  const BitmapStorage* Storage() const { return storage_.get(); }
  BitmapManager* Manager() const { return manager_; }

  int Width() const { return storage_ ? storage_->Width() : 0; }
  int Height() const { return storage_ ? storage_->Height() : 0; }

  int GetPixels(int x, int y, int count, BMM_Color_64* out) const {
    return storage_ ? storage_->GetPixels(x, y, count, out) : 0;
  }
  int PutPixels(int x, int y, int count, const BMM_Color_64* in) {
    return storage_ ? storage_->PutPixels(x, y, count, in) : 0;
  }
  ULONG CreateChannels(ULONG mask) { return storage_ ? storage_->CreateChannels(mask) : 0; }

  // The float light layer (see BitmapStorage): the host creates it, effects
  // add the unclipped light they draw to it when LightLayer() is not null.
  bool CreateLightLayer() { return storage_ && storage_->CreateLightLayer(); }
  BMM_Color_fl* LightLayer() { return storage_ ? storage_->LightLayer() : nullptr; }
  const BMM_Color_fl* LightLayer() const { return storage_ ? storage_->LightLayer() : nullptr; }

 private:
  std::unique_ptr<BitmapStorage> storage_;
  BitmapManager* manager_ = nullptr;
};
