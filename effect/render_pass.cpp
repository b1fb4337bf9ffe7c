// Qe_Velumbra::RenderPass: the render pass, once per rendered frame (Apply,
// the host's entry, runs it and reports what failed).
//
// In order: read the generation settings and bring the cached star field up
// to date; read the placement and compositing settings; choose the view (a
// picked camera, the scene camera that renders, or the render's own matrix)
// and the origin; build the compositing context; then either the
// scintillation pass or the main pass (motion blur, optionally stretched by
// hyperspace), each star in index order, with progress every 256 stars.
//
// Every parameter is read at the render time t with the validity interval
// that spans all time; the per-sample placement settings of motion blur are
// read at each sample's own time.
//
// With starsource "Catalogue" the stars are the catalogue's (effect/sky_field.h)
// instead of the generated field's: the same steps, each star drawn by its
// light (render/light_path.h).

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "effect/param_value.h"
#include "effect/qe_velumbra.h"
#include "effect/qe_velumbra_params.h"
#include "raster/coverage.h"
#include "raster/pixel_target.h"
#include "render/cell_star_loop.h"
#include "render/cell_visibility.h"
#include "render/hyperspace.h"
#include "render/light_path.h"
#include "render/motion_blur.h"
#include "render/scintillation.h"
#include "render/star_loop.h"
#include "starfield/star_field_key.h"
#include "starfield/view_transforms.h"

namespace {

constexpr const char* kRenderingTitle = "Qe_Velumbra: Rendering Star Field";

// The tolerance within which a picked camera's view is taken to be the
// render's view (per matrix element, absolute).
constexpr float kCameraTolerance = 0.01f;

// Reads parameters of one block at one time, each with a fresh all-time
// validity interval (never examined afterwards).
class ParamReader {
 public:
  ParamReader(IParamBlock2* pb, TimeValue t) : pb_(pb), t_(t) {}

  int Int(ParamID id) const { return Read<int>(id, 0); }
  float Float(ParamID id) const { return Read<float>(id, 0.0f); }
  Color Colour(ParamID id) const { return Read<Color>(id, Color()); }
  INode* Node(ParamID id) const { return Read<INode*>(id, nullptr); }

  // The three settings StarToCamera uses, at time s (the 3D switch is the
  // pass's, read at the render time).
  StarPlacement PlacementAt(TimeValue s, bool domain3d) const {
    ParamReader at(pb_, s);
    StarPlacement p;
    p.velumbraLimit = at.Float(pb_velumbralimit);
    p.domain3d = domain3d;
    if (domain3d) {
      p.domainRadius = at.Float(pb_starsdomain3dradius);
      p.radialDensityBalance = at.Float(pb_radialdensitybalance);
    }
    return p;
  }

 private:
  template <typename T>
  T Read(ParamID id, T fallback) const {
    return ParamValueAt(pb_, id, t_, fallback);
  }

