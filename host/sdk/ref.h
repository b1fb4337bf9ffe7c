// The host's reference system: objects that refer to other objects and are
// told when those change.
//
// A ReferenceMaker holds numbered references to ReferenceTargets; a target
// knows its dependents (the makers referring to it) and delivers change
// messages to them. ReplaceReference is the only way a reference is set, so
// the two sides always agree. A target that loses its last dependent through
// ReplaceReference or DeleteAllRefs with `delOld` is deleted (DeleteThis):
// the maker holding the only reference owns the target.
#pragma once

#include <string>
#include <vector>

#include "base_interface.h"
#include "interval.h"
#include "isave.h"
#include "max_types.h"

class ReferenceTarget;
class ReferenceMaker;
class IParamBlock2;
class RemapDir;
using RefTargetHandle = ReferenceTarget*;
using RefMakerHandle = ReferenceMaker*;
using BlockID = short;

using RefResult = int;
inline constexpr RefResult REF_FAIL = 0;
inline constexpr RefResult REF_SUCCEED = 1;
inline constexpr RefResult REF_DONTCARE = 2;
inline constexpr RefResult REF_STOP = 3;

using RefMessage = unsigned int;
inline constexpr RefMessage REFMSG_CHANGE = 0x50;
inline constexpr RefMessage REFMSG_TARGET_DELETED = 0x30;

using PartID = ULONG;
inline constexpr PartID PART_ALL = 0xFFFFFFFF;

class Animatable {
 public:
  virtual ~Animatable() = default;

  virtual void GetClassName(std::string& s) { s.clear(); }
  virtual Class_ID ClassID() { return Class_ID(); }
  virtual SClass_ID SuperClassID() { return 0; }
  // Destroys the object and returns its memory to the host's heap. Objects
  // of the reference system are created with `new` and end here.
  virtual void DeleteThis() { delete this; }

  virtual int NumSubs() { return 0; }
  virtual Animatable* SubAnim(int) { return nullptr; }
  virtual std::string SubAnimName(int) { return std::string(); }

  // The object's own chunks (not its references, which the host saves).
  virtual IOResult Save(ISave*) { return IO_OK; }
  virtual IOResult Load(ILoad*) { return IO_OK; }

  virtual int NumParamBlocks() { return 0; }
  virtual IParamBlock2* GetParamBlock(int) { return nullptr; }
  virtual IParamBlock2* GetParamBlockByID(BlockID) { return nullptr; }

  // The interface of ID `id` the object speaks (base_interface.h), owned by
  // the object; null when it speaks none of that ID.
  virtual BaseInterface* GetInterface(Interface_ID) { return nullptr; }
};

class ReferenceMaker : public Animatable {
 public:
  ~ReferenceMaker() override;

  virtual int NumRefs() { return 0; }
  virtual RefTargetHandle GetReference(int) { return nullptr; }

  // Makes reference `which` point at `target`: leaves the old target's
  // dependents (deleting it when `delOld` and no dependent is left), joins
  // the new target's, and stores it with SetReference.
  RefResult ReplaceReference(int which, RefTargetHandle target, BOOL delOld = TRUE);
  // Drops every reference (deleting targets left without dependents).
  void DeleteAllRefs();
  // How the host deletes a maker: drops its references (so that targets it
  // alone held, such as its parameter block, are deleted too), then
  // DeleteThis.
  void DeleteMe();

  // A target this maker refers to has changed (or is going away).
  virtual RefResult NotifyRefChanged(Interval changeInt, RefTargetHandle target, PartID& partID,
                                     RefMessage message) = 0;

  virtual BOOL IsRefTarget() { return FALSE; }

 protected:
  friend class ReferenceTarget;
  virtual void SetReference(int, RefTargetHandle) {}

 private:
  // The targets this maker has joined (one entry per reference), kept here
  // so that the base destructor can leave them without virtual calls.
  std::vector<ReferenceTarget*> held_;
};

class ReferenceTarget : public ReferenceMaker {
 public:
  ~ReferenceTarget() override;

  BOOL IsRefTarget() override { return TRUE; }

  // Sends `message` to every dependent; REF_STOP from one ends the delivery.
  RefResult NotifyDependents(Interval changeInt, PartID partID, RefMessage message);
  const std::vector<ReferenceMaker*>& Dependents() const { return dependents_; }

  // A copy of this target for a clone of its maker; null when not cloneable.
  virtual ReferenceTarget* Clone(RemapDir& remap);
  // Copies what the base classes own from `from` into `to` after a Clone.
  virtual void BaseClone(ReferenceTarget* from, ReferenceTarget* to, RemapDir& remap);

 private:
  friend class ReferenceMaker;
  void AddDependent(ReferenceMaker* maker);
  // True when `maker` was a dependent.
  bool RemoveDependent(ReferenceMaker* maker);

  std::vector<ReferenceMaker*> dependents_;
};

// Keeps track of what was cloned during one clone operation, so that shared
// targets are cloned once.
class RemapDir {
 public:
  virtual ~RemapDir() = default;
  // The clone of `target` made in this operation, making it on first use.
  virtual RefTargetHandle CloneRef(RefTargetHandle target);

 private:
  std::vector<std::pair<RefTargetHandle, RefTargetHandle>> done_;
};
