// PassSettings: what one render pass read from the block and chose, in the
// order it reads them; the pass returns it (Qe_Velumbra::RenderPass), and
// nothing keeps it between renders. Each field is named after the parameter
// whose value it holds, or says what the pass made of it.
#pragma once

#include "plugin/host.h"
#include "render/hyperspace.h"
#include "render/scintillation.h"
#include "starfield/star_field_key.h"
#include "starfield/view_transforms.h"

struct PassSettings {
  // The star field's generation parameters and the star alpha of its key on
  // the 16-bit scale (alpha << 8).
  StarFieldParams stars;
  int alpha16 = 0;
  // Where the stars come from: starsource (0 generated, 1 the catalogue).
  int starSource = 0;

  // The compositing: apply method, the stamps the stars write and the masks
  // they are drawn through.
  struct Compositing {
    int drawMode = 0;
    int starsMaterialIdFlag = 0;
    int starsMaterialId = 0;
    int starsObjectIdFlag = 0;
    int starsObjectId = 0;
    int bakMaterialIdFlag = 0;
    int bakMaterialId = 0;
    int bakObjectIdFlag = 0;
    int bakObjectId = 0;
  } compositing;

  // The placement at the render time (the radial balance as read for the
  // first sample) and the 3D domain's switch and radius.
  StarPlacement placement;

  // The view and the origin the stars are placed in.
  struct View {
    int useCameraFlag = 0;       // cleared whenever the picked camera is not used
    INode* cameraNode = nullptr; // the camera the pass follows; not owned
    Matrix3 viewMatrix;          // world to camera at the render time
    int useObjOriginFlag = 0;    // cleared when set without an origin node
    INode* originNode = nullptr; // not owned
    Matrix3 origin;              // the origin node's matrix, or the identity
  } view;

  // Scintillation, which replaces the main pass when on (dimmer x 256, dy
  // equal to dx while locked).
  int scintillationFlag = 0;
  int scintLockFlag = 0;
  ScintillationSettings scintillation;

  // Hyperspace (depth times the 3D radius in the 3D domain).
  int hyperspaceFlag = 0;
  INode* directionNode = nullptr;  // hyperspace direction object; not owned
  Hyperspace hyperspace;

  // Motion blur: duration in frames, subdivisions as read, the streak
  // dimming per channel the target gets, and 1 - starsdimmingfilter.
  struct MotionBlur {
    float duration = 0.0f;
    int subdivisions = 1;
    float dimming = 0.0f;  // starsdimming x subdivisions
    float channelDimming[3] = {0, 0, 0};
    float dimmingFilter[3] = {0, 0, 0};
  } motionBlur;
};
