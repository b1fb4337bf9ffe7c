#include "raster/pixel_target.h"

#include <algorithm>
#include <cstddef>

PixelTarget::PixelTarget(Bitmap* bitmap_, UBYTE applyMethod_)
    : bitmap(bitmap_),
      materialIdChannel(nullptr),
      materialIdToMatch(0),
      objectIdChannel(nullptr),
      objectIdToMatch(0),
      idWriteAlphaThreshold(32640),
      writeAlpha(1),
      writeMaterialId(0),
      writeObjectId(0),
      matchMaterialId(0),
      matchObjectId(0),
      applyMethod(applyMethod_),
      materialIdToWrite(0),
      objectIdToWrite(0),
      streakDimming{0.0f, 0.0f, 0.0f, 0.0f},
      maxX(-1),
      maxY(-1),
      clipY0(0),
      clipY1(-1),
      pixels(nullptr),
      width(0),
      light(nullptr),
      boxLoops(nullptr) {
  BitmapStorage* storage = bitmap ? bitmap->Storage() : nullptr;
  if (!storage) return;
  maxX = storage->Width() - 1;
  maxY = storage->Height() - 1;
  clipY1 = maxY;
  pixels = storage->Pixels();
  width = storage->Width();
  light = storage->LightLayer();
  // A channel of an unexpected element type is treated as absent rather than
  // read with the wrong width.
  ULONG type = BMM_CHAN_TYPE_UNKNOWN;
  void* materialIds = storage->GetChannel(BMM_CHAN_MTL_ID, type);
  if (materialIds && type == BMM_CHAN_TYPE_8) materialIdChannel = static_cast<UBYTE*>(materialIds);
  void* objectIds = storage->GetChannel(BMM_CHAN_NODE_ID, type);
  if (objectIds && type == BMM_CHAN_TYPE_16) objectIdChannel = static_cast<WORD*>(objectIds);
}