  IParamBlock2* pb_;
  TimeValue t_;
};

// --- the steps of the pass, in the order it takes them ---------------------

// 2. The stamps and masks, the band limit and the 3D domain.
void ReadPlacementAndMasks(const ParamReader& read, PassSettings& s) {
  using C = PassSettings::Compositing;
  static constexpr std::pair<ParamID, int C::*> kStampsAndMasks[] = {
      {pb_starsobjectidflag, &C::starsObjectIdFlag},     {pb_starsobjectid, &C::starsObjectId},
      {pb_starsmaterialidflag, &C::starsMaterialIdFlag}, {pb_starsmaterialid, &C::starsMaterialId},
      {pb_bakobjectidflag, &C::bakObjectIdFlag},         {pb_bakobjectid, &C::bakObjectId},
      {pb_bakmaterialidflag, &C::bakMaterialIdFlag},     {pb_bakmaterialid, &C::bakMaterialId},
  };
  for (const auto& [id, field] : kStampsAndMasks) s.compositing.*field = read.Int(id);
  s.placement.velumbraLimit = read.Float(pb_velumbralimit);
  s.placement.domain3d = read.Int(pb_starsdomain3dflag) != 0;
  s.placement.domainRadius = read.Float(pb_starsdomain3dradius);
}

// The render's camera and projection; null without them (there is no view
// to place the stars in: nothing is drawn).
const RenderInfo* RenderInfoOf(Bitmap* bm) {
  BitmapStorage* storage = bm ? bm->Storage() : nullptr;
  return storage ? storage->GetRenderInfo() : nullptr;
}

// The scene camera whose view at time t is `view` (the render's
// world-to-camera matrix): it becomes the camera the pass follows, with its
// own view, and is written into the `camera` parameter so that the next
// render recognises it by the quick check, without a search of the scene.
// Without one the view stays the render's (only turning, outside the 3D
// domain).
void RecogniseRenderCamera(IParamBlock2* pblock, TimeValue t, Bitmap* bm, bool domain3d, PassSettings::View& v) {
  Interface* ip = bm && bm->Manager() ? bm->Manager()->Max() : nullptr;
  INode* root = ip ? ip->GetRootNode() : nullptr;
  v.cameraNode = FindCameraByView(root, t, v.viewMatrix);
  if (v.cameraNode) {
    v.viewMatrix = GetCameraViewMatrix(v.cameraNode, t, domain3d);
    pblock->SetValue(pb_camera, t, v.cameraNode);
  } else if (!domain3d) {
    v.viewMatrix.NoTrans();
  }
}

// 4. The view: the picked camera when asked for; otherwise the render's
// matrix, and the scene camera that matches it, followed over the
// motion-blur interval.
void ChooseView(const ParamReader& read, IParamBlock2* pblock, TimeValue t, Bitmap* bm, const RenderInfo& ri,
                PassSettings& s) {
  const bool domain3d = s.placement.domain3d;
  PassSettings::View& v = s.view;
  v.useCameraFlag = read.Int(pb_usecameraflag);
  INode* picked = read.Node(pb_camera);
  if (v.useCameraFlag && picked) {
    v.cameraNode = picked;
    v.viewMatrix = GetCameraViewMatrix(picked, t, domain3d);
    return;
  }
  v.useCameraFlag = 0;
  v.viewMatrix = ri.worldToCam[0];
  v.cameraNode = picked;
  if (v.cameraNode && Inverse(v.cameraNode->GetNodeTM(t)).Equals(v.viewMatrix, kCameraTolerance))
    v.viewMatrix = GetCameraViewMatrix(v.cameraNode, t, domain3d);
  else
    RecogniseRenderCamera(pblock, t, bm, domain3d, v);
}

// 5. The origin: the identity, or the picked origin object.
void ChooseOrigin(const ParamReader& read, TimeValue t, PassSettings& s) {
  PassSettings::View& v = s.view;
  v.origin = Matrix3::Identity();
  v.useObjOriginFlag = read.Int(pb_useobjoriginflag);
  v.originNode = read.Node(pb_objectorigin);
  if (v.useObjOriginFlag && v.originNode)
    v.origin = GetOriginMatrix(v.originNode, t, s.placement.domain3d);
  else if (v.useObjOriginFlag)
    v.useObjOriginFlag = 0;
}

// 6. The compositing context.
PixelTarget MakeTarget(Bitmap* bm, const PassSettings& s) {
  const PassSettings::Compositing& c = s.compositing;
  PixelTarget target(bm, static_cast<UBYTE>(c.drawMode & 0xFF));
  target.writeAlpha = s.stars.starsAlphaFlag;
  target.writeMaterialId = c.starsMaterialIdFlag;
  target.materialIdToWrite = c.starsMaterialId;
  target.writeObjectId = c.starsObjectIdFlag;
  target.objectIdToWrite = c.starsObjectId;
  target.matchMaterialId = c.bakMaterialIdFlag;
  target.materialIdToMatch = static_cast<UBYTE>(c.bakMaterialId & 0xFF);
  target.matchObjectId = c.bakObjectIdFlag;
  target.objectIdToMatch = static_cast<WORD>(c.bakObjectId & 0xFFFF);
  return target;
}

// 7. The scintillation settings; locked, y follows x, and the rollout
// shows it.
void ReadScintillation(const ParamReader& read, IParamBlock2* pblock, TimeValue t, PassSettings& s) {
  ScintillationSettings& sc = s.scintillation;
  sc.seed = read.Int(pb_scintillationseed);
  sc.frequency = read.Float(pb_scintillationfrequency);
  sc.dx = read.Float(pb_scintillationdx);
  s.scintLockFlag = read.Int(pb_scintillationlockdxyflag);
  if (s.scintLockFlag == 0) {
    sc.dy = sc.dx;
    pblock->SetValue(pb_scintillationdy, t, sc.dx);
  } else {
    sc.dy = read.Float(pb_scintillationdy);
  }
  sc.multiplier = read.Float(pb_scintillationmultiplier);
  sc.dimmer = read.Float(pb_scintillationdimmer) * 256.0f;
}

// 8. Hyperspace, then motion blur's duration, subdivisions and streak
// dimming (given to the target too).
void ReadHyperspace(const ParamReader& read, TimeValue t, PassSettings& s) {
  s.hyperspaceFlag = read.Int(pb_hyperspaceflag);
  if (!s.hyperspaceFlag) return;
  Hyperspace& h = s.hyperspace;
  h.depth = read.Float(pb_hyperspacedepth);
  if (s.placement.domain3d) h.depth = h.depth * s.placement.domainRadius;
  h.direction = read.Int(pb_hyperspacedirection);
  if (h.direction == Hyperspace::kObjectXAxis) {
    s.directionNode = read.Node(pb_hsdirectionobject);
    h.xAxis = s.directionNode ? s.directionNode->GetNodeTM(t).GetRow(0) : Point3(1, 0, 0);
  }
}

void ReadMotionBlur(const ParamReader& read, PassSettings& s, PixelTarget& target) {
  PassSettings::MotionBlur& m = s.motionBlur;
  m.duration = read.Float(pb_duration);
  m.subdivisions = read.Int(pb_durationsubdivisions);
  const Color filter = read.Colour(pb_starsdimmingfilter);
  m.dimmingFilter[0] = 1.0f - filter.r;
  m.dimmingFilter[1] = 1.0f - filter.g;
  m.dimmingFilter[2] = 1.0f - filter.b;
  const float dimming = read.Float(pb_starsdimming);
  // Fewer than one subdivision (only a script can set it) would divide the
  // interval by zero and draw nothing: it counts as one.
  const int n = m.subdivisions < 1 ? 1 : m.subdivisions;
  StreakDimming(n, dimming, filter, target.streakDimming);
  m.dimming = static_cast<float>(n) * dimming;
  for (int c = 0; c < 3; ++c) m.channelDimming[c] = target.streakDimming[c];
}

// The motion-blur samples k = 0..n: the render time's view and origin, then
// each sample's own (the followed camera's and origin object's) and its
// placement settings.
void SampleMotionPath(const ParamReader& read, TimeValue t, int n, const PassSettings& s, MotionBlurPath& path) {
  const PassSettings::View& v = s.view;
  const bool domain3d = s.placement.domain3d;
  // Ticks per segment, the quotient first.
  const float step = static_cast<float>(GetTicksPerFrame()) * (s.motionBlur.duration / static_cast<float>(n));
  for (int k = 0; k <= n; ++k) {
    const TimeValue time = SampleTime(t, k, step);
    const Matrix3 o = k == 0 || !v.useObjOriginFlag ? v.origin : GetOriginMatrix(v.originNode, time, domain3d);
    const Matrix3 m = k == 0 || !v.cameraNode ? v.viewMatrix : GetCameraViewMatrix(v.cameraNode, time, domain3d);
    path.SetSample(k, time, o, m, read.PlacementAt(time, domain3d));
  }
}

// The sample of a pass at one time.
CellSample SampleOf(const Matrix3& origin, const Matrix3& view, const StarPlacement& placement) {
  CellSample s;
  s.origin = origin;
  s.view = view;
  s.velumbraLimit = placement.velumbraLimit;
  s.domain3d = placement.domain3d;
  s.domainRadius = placement.domainRadius;
  s.radialDensityBalance = placement.radialDensityBalance;
  return s;
}

// What the drawing steps use of the effect: the cached field, the kept
// cells' flags and stars' bitmap (their memory reused from pass to pass),
// whether the visibility index may leave stars out, and the star loop's
// options; with catalogue stars, their field (the generated one is not
// drawn then).
struct PassTools {
  const StarField& field;
  std::vector<std::uint8_t>& keptCells;
  std::vector<std::uint64_t>& keptStars;
  bool visibilityIndex;
  StarLoopOptions options;
  const SkyField* sky = nullptr;
};

// The stars a pass visits: a bitmap of them and the flags of their cells
// (null: every star).
struct KeptStars {
  const std::uint64_t* stars = nullptr;
  const std::uint8_t* cells = nullptr;
};

// The stars of the field's cells that can reach the image of `target` from
// the samples, each drawn point's pixels within the largest star radius
// plus `offset` pixels of its projection (with room for the box's whole
// pixels and rounding); every star where none can be left out (no index, no
// bound, no memory).
KeptStars VisibleStars(const PassTools& tools, const CellSample* samples, int samplesCount, const RenderInfo& ri,
                       const PixelTarget& target, double offset) {
  const VisibilityIndex& index = tools.field.index();
  const std::uint32_t count = tools.field.count();
  KeptStars kept;
  if (!tools.visibilityIndex || !index.built() || index.count() != count) return kept;
  const double margin = static_cast<double>(index.maxSize()) + 3.0 + offset;
  if (!VisibleCells(samples, samplesCount, ri, target.maxX, target.maxY, margin, tools.keptCells)) return kept;
  try {
    tools.keptStars.assign((static_cast<size_t>(count) + 63) / 64, 0);
  } catch (const std::bad_alloc&) {
    return kept;
  }
  index.MarkStars(tools.keptCells.data(), tools.keptStars.data(), RenderThreadsGranted());
  kept.stars = tools.keptStars.data();
  kept.cells = tools.keptCells.data();
  return kept;
}

// The stars of cells that can reach the image at some motion sample (or,
// with hyperspace, displaced).
KeptStars VisibleOnPath(const PassTools& tools, const MotionBlurPath& path, int n, const Hyperspace* shift,
                        const RenderInfo& ri, const PixelTarget& target) {
  try {
    std::vector<CellSample> samples(static_cast<size_t>(n) + 1);
    for (int k = 0; k <= n; ++k) {
      CellSample& s = samples[static_cast<size_t>(k)];
      s = SampleOf(path.Origin(k), path.View(k), path.Placement(k));
      if (shift) {
        s.displaced = true;
        s.displacement = shift->Displacement(path.View(k));
      }
    }
    return VisibleStars(tools, samples.data(), n + 1, ri, target, 0.0);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

// The star loop over the kept stars of the field, in its order: draw(i,
// record, sink) makes star i's calls.
template <class Draw>
StarLoopRun RunPassLoop(const PassTools& tools, KeptStars kept, PixelTarget& target, CheckAbortCallback* cb,
                        int opsPerStar, Draw&& draw) {
  const StarField& field = tools.field;
  if (field.cellOrdered()) {
    const VisibilityIndex& index = field.index();
    const CellStarSet set{field.count(), field.stars(), index.order(), index.starts(0), kept.cells, kept.stars};
    return RunCellStarLoop(set, target, cb, opsPerStar, tools.options, draw);
  }
  const StarRecord* stars = field.stars();
  const StarSet set{field.count(), kept.stars, stars, sizeof(StarRecord)};
  return RunStarLoop(set, target, cb, opsPerStar, tools.options,
                     [&](std::uint32_t i, auto& sink) { draw(i, stars[i], sink); });
}

// Catalogue star i drawn by its light: `emit(sink)` makes its drawing
// calls; they are measured, then drawn with the gain that lays down the
// star's light. With `cull` a star none of whose calls can reach the image
// is left out before it is measured (it would draw nothing); without, every
// star is measured (the reference the culling is tested against).
template <class Sink, class Emit>
void EmitByLight(const SkyField& sky, std::uint32_t i, int alpha16, const PixelTarget& target, bool cull, Sink& sink,
                 const Emit& emit) {
  if (cull) {
    ReachSink reach{static_cast<float>(target.maxX), static_cast<float>(target.maxY)};
    emit(reach);
    if (!reach.reaches) return;
  }
  CoverageSink measure;
  emit(measure);
  if (!(measure.sum > 0.0)) return;  // nothing of it can be drawn
  const float gain = static_cast<float>(static_cast<double>(sky.lightScale()[i]) / measure.sum);
  LightSink<Sink> light{sink, gain, StarAlpha(alpha16, gain)};
  emit(light);
}

// 7. The scintillation pass (no motion blur, no hyperspace). Stars of cells
// that cannot reach the image are left out; the offsets are Catmull-Rom
// values of keys within +-dx, +-dy at a phase in 0..1, at most 1.25 times
// the amplitude away.
StarLoopRun DrawScintillation(const StarPlacement& placement, TimeValue t, const RenderInfo& ri, PixelTarget& target,
                              CheckAbortCallback* cb, const PassTools& tools, const PassSettings& s) {
  const ScintillationSettings& sc = s.scintillation;
  const ScintillationPass pass(sc, t);
  if (cb) cb->SetTitle(kRenderingTitle);
  const Matrix3 view = s.view.viewMatrix;
  const Matrix3 origin = s.view.origin;
  if (tools.sky) {
    const SkyField& sky = *tools.sky;
    const StarRecord* records = sky.stars();
    const StarSet set{sky.count(), nullptr, records, sizeof(StarRecord)};
    return RunStarLoop(set, target, cb, 1, tools.options, [&](std::uint32_t i, auto& sink) {
      float x, y;
      BMM_Color_64 c;
      if (!pass.Place(i, records[i], placement, origin, view, ri, x, y, c)) return;
      EmitByLight(sky, i, s.alpha16, target, tools.visibilityIndex, sink,
                  [&](auto& to) { to.Splat(Point2(x, y), c, records[i].size); });
    });
  }
  KeptStars kept;
  const float frac = pass.frac();
  const double amplitude = std::max(std::fabs(static_cast<double>(sc.dx)), std::fabs(static_cast<double>(sc.dy)));
  if (frac >= 0.0f && frac < 1.0f && std::isfinite(amplitude)) {
    const CellSample sample = SampleOf(origin, view, placement);
    kept = VisibleStars(tools, &sample, 1, ri, target, 1.5 * amplitude + 1.0);
  }
  return RunPassLoop(tools, kept, target, cb, 1, [&](std::uint32_t i, const StarRecord& star, auto& sink) {
    float x, y;
    BMM_Color_64 c;
    if (pass.Place(i, star, placement, origin, view, ri, x, y, c)) sink.Splat(Point2(x, y), c, star.size);
  });
}

// 9. The main pass: each star's path over the samples, brightest first.
StarLoopRun DrawMotionBlur(const MotionBlurPath& path, int n, const RenderInfo& ri, PixelTarget& target,
                           CheckAbortCallback* cb, const PassTools& tools, const PassSettings& s) {
  const Hyperspace* shift = s.hyperspaceFlag ? &s.hyperspace : nullptr;
  const Point2 imageMax(static_cast<float>(target.maxX), static_cast<float>(target.maxY));
  if (tools.sky) {
    const SkyField& sky = *tools.sky;
    const StarRecord* records = sky.stars();
    const StarSet set{sky.count(), nullptr, records, sizeof(StarRecord)};
    return RunStarLoop(set, target, cb, n, tools.options, [&](std::uint32_t i, auto& sink) {
      EmitByLight(sky, i, s.alpha16, target, tools.visibilityIndex, sink,
                  [&](auto& to) { path.EmitStarPath(records[i], ri, shift, imageMax, to); });
    });
  }
  const KeptStars kept = VisibleOnPath(tools, path, n, shift, ri, target);
  return RunPassLoop(tools, kept, target, cb, n, [&](std::uint32_t, const StarRecord& star, auto& sink) {
    path.EmitStarPath(star, ri, shift, imageMax, sink);
  });
}

}  // namespace

PassSettings Qe_Velumbra::RenderPass(TimeValue t, Bitmap* bm, CheckAbortCallback* cb) {
  PassSettings s;
  if (!pblock) return s;
  const ParamReader read(pblock, t);

  // 1. The star field: its key, then a refresh that regenerates only when
  // the key changed.
  s.stars = StarFieldParamsAt(pblock, t);  // the reader `velumbra stars` asks too
  const StarFieldKey key = MakeStarFieldKey(s.stars);
  s.alpha16 = key.alpha16;
  // Or the catalogue's stars: a file the user named that cannot be read
  // ends the pass with its reason in the host's log, as bad input.
  s.starSource = read.Int(pb_starsource);
  const bool catalogue = s.starSource == starsource_catalogue;
  if (catalogue) {
    if (!RefreshSky(t, s.alpha16)) return s;
  } else if (!starField.RefreshStarField(key, cb)) {
    return s;
  }

  // 2.-6. Placement, masks, view, origin and the compositing context.
  ReadPlacementAndMasks(read, s);
  const RenderInfo* ri = RenderInfoOf(bm);
  if (!ri) return s;
  ChooseView(read, pblock, t, bm, *ri, s);
  ChooseOrigin(read, t, s);
  s.compositing.drawMode = read.Int(pb_drawmode);
  PixelTarget target = MakeTarget(bm, s);
  const PassTools tools{starField, keptCells, keptStars, visibilityIndex, LoopOptions(), catalogue ? &skyField : nullptr};

  // 7. Scintillation replaces the main pass.
  s.scintillationFlag = read.Int(pb_scintillationflag);
  if (s.scintillationFlag) {
    ReadScintillation(read, pblock, t, s);
    const StarPlacement placement = read.PlacementAt(t, s.placement.domain3d);
    s.placement.radialDensityBalance = placement.radialDensityBalance;
    ReportLoop(DrawScintillation(placement, t, *ri, target, cb, tools, s));
    return s;
  }

  // 8. The main pass's set-up: hyperspace, motion blur and its samples.
  ReadHyperspace(read, t, s);
  ReadMotionBlur(read, s, target);
  const int n = s.motionBlur.subdivisions < 1 ? 1 : s.motionBlur.subdivisions;
  MotionBlurPath path;
  if (!path.Allocate(n)) {
    LogFailure(SYSLOG_ERROR, "not enough memory for %d motion-blur subdivisions", n);
    return s;
  }
  SampleMotionPath(read, t, n, s, path);
  s.placement.radialDensityBalance = path.Placement(0).radialDensityBalance;
  if (cb) cb->SetTitle(kRenderingTitle);

  // 9. The star loop.
  ReportLoop(DrawMotionBlur(path, n, *ri, target, cb, tools, s));
  return s;
}

bool Qe_Velumbra::RefreshSky(TimeValue t, int alpha16) {
  const SkyParams p = SkyParamsAt(pblock, t);
  std::string error;
  if (skyCatalogue.Refresh(p.catalogFile.c_str(), error) &&
      PlaceSkyStars(skyCatalogue, skyFillIn, skyField, p, t, alpha16, error))
    return true;
  LogFailure(SYSLOG_ERROR | SYSLOG_INPUT, "%s", error.c_str());
  return false;
}

StarLoopOptions Qe_Velumbra::LoopOptions() const {
  StarLoopOptions options;
  // One granted thread is the calling thread: the serial loop.
  const int granted = RenderThreadsGranted();
  options.threads = granted >= 2 ? granted : 0;
  options.observer = drawCallObserver;
  options.memory = &loopMemory;
  options.cellMemory = &cellBatches;
  return options;
}

void Qe_Velumbra::ReportLoop(StarLoopRun run) {
  if (run == StarLoopRun::kSerialAfterFailure)
    LogFailure(SYSLOG_WARN, "not enough memory to draw the stars on %d threads; drawn on one",
               RenderThreadsGranted());
  else if (run == StarLoopRun::kNoMemory)
    LogFailure(SYSLOG_ERROR, "not enough memory to draw the stars");
}
