// The effect's panel: the host builds all six rollouts from the parameter
// block's descriptor; the effect only gives its two balance sliders their
// reset value.
#include "effect/qe_velumbra.h"
#include "effect/qe_velumbra_params.h"
#include "plugin/class_desc.h"
#include "resources/resource.h"

EffectParamDlg* Qe_Velumbra::CreateParamDialog(IRendParams* ip) {
  EffectParamDlg* dlg = GetQe_VelumbraDesc()->CreateParamDialogs(ip, this);
  if (!dlg) return nullptr;
  // The reset action puts both sliders to the middle of their 0..1 range
  // (for the dim/bright balance that is not its default of 0.2). The host
  // builds the rollouts anew each time, so this is done each time.
  IParamMap2* map = pblock ? pblock->GetMap(map_stars_creation) : nullptr;
  HWND hwnd = map ? map->GetHWnd() : nullptr;
  for (int id : {IDC_RADIALDENSITY_SLIDER, IDC_BRIGHTDIMBALANCE_SLIDER}) {
    // The interfaces are the windows' own; this host needs no release.
    if (ISliderControl* slider = GetISlider(GetDlgItem(hwnd, id))) slider->SetResetValue(0.5f);
  }
  return dlg;
}
