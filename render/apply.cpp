// Qe_Velumbra::RenderPass: the render pass, once per rendered frame (Apply,
// the host's entry, runs it and reports what failed).
//
// In order: read the generation settings and bring the cached star field up
// to date; read the placement and mask settings; choose the view (a picked
// camera, the scene camera that renders, or the render's own matrix) and the
// origin; build the compositing context; then either the scintillation pass
// or the main pass (motion blur, optionally stretched by hyperspace), each
// star in index order, with progress every 256 stars.
//
// Every parameter is read at the render time t with the validity interval
// that spans all time, in a fixed order; the per-sample placement settings
// of motion blur are read at each sample's own time.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#include "effect/qe_velumbra.h"
#include "effect/qe_velumbra_params.h"
#include "raster/pixel_target.h"
#include "render/cell_visibility.h"
#include "render/hyperspace.h"
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
    T v = fallback;
    Interval valid = FOREVER;
    pb_->GetValue(id, t_, v, valid);
    return v;
  }

  IParamBlock2* pb_;
  TimeValue t_;
};

}  // namespace

namespace {

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

// The stars of `index` that can reach the image of `target` from the
// samples, each drawn point's pixels within the largest star radius plus
// `offset` pixels of its projection (with room for the box's whole pixels
// and rounding), as a bitmap in `bits`; null when every star must be
// visited (no index, no bound, no memory).
const std::uint64_t* VisibleStars(const VisibilityIndex& index, std::uint32_t count, const CellSample* samples,
                                  int samplesCount, const RenderInfo& ri, const PixelTarget& target, double offset,
                                  std::vector<std::uint64_t>& bits) {
  if (!index.built() || index.count() != count) return nullptr;
  const double margin = static_cast<double>(index.maxSize()) + 3.0 + offset;
  std::vector<std::uint8_t> cells;
  if (!VisibleCells(samples, samplesCount, ri, target.maxX, target.maxY, margin, cells)) return nullptr;
  try {
    bits.assign((static_cast<size_t>(count) + 63) / 64, 0);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  index.MarkStars(cells.data(), bits.data(), RenderThreadsGranted());
  return bits.data();
}

}  // namespace

void Qe_Velumbra::FindRenderCamera(TimeValue t, Bitmap* bm) {
  const bool domain3d = domain3dFlag != 0;
  Interface* ip = bm && bm->Manager() ? bm->Manager()->Max() : nullptr;
  INode* root = ip ? ip->GetRootNode() : nullptr;
  cameraNode = FindCameraByView(root, t, viewMatrix);
  if (cameraNode) {
    viewMatrix = GetCameraViewMatrix(cameraNode, t, domain3d);
    // The next render recognises this camera by the quick check, without a
    // search of the scene.
    if (pblock) pblock->SetValue(pb_camera, t, cameraNode);
  } else if (!domain3d) {
    viewMatrix.NoTrans();
  }
}

void Qe_Velumbra::RenderPass(TimeValue t, Bitmap* bm, CheckAbortCallback* cb) {
  if (!pblock) return;
  const ParamReader read(pblock, t);

  // 1. The star field: its key, then a refresh that regenerates only when
  // the key changed.
  StarFieldParams gen;
  gen.starsCount = read.Int(pb_starscount);
  gen.seed = read.Int(pb_seed);
  gen.brightColor = read.Colour(pb_brightstarscolor);
  gen.dimColor = read.Colour(pb_dimstarscolor);
  gen.colorVariancePercent = read.Float(pb_colorvariance);
  gen.brightDimBalance = read.Float(pb_brightdimbalance);
  gen.brightSize = read.Float(pb_brightstarssize);
  gen.dimSize = read.Float(pb_dimstarssize);
  starsAlphaFlag = read.Int(pb_starsalphaflag);
  gen.starsAlphaFlag = starsAlphaFlag != 0;
  gen.starsAlpha = read.Int(pb_starsalpha);
  const StarFieldKey key = MakeStarFieldKey(gen);
  alpha16 = key.alpha16;
  if (!starField.RefreshStarField(key, cb)) return;

  // 2. Placement and mask settings.
  starsObjectIdFlag = read.Int(pb_starsobjectidflag);
  starsObjectId = read.Int(pb_starsobjectid);
  starsMaterialIdFlag = read.Int(pb_starsmaterialidflag);
  starsMaterialId = read.Int(pb_starsmaterialid);
  bakObjectIdFlag = read.Int(pb_bakobjectidflag);
  bakObjectId = read.Int(pb_bakobjectid);
  bakMaterialIdFlag = read.Int(pb_bakmaterialidflag);
  bakMaterialId = read.Int(pb_bakmaterialid);
  velumbraLimit = read.Float(pb_velumbralimit);
  domain3dFlag = read.Int(pb_starsdomain3dflag);
  domain3dRadius = read.Float(pb_starsdomain3dradius);
  const bool domain3d = domain3dFlag != 0;

  // 3. The render's camera and projection. Without them there is no view
  // to place the stars in: nothing is drawn.
  BitmapStorage* storage = bm ? bm->Storage() : nullptr;
  const RenderInfo* ri = storage ? storage->GetRenderInfo() : nullptr;
  if (!ri) return;

  // 4. The view: the picked camera when asked for; otherwise the render's
  // matrix, and the scene camera that matches it, followed over the
  // motion-blur interval.
  useCameraFlag = read.Int(pb_usecameraflag);
  INode* picked = read.Node(pb_camera);
  if (useCameraFlag && picked) {
    cameraNode = picked;
    viewMatrix = GetCameraViewMatrix(picked, t, domain3d);
  } else {
    useCameraFlag = 0;
    viewMatrix = ri->worldToCam[0];
    cameraNode = picked;
    if (!cameraNode) {
      FindRenderCamera(t, bm);
    } else if (Inverse(cameraNode->GetNodeTM(t)).Equals(viewMatrix, kCameraTolerance)) {
      viewMatrix = GetCameraViewMatrix(cameraNode, t, domain3d);
    } else {
      FindRenderCamera(t, bm);
    }
  }

  // 5. The origin: the identity, or the picked origin object.
  Matrix3 origin = Matrix3::Identity();
  useObjOriginFlag = read.Int(pb_useobjoriginflag);
  originNode = read.Node(pb_objectorigin);
  if (useObjOriginFlag && originNode)
    origin = GetOriginMatrix(originNode, t, domain3d);
  else if (useObjOriginFlag)
    useObjOriginFlag = 0;

  // 6. The compositing context.
  drawMode = read.Int(pb_drawmode);
  PixelTarget target(bm, static_cast<UBYTE>(drawMode & 0xFF));
  target.writeAlpha = starsAlphaFlag;
  target.writeMaterialId = starsMaterialIdFlag;
  target.materialIdToWrite = starsMaterialId;
  target.writeObjectId = starsObjectIdFlag;
  target.objectIdToWrite = starsObjectId;
  target.matchMaterialId = bakMaterialIdFlag;
  target.materialIdToMatch = static_cast<UBYTE>(bakMaterialId & 0xFF);
  target.matchObjectId = bakObjectIdFlag;
  target.objectIdToMatch = static_cast<WORD>(bakObjectId & 0xFFFF);

  const StarRecord* stars = starField.stars();
  const std::uint32_t count = starField.count();

  // 7. Scintillation replaces the main pass (no motion blur, no hyperspace).
  if (read.Int(pb_scintillationflag)) {
    ScintillationSettings s;
    scintSeed = read.Int(pb_scintillationseed);
    scintFrequency = read.Float(pb_scintillationfrequency);
    scintDx = read.Float(pb_scintillationdx);
    scintLockFlag = read.Int(pb_scintillationlockdxyflag);
    if (scintLockFlag == 0) {
      // Locked: y follows x, and the rollout shows it.
      scintDy = scintDx;
      pblock->SetValue(pb_scintillationdy, t, scintDx);
    } else {
      scintDy = read.Float(pb_scintillationdy);
    }
    scintMultiplier = read.Float(pb_scintillationmultiplier);
    scintDimmer = read.Float(pb_scintillationdimmer) * 256.0f;
    s.seed = scintSeed;
    s.frequency = scintFrequency;
    s.dx = scintDx;
    s.dy = scintDy;
    s.multiplier = scintMultiplier;
    s.dimmer = scintDimmer;
    const ScintillationPass pass(s, t);
    const StarPlacement placement = read.PlacementAt(t, domain3d);
    radialDensityBalance = placement.radialDensityBalance;
    if (cb) cb->SetTitle(kRenderingTitle);
    const Matrix3 view = viewMatrix;
    // Stars of cells that cannot reach the image are left out; the offsets
    // are Catmull-Rom values of keys within +-dx, +-dy at a phase in 0..1,
    // at most 1.25 times the amplitude away.
    const std::uint64_t* drawn = nullptr;
    const float frac = pass.frac();
    const double amplitude = std::max(std::fabs(static_cast<double>(s.dx)), std::fabs(static_cast<double>(s.dy)));
    if (visibilityIndex && frac >= 0.0f && frac < 1.0f && std::isfinite(amplitude)) {
      const CellSample sample = SampleOf(origin, view, placement);
      drawn = VisibleStars(starField.index(), count, &sample, 1, *ri, target, 1.5 * amplitude + 1.0, keptStars);
    }
    const StarSet set{count, drawn, stars, sizeof(StarRecord)};
    const StarLoopRun run = RunStarLoop(set, target, cb, 1, LoopOptions(), [&](std::uint32_t i, auto& sink) {
      float x, y;
      BMM_Color_64 c;
      if (pass.Place(i, stars[i], placement, origin, view, *ri, x, y, c)) sink.Splat(Point2(x, y), c, stars[i].size);
    });
    ReportLoop(run);
    return;
  }

  // 8. Main pass set-up: hyperspace, then motion blur.
  Hyperspace hyper;
  hyperspaceFlag = read.Int(pb_hyperspaceflag);
  if (hyperspaceFlag) {
    hyperspaceDepth = read.Float(pb_hyperspacedepth);
    if (domain3d) hyperspaceDepth = hyperspaceDepth * domain3dRadius;
    hyperspaceDirection = read.Int(pb_hyperspacedirection);
    hyper.depth = hyperspaceDepth;
    hyper.direction = hyperspaceDirection;
    if (hyperspaceDirection == Hyperspace::kObjectXAxis) {
      directionNode = read.Node(pb_hsdirectionobject);
      hyper.xAxis = directionNode ? directionNode->GetNodeTM(t).GetRow(0) : Point3(1, 0, 0);
    }
  }

  duration = read.Float(pb_duration);
  subdivisions = read.Int(pb_durationsubdivisions);
  // Fewer than one subdivision (only a script can set it) would divide the
  // interval by zero and draw nothing: it counts as one.
  const int n = subdivisions < 1 ? 1 : subdivisions;
  MotionBlurPath path;
  if (!path.Allocate(n)) {
    LogFailure(SYSLOG_ERROR, "not enough memory for %d motion-blur subdivisions", n);
    return;
  }

  const Color filter = read.Colour(pb_starsdimmingfilter);
  dimmingFilter[0] = 1.0f - filter.r;
  dimmingFilter[1] = 1.0f - filter.g;
  dimmingFilter[2] = 1.0f - filter.b;
  dimming = read.Float(pb_starsdimming);
  StreakDimming(n, dimming, filter, target.streakDimming);
  dimming = static_cast<float>(n) * dimming;
  for (int c = 0; c < 3; ++c) channelDimming[c] = target.streakDimming[c];

  // Ticks per segment, the quotient first.
  const float step = static_cast<float>(GetTicksPerFrame()) * (duration / static_cast<float>(n));
  for (int k = 0; k <= n; ++k) {
    const TimeValue time = SampleTime(t, k, step);
    const Matrix3 o = k == 0 || !useObjOriginFlag ? origin : GetOriginMatrix(originNode, time, domain3d);
    const Matrix3 v = k == 0 || !cameraNode ? viewMatrix : GetCameraViewMatrix(cameraNode, time, domain3d);
    path.SetSample(k, time, o, v, read.PlacementAt(time, domain3d));
  }
  radialDensityBalance = path.Placement(0).radialDensityBalance;

  if (cb) cb->SetTitle(kRenderingTitle);

  // 9. The star loop, brightest first; 10. the samples go with `path`.
  const Hyperspace* shift = hyperspaceFlag ? &hyper : nullptr;
  const Point2 imageMax(static_cast<float>(target.maxX), static_cast<float>(target.maxY));
  // Stars of cells that cannot reach the image at any sample (nor, with
  // hyperspace, displaced) are left out.
  const std::uint64_t* drawn = nullptr;
  if (visibilityIndex) {
    std::vector<CellSample> samples;
    try {
      samples.resize(static_cast<size_t>(n) + 1);
      for (int k = 0; k <= n; ++k) {
        CellSample& s = samples[static_cast<size_t>(k)];
        s = SampleOf(path.Origin(k), path.View(k), path.Placement(k));
        if (shift) {
          s.displaced = true;
          s.displacement = shift->Displacement(path.View(k));
        }
      }
      drawn = VisibleStars(starField.index(), count, samples.data(), n + 1, *ri, target, 0.0, keptStars);
    } catch (const std::bad_alloc&) {
      drawn = nullptr;
    }
  }
  const StarSet set{count, drawn, stars, sizeof(StarRecord)};
  const StarLoopRun run = RunStarLoop(set, target, cb, n, LoopOptions(), [&](std::uint32_t i, auto& sink) {
    path.EmitStarPath(stars[i], *ri, shift, imageMax, sink);
  });
  ReportLoop(run);
}

StarLoopOptions Qe_Velumbra::LoopOptions() const {
  StarLoopOptions options;
  // One granted thread is the calling thread: the serial loop.
  const int granted = RenderThreadsGranted();
  options.threads = granted >= 2 ? granted : 0;
  options.observer = drawCallObserver;
  options.memory = &loopMemory;
  return options;
}

void Qe_Velumbra::ReportLoop(StarLoopRun run) {
  if (run == StarLoopRun::kSerialAfterFailure)
    LogFailure(SYSLOG_WARN, "not enough memory to draw the stars on %d threads; drawn on one",
               RenderThreadsGranted());
}
