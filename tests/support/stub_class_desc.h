// A class descriptor for tests that need one: the owner of a parameter
// block built in the test, or a class a lookup hands out. It answers a
// render effect's identity and makes what `create` makes (nothing without
// it).
#pragma once

#include <functional>
#include <utility>

#include "host/sdk/classdesc.h"

class StubClassDesc : public ClassDesc2 {
 public:
  explicit StubClassDesc(const MCHAR* name = "Test", Class_ID id = Class_ID(1, 2), HINSTANCE instance = nullptr,
                         std::function<void*()> create = {})
      : name_(name), id_(id), instance_(instance), create_(std::move(create)) {}
  int IsPublic() override { return create_ ? 1 : 0; }
  void* Create(BOOL) override { return create_ ? create_() : nullptr; }
  const MCHAR* ClassName() override { return name_; }
  SClass_ID SuperClassID() override { return superClass; }
  Class_ID ClassID() override { return id_; }
  const MCHAR* Category() override { return "Test"; }
  HINSTANCE HInstance() override { return instance_; }

  SClass_ID superClass = RENDER_EFFECT_CLASS_ID;

 private:
  const MCHAR* name_;
  Class_ID id_;
  HINSTANCE instance_;
  std::function<void*()> create_;
};
