#include "effect.h"

IOResult SpecialFX::Save(ISave* isave) {
  isave->BeginChunk(kNameChunk);
  const IOResult r = isave->WriteCString(name.c_str());
  isave->EndChunk();
  return r;
}

IOResult SpecialFX::Load(ILoad* iload) {
  IOResult r;
  while ((r = iload->OpenChunk()) == IO_OK) {
    IOResult inner = IO_OK;
    if (iload->CurChunkID() == kNameChunk) inner = iload->ReadCString(name);
    const IOResult closed = iload->CloseChunk();
    if (inner != IO_OK) return inner;
    if (closed != IO_OK) return closed;
  }
  return r == IO_END ? IO_OK : r;
}
