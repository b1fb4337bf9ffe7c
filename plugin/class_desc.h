// Qe_VelumbraClassDesc: the one class descriptor of the module, through
// which the host lists the effect (category "Render Effect", name
// "Qe_Velumbra") and creates it.
#pragma once

#include "plugin/host.h"

class Qe_VelumbraClassDesc : public ClassDesc2 {
 public:
  int IsPublic() override;
  // A new Qe_Velumbra (as its Effect base) whatever `loading` says; null
  // when it cannot be allocated.
  void* Create(BOOL loading = FALSE) override;
  // GetString(3), passed on as is (null before the module handle is known).
  const MCHAR* ClassName() override;
  SClass_ID SuperClassID() override;
  Class_ID ClassID() override;
  // GetString(2), passed on as is.
  const MCHAR* Category() override;
  // A fixed text of the module, not taken from the string table.
  const MCHAR* InternalName() override;
  HINSTANCE HInstance() override;
};

// The module's class descriptor. Built on the first call, which the
// parameter-block descriptor's construction makes at module load, so the
// class descriptor is always built first and destroyed last.
ClassDesc2* GetQe_VelumbraDesc();
