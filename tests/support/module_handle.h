// The module's own resources as the tests reach them: the tables the build
// compiled from resources/Qe_Velumbra.rc, and a scope that records their
// handle as the module's hInstance the way the entry routine does.
#pragma once

#include "plugin/strings.h"

extern "C" const ModuleResources HostModuleResources;

inline const ModuleResources* Module() { return ModuleResourcesOf(InstanceHandleOf(&HostModuleResources)); }

class ScopedInstance {
 public:
  explicit ScopedInstance(HINSTANCE h = InstanceHandleOf(&HostModuleResources)) : saved_(hInstance) {
    hInstance = h;
  }
  ~ScopedInstance() { hInstance = saved_; }
  ScopedInstance(const ScopedInstance&) = delete;
  ScopedInstance& operator=(const ScopedInstance&) = delete;

 private:
  HINSTANCE saved_;
};
