// Qe_Velumbra: the star-field render effect object.
//
// The host creates it through the class descriptor, keeps it among the
// scene's render effects, clones, saves and deletes it through its reference
// system, and calls Apply after each rendered frame. All its settings live in
// its one parameter block (reference 0, see qe_velumbra_params.h).
#pragma once

#include <string>

#include "plugin/host.h"

// The class ID of the effect and of its class descriptor.
inline constexpr Class_ID QE_VELUMBRA_CLASS_ID(0x06C94719, 0x211345D7);

class Qe_Velumbra : public Effect {
 public:
  // Bases, then pblock := null, then the class descriptor makes the block of
  // defaults and installs it as reference 0 (which sets pblock).
  Qe_Velumbra();

  // --- identity ---
  void GetClassName(std::string& s) override;  // "Qe_Velumbra"
  Class_ID ClassID() override { return QE_VELUMBRA_CLASS_ID; }
  std::string GetName() override;  // "Qe_Velumbra"

  // --- sub-animatables and parameter blocks: the one block, whatever index ---
  int NumSubs() override { return 1; }
  Animatable* SubAnim(int) override { return pblock; }
  int NumParamBlocks() override { return 1; }
  IParamBlock2* GetParamBlock(int) override { return pblock; }
  // The block when its ID equals `id` (16-bit comparison), else null.
  IParamBlock2* GetParamBlockByID(BlockID id) override;

  // --- references: reference 0 is the block, whatever index ---
  int NumRefs() override { return 1; }
  RefTargetHandle GetReference(int) override { return pblock; }
  // REFMSG_CHANGE from the block refreshes the open rollouts; every message
  // is answered REF_SUCCEED.
  RefResult NotifyRefChanged(Interval changeInt, RefTargetHandle target, PartID& partID,
                             RefMessage message) override;

  // --- rendering ---
  // The material-effects ID (2) and node ID (4) channels, always: the
  // compositing reads and writes both.
  DWORD GBufferChannelsRequired(TimeValue) override { return BMM_CHAN_MTL_ID | BMM_CHAN_NODE_ID; }
  void Apply(TimeValue t, Bitmap* bm, RenderGlobalContext* gc, CheckAbortCallback* cb) override;

  // --- members ---
  // Reference 0: the parameter block, owned by the reference system. Always
  // a block of this effect's descriptor, or null before it is installed.
  IParamBlock2* pblock = nullptr;

 protected:
  // Reference 0 (every index) is the block: `target` is an IParamBlock2.
  void SetReference(int i, RefTargetHandle target) override;
};
