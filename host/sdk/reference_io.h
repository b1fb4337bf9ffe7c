// How the host saves an object of the scene with its references, and loads
// it back.
//
// The object's own chunks (its Save) come first, then one chunk per
// reference. The stand-in host saves references that are parameter blocks
// (the only targets its plug-ins refer to) and empty references:
//
//   0x2000 object     what the object's Save wrote
//   0x2010 reference  one per reference index, in index order:
//     0x2011 slot     reference index (int32), kind (int8: 0 empty, 1 block),
//                     block ID (int16, blocks only)
//     0x2012 block    the block's chunks (IParamBlock2::Save)
//
// The stream holds every reference of the object (an empty one as such), and
// loading requires each of them. Loading builds each saved block afresh from its descriptor and, once the
// whole stream has been read without fault, installs the blocks with
// ReplaceReference (the blocks the object held before are released). On a
// fault nothing is installed, the new blocks are deleted, and the stream's
// Error() says what went wrong; the object's own Load has run by then, so
// the host discards the object.
#pragma once

#include "classdesc.h"
#include "isave.h"
#include "ref.h"

inline constexpr USHORT kObjectChunk = 0x2000;
inline constexpr USHORT kReferenceChunk = 0x2010;
inline constexpr USHORT kReferenceSlotChunk = 0x2011;
inline constexpr USHORT kReferenceBlockChunk = 0x2012;

// IO_OK when the object and every reference were written. A reference that
// is not a parameter block, or any failure of the stream or of an object's
// Save, is passed on (IO_ERROR when the object reported none), with the
// stream's Error() set.
IOResult SaveWithReferences(ReferenceMaker* maker, ISave* isave);

// Reads what SaveWithReferences wrote into `maker`, an object of the class
// `classDesc` describes (made by its Create). A saved block's descriptor is
// the one `classDesc` registered under the saved block ID.
IOResult LoadWithReferences(ReferenceMaker* maker, ClassDesc2* classDesc, ILoad* iload);
