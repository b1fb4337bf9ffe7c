#include "bitmap.h"

#include <cstring>
#include <new>
#include <stdexcept>

BitmapStorage::BitmapStorage(int width, int height) : width_(width), height_(height) {
  if (width < 0 || height < 0) throw std::invalid_argument("bitmap size must not be negative");
  pixels_.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
}

bool BitmapStorage::Inside(int x, int y, int count) const {
  return count >= 0 && x >= 0 && y >= 0 && y < height_ && x <= width_ - count;
}

int BitmapStorage::GetPixels(int x, int y, int count, BMM_Color_64* out) const {
  if (!Inside(x, y, count)) return 0;
  std::memcpy(out, &pixels_[static_cast<size_t>(y) * width_ + x], sizeof(BMM_Color_64) * count);
  return 1;
}

int BitmapStorage::PutPixels(int x, int y, int count, const BMM_Color_64* in) {
  if (!Inside(x, y, count)) return 0;
  std::memcpy(&pixels_[static_cast<size_t>(y) * width_ + x], in, sizeof(BMM_Color_64) * count);
  return 1;
}

void* BitmapStorage::GetChannel(ULONG channelID, ULONG& chanType) {
  if (channelID == BMM_CHAN_MTL_ID && (channels_ & BMM_CHAN_MTL_ID)) {
    chanType = BMM_CHAN_TYPE_8;
    return materialIds_.data();
  }
  if (channelID == BMM_CHAN_NODE_ID && (channels_ & BMM_CHAN_NODE_ID)) {
    chanType = BMM_CHAN_TYPE_16;
    return objectIds_.data();
  }
  chanType = BMM_CHAN_TYPE_UNKNOWN;
  return nullptr;
}

ULONG BitmapStorage::CreateChannels(ULONG mask) {
  const size_t n = pixels_.size();
  if ((mask & BMM_CHAN_MTL_ID) && !(channels_ & BMM_CHAN_MTL_ID)) {
    // A zero-sized image still gets a (non-null) channel.
    materialIds_.assign(n ? n : 1, 0);
    channels_ |= BMM_CHAN_MTL_ID;
  }
  if ((mask & BMM_CHAN_NODE_ID) && !(channels_ & BMM_CHAN_NODE_ID)) {
    objectIds_.assign(n ? n : 1, 0);
    channels_ |= BMM_CHAN_NODE_ID;
  }
  return channels_;
}

ULONG BitmapStorage::ChannelsPresent() const { return channels_; }

bool BitmapStorage::CreateLightLayer() {
  if (!light_.empty()) return true;
  // A zero-sized image still gets a (non-null) layer, as the G-buffer does.
  const size_t n = pixels_.size();
  try {
    light_.assign(n ? n : 1, BMM_Color_fl{});
  } catch (const std::bad_alloc&) {
    light_ = {};
    return false;
  }
  return true;
}

RenderInfo* BitmapStorage::AllocRenderInfo() {
  if (!renderInfo_) renderInfo_ = std::make_unique<RenderInfo>();
  return renderInfo_.get();
}

Bitmap::Bitmap(int width, int height, BitmapManager* manager)
    : storage_(std::make_unique<BitmapStorage>(width, height)), manager_(manager) {}
