// ClassDesc and ClassDesc2: the host's class descriptor, through which the
// host lists a plug-in class, creates its objects and finds its
// parameter-block descriptors.
//
// A plug-in derives from ClassDesc2 and overrides the class's identity
// operations. Every ParamBlockDesc2 names its class descriptor and
// registers with it when it is built; the descriptor's parameter-block
// operations (MakeAutoParamBlocks, GetParamBlockDesc, InvalidateUI) work on
// those registrations. A descriptor with a malformed parameter list still
// registers, so that IsValid/ErrorMessage let the module loader refuse the
// module with the descriptor's message.
#pragma once

#include <string>
#include <vector>

#include "host/platform/windows.h"
#include "max_types.h"
#include "ref.h"

class ParamBlockDesc2;
class IRendParams;
class IAutoEParamDlg;

// The class identity every module's descriptor answers; what the host's
// module loader lists (LibClassDesc gives one per class).
class ClassDesc {
 public:
  ClassDesc() = default;
  virtual ~ClassDesc();
  ClassDesc(const ClassDesc&) = delete;
  ClassDesc& operator=(const ClassDesc&) = delete;

  // --- the class's identity, in the host's virtual-table order ---
  // Nonzero when the class is listed to the user.
  virtual int IsPublic() = 0;
  // A new object of the class (the host casts it to the super class's base),
  // or null when it cannot be made. `loading` is TRUE when the object is
  // about to be filled from a scene file.
  virtual void* Create(BOOL loading = FALSE) = 0;
  // Texts may be null (a string that could not be loaded); the host copies
  // them at once.
  virtual const MCHAR* ClassName() = 0;
  virtual SClass_ID SuperClassID() = 0;
  virtual Class_ID ClassID() = 0;
  virtual const MCHAR* Category() = 0;
  // A fixed, untranslated name for scripts and scene files.
  virtual const MCHAR* InternalName() { return nullptr; }
  // The module that holds the class's resources.
  virtual HINSTANCE HInstance() { return nullptr; }
};

class ClassDesc2 : public ClassDesc {
 public:
  ClassDesc2() = default;
  // Registered parameter-block descriptors that outlive this descriptor
  // forget it (the usual order at module unload is the reverse: the block
  // descriptors first).
  ~ClassDesc2() override;

  // --- parameter-block descriptors ---
  // Called by a ParamBlockDesc2 naming this descriptor, when it is built.
  void AddParamBlockDesc(ParamBlockDesc2* pbd);
  // Called by a ParamBlockDesc2 when it is destroyed.
  void RemoveParamBlockDesc(ParamBlockDesc2* pbd);
  int NumParamBlockDescs() const { return static_cast<int>(descs_.size()); }
  // In registration order; null for an index out of range.
  ParamBlockDesc2* GetParamBlockDesc(int i) const;
  ParamBlockDesc2* GetParamBlockDescByID(BlockID id) const;

  // For every valid descriptor with P_AUTO_CONSTRUCT: a new block of its
  // defaults, installed with owner->ReplaceReference(refNo, block). A block
  // the owner refuses is deleted again.
  void MakeAutoParamBlocks(ReferenceMaker* owner);
  // Refreshes the open rollouts of every registered descriptor.
  void InvalidateUI();
  // The automatic rollouts of `obj`: one parameter map per rollout of every
  // descriptor with P_AUTO_UI, in declaration order, added to the panel
  // `ip` and bound to obj's blocks (iparamm2.h). Null when `ip` or `obj` is
  // null, when there is nothing to build, or when the build fails (the
  // reason is ip->LastError()). The host frees the result with DeleteThis.
  IAutoEParamDlg* CreateParamDialogs(IRendParams* ip, ReferenceTarget* obj);

  // How many parameter-block descriptors in this process have outlived the
  // class descriptor they registered with. A module builds its class
  // descriptor first and destroys it last, so this stays 0 across module
  // loads and unloads; the host checks it after closing a module.
  static int OrphanedParamBlockDescs();

  // True when every registered descriptor is valid.
  bool IsValid() const;
  // The messages of the invalid descriptors, one per line; empty when valid.
  std::string ErrorMessage() const;

 private:
  std::vector<ParamBlockDesc2*> descs_;
};
