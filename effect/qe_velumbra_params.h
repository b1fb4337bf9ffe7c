// The parameter block of Qe_Velumbra: parameter IDs, rollout map IDs and the
// static descriptor that declares all of it.
//
// Parameter IDs are part of saved scenes and scripts: never renumber them.
// ID 8 is unused. The sky's parameters (44 on) came later: at their
// defaults the effect draws what it drew before them, so scenes saved
// without them render unchanged.
#pragma once

#include "plugin/host.h"

// The effect's one block.
enum { qe_velumbra_params = 0 };

// Rollouts; the panel shows them in this order, with Sky (map 6) before
// About.
enum QeVelumbraMap : MapID {
  map_stars_creation = 0,
  map_motion_blur = 1,
  map_apply = 2,
  map_hyperspace = 3,
  map_scintillation = 4,
  map_about = 5,
  map_sky = 6,
};

// Parameter IDs, named after the parameters' internal names.
enum QeVelumbraParam : ParamID {
  pb_starscount = 0,
  pb_seed = 1,
  pb_useobjoriginflag = 2,
  pb_objectorigin = 3,
  pb_velumbralimit = 4,
  pb_brightstarscolor = 5,
  pb_dimstarscolor = 6,
  pb_colorvariance = 7,
  pb_brightstarssize = 9,
  pb_dimstarssize = 10,
  pb_starsalphaflag = 11,
  pb_starsalpha = 12,
  pb_starsobjectidflag = 13,
  pb_starsobjectid = 14,
  pb_starsmaterialidflag = 15,
  pb_starsmaterialid = 16,
  pb_usecameraflag = 17,
  pb_camera = 18,
  pb_duration = 19,
  pb_starsdimming = 20,
  pb_bakobjectidflag = 21,
  pb_bakobjectid = 22,
  pb_bakmaterialidflag = 23,
  pb_bakmaterialid = 24,
  pb_drawmode = 25,
  pb_hyperspaceflag = 26,
  pb_hyperspacedepth = 27,
  pb_scintillationflag = 28,
  pb_scintillationseed = 29,
  pb_scintillationfrequency = 30,
  pb_scintillationdx = 31,
  pb_scintillationlockdxyflag = 32,
  pb_scintillationdy = 33,
  pb_scintillationmultiplier = 34,
  pb_scintillationdimmer = 35,
  pb_durationsubdivisions = 36,
  pb_starsdimmingfilter = 37,
  pb_starsdomain3dflag = 38,
  pb_starsdomain3dradius = 39,
  pb_radialdensitybalance = 40,
  pb_brightdimbalance = 41,
  pb_hyperspacedirection = 42,
  pb_hsdirectionobject = 43,
  pb_starsource = 44,
  pb_catalogfile = 45,
  pb_skyframe = 46,
  pb_observerlatitude = 47,
  pb_observerlongitude = 48,
  pb_observerheight = 49,
  pb_observertime = 50,
  pb_ut1minusutc = 51,
  pb_magnitudelimit = 52,
  pb_magnitudezero = 53,
  pb_refractionflag = 54,
  pb_refractionpressure = 55,
  pb_refractiontemperature = 56,
  pb_belowhorizonflag = 57,
  pb_starminsize = 58,
  pb_stargrowth = 59,
  pb_fillinflag = 60,
};

// Values of pb_starsource.
enum QeVelumbraStarSource {
  starsource_generated = 0,
  starsource_catalogue = 1,
};

// Values of pb_skyframe: the world frame the catalogue's stars are placed
// in (sky/astrometry.h).
enum QeVelumbraSkyFrame {
  skyframe_celestial = 0,  // ICRS axes: x to RA 0 Dec 0, z to the north celestial pole
  skyframe_observer = 1,   // the local horizon: x east, y north, z up
};

// Values of pb_drawmode (the apply method), in radio-button order.
enum QeVelumbraDrawMode {
  drawmode_additive_alpha = 0,
  drawmode_additive_inverse_alpha = 1,
  drawmode_simple_additive = 2,
  drawmode_simple_apply = 3,
  drawmode_filter = 4,
};

// The block's descriptor, registered with the class descriptor when the
// module is loaded (built after it, destroyed before it).
extern ParamBlockDesc2 qe_velumbra_param_blk;
