// Qe_Velumbra: the star-field render effect object.
//
// The host creates it through the class descriptor, keeps it among the
// scene's render effects, clones, saves and deletes it through its reference
// system, and calls Apply after each rendered frame. All its settings live in
// its one parameter block (reference 0, see qe_velumbra_params.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "effect/pass_settings.h"
#include "effect/sky_catalogue.h"
#include "effect/sky_field.h"
#include "effect/sky_fill_in.h"
#include "effect/star_field_interface.h"
#include "plugin/host.h"
#include "render/cell_star_loop.h"
#include "render/star_loop.h"
#include "starfield/star_field.h"

// The class ID of the effect and of its class descriptor.
inline constexpr Class_ID QE_VELUMBRA_CLASS_ID(0x06C94719, 0x211345D7);

class Qe_Velumbra : public Effect {
 public:
  // Bases, then pblock := null, then the class descriptor makes the block of
  // defaults and installs it as reference 0 (which sets pblock).
  Qe_Velumbra();

  // Releases the star array; the block is released by the reference system.
  ~Qe_Velumbra() override;

  // Destroys the object (allocated by Create or Clone with the host's heap).
  void DeleteThis() override;

  // --- identity ---
  void GetClassName(std::string& s) override;  // "Qe_Velumbra"
  Class_ID ClassID() override { return QE_VELUMBRA_CLASS_ID; }
  std::string GetName() override;  // "Qe_Velumbra"

  // --- sub-animatables and parameter blocks: the one block, whatever index ---
  int NumSubs() override { return 1; }
  Animatable* SubAnim(int) override { return pblock; }
  // String 101, which the module's table does not hold: an empty name.
  std::string SubAnimName(int) override;
  int NumParamBlocks() override { return 1; }
  IParamBlock2* GetParamBlock(int) override { return pblock; }
  // The block when its ID equals `id` (16-bit comparison), else null.
  IParamBlock2* GetParamBlockByID(BlockID id) override;

  // --- interfaces: IStarField (effect/star_field_interface.h), else null ---
  BaseInterface* GetInterface(Interface_ID id) override;

  // --- references: reference 0 is the block, whatever index ---
  int NumRefs() override { return 1; }
  RefTargetHandle GetReference(int) override { return pblock; }
  // REFMSG_CHANGE from the block refreshes the open rollouts; every message
  // is answered REF_SUCCEED.
  RefResult NotifyRefChanged(Interval changeInt, RefTargetHandle target, PartID& partID,
                             RefMessage message) override;

  // --- persistence: the base's name chunk; the block is saved as reference 0
  // by the host. A failure of the base is passed on (IO_OK otherwise).
  IOResult Save(ISave* isave) override;
  IOResult Load(ILoad* iload) override;

  // A new effect with a clone of this one's block (the star field is rebuilt
  // at its first render). Null, touching no reference, when it cannot be
  // allocated.
  ReferenceTarget* Clone(RemapDir& remap) override;

  // --- rendering ---
  // The material-effects ID (2) and node ID (4) channels, always: the
  // compositing reads and writes both.
  DWORD GBufferChannelsRequired(TimeValue) override { return BMM_CHAN_MTL_ID | BMM_CHAN_NODE_ID; }
  // Runs the render pass on the threads the host grants (RenderThreadsGranted)
  // and writes what it could not do, or did another way, to the host's log
  // (GetHostLog(), titled with GetName()): an error entry when the image
  // lacks stars it should have ("not enough memory for N stars"), a warning
  // when a fallback gave the same image. No exception leaves it; where the
  // pass fails before it draws, the bitmap is left as it came.
  void Apply(TimeValue t, Bitmap* bm, RenderGlobalContext* gc, CheckAbortCallback* cb) override;
  // The render pass itself (effect/render_pass.cpp); may throw
  // std::bad_alloc before it draws. Returns the settings it read and chose
  // (as far as it got: a pass that stops early leaves the rest at their
  // defaults).
  PassSettings RenderPass(TimeValue t, Bitmap* bm, CheckAbortCallback* cb);
  // The six rollouts, built by the host (param_dialog.cpp); null when the host builds none.
  EffectParamDlg* CreateParamDialog(IRendParams* ip) override;

  // --- options of the render pass that are not parameters (never saved) ---
  // Set: the pass draws nothing and hands every drawing call it would make,
  // in order, to this observer. Not owned. Null (the default): it draws.
  DrawCallObserver* drawCallObserver = nullptr;
  // The pass leaves out the stars the field's visibility index proves
  // cannot reach the image (the same image, progress and abort points), and
  // catalogue stars whose drawing calls cannot reach it before their light
  // is measured. False visits and measures every star: the reference both
  // are tested against.
  bool visibilityIndex = true;

  // --- members ---
  // Reference 0: the parameter block, owned by the reference system. Always
  // a block of this effect's descriptor, or null before it is installed.
  IParamBlock2* pblock = nullptr;

  // The cached stars with their generation key (count, seed, colours,
  // variance, alpha, sizes, balance) and generator. Kept from one render to
  // the next; regenerated only when the key changes.
  StarField starField;
  // The star catalogue (starsource 1), parsed once per version of its file,
  // the fill-in below its limit (fillinflag; made once per catalogue version
  // and seed), and their stars placed for the latest render
  // (effect/sky_field.h).
  SkyCatalogue skyCatalogue;
  SkyFillIn skyFillIn;
  SkyField skyField;
  // The latest pass's flags of the cells it kept and bitmap of the stars it
  // kept (one bit a star, for a field by index), kept so that the next pass
  // reuses their memory instead of faulting in fresh pages.
  std::vector<std::uint8_t> keptCells;
  std::vector<std::uint64_t> keptStars;
  // The parallel star loop's recordings and the batches of the loop over a
  // field by cell, kept likewise (memory only: the const LoopOptions hands
  // them out).
  mutable ParallelStarLoop loopMemory;
  mutable CellBatches cellBatches;

 protected:
  // Writes a `type` entry (SYSLOG_ERROR, SYSLOG_WARN) titled with the
  // effect's name to the host's log; printf-style message.
  void LogFailure(DWORD type, const char* format, ...) __attribute__((format(printf, 3, 4)));

  // Reference 0 (every index) is the block: `target` is an IParamBlock2.
  void SetReference(int i, RefTargetHandle target) override;

 public:
  // The star loop options of a pass under the host's current grant: the
  // parallel loop on the granted threads when two or more are granted,
  // otherwise the serial loop on the calling thread; the pass's observer.
  StarLoopOptions LoopOptions() const;

 private:
  void ReportLoop(StarLoopRun run);
  // Brings the catalogue and its placed stars up to the render time; false
  // (logged as bad input, with the file, line or parameter) when they
  // cannot be had.
  bool RefreshSky(TimeValue t, int alpha16);

  QeStarFieldInterface starFieldInterface_{*this};
};
