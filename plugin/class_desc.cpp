#include "plugin/class_desc.h"

#include <new>

#include "effect/qe_velumbra.h"
#include "plugin/strings.h"
#include "resources/resource.h"

int Qe_VelumbraClassDesc::IsPublic() { return 1; }

void* Qe_VelumbraClassDesc::Create(BOOL) {
  // No exception crosses into the host: a failed allocation anywhere in
  // the construction (the object or its parameter block) gives null.
  try {
    Qe_Velumbra* effect = new (std::nothrow) Qe_Velumbra();
    return effect ? static_cast<Effect*>(effect) : nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

const MCHAR* Qe_VelumbraClassDesc::ClassName() { return GetString(IDS_CLASS_NAME); }

SClass_ID Qe_VelumbraClassDesc::SuperClassID() { return RENDER_EFFECT_CLASS_ID; }

Class_ID Qe_VelumbraClassDesc::ClassID() { return QE_VELUMBRA_CLASS_ID; }

const MCHAR* Qe_VelumbraClassDesc::Category() { return GetString(IDS_CATEGORY); }

const MCHAR* Qe_VelumbraClassDesc::InternalName() { return "Qe_Velumbra"; }

HINSTANCE Qe_VelumbraClassDesc::HInstance() { return hInstance; }

ClassDesc2* GetQe_VelumbraDesc() {
  static Qe_VelumbraClassDesc desc;
  return &desc;
}
