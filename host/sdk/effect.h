// SpecialFX and Effect: the host's base classes of render effects.
//
// The host creates an effect through its class descriptor, keeps it in the
// scene's list of render effects, and after each frame is rendered calls
// Apply with the frame's bitmap.
#pragma once

#include <string>

#include "bitmap.h"
#include "check_abort.h"
#include "max_types.h"
#include "ref.h"

class IRendParams;
class EffectParamDlg;
class RenderGlobalContext;

class SpecialFX : public ReferenceTarget {
 public:
  static constexpr USHORT kNameChunk = 0x0100;

  // The effect's name as the user gave it; saved and loaded by the base.
  std::string name;

  // Writes the name chunk; the stream's failure is reported.
  IOResult Save(ISave* isave) override;
  // Reads the chunks of this level, taking the name chunk; other chunks are
  // skipped. IO_ERROR for a malformed stream.
  IOResult Load(ILoad* iload) override;

  virtual std::string GetName() { return std::string(); }
  // Active unless the host has switched the effect off.
  virtual BOOL Active(TimeValue) { return !disabled_; }
  void SetDisabled(bool disabled) { disabled_ = disabled; }
  virtual void Update(TimeValue, Interval&) {}

 private:
  bool disabled_ = false;
};

class Effect : public SpecialFX {
 public:
  SClass_ID SuperClassID() override { return RENDER_EFFECT_CLASS_ID; }

  // The rollouts of the effect's panel; none by default.
  virtual EffectParamDlg* CreateParamDialog(IRendParams*) { return nullptr; }
  // G-buffer channels (BMM_CHAN_* mask) the bitmap must carry for Apply.
  virtual DWORD GBufferChannelsRequired(TimeValue) { return 0; }
  // Paints the effect into the rendered frame at time t.
  virtual void Apply(TimeValue t, Bitmap* bm, RenderGlobalContext* gc, CheckAbortCallback* cb) = 0;
};
