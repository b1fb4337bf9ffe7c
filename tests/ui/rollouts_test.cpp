// The effect's panel as the host's automatic UI builds it: seven rollouts
// bound to the block, controls that follow the block and write into it.
#include <gtest/gtest.h>

#include <set>

#include "support/render_fixture.h"
#include "resources/resource.h"

namespace {

// The effect's rollouts open in a panel of a small scene: a camera and a
// dummy object.
class Panel : public RenderScene {
 public:
  Panel() {
    InitCustomControls(hInstance);
    dummy = ip.CreateNode("Dummy001", std::make_unique<DummyObject>());
    dlg = fx->CreateParamDialog(&params);
  }
  ~Panel() {
    if (dlg) dlg->DeleteThis();
  }

  HWND Window(MapID map) {
    IParamMap2* m = fx->pblock->GetMap(map);
    return m ? m->GetHWnd() : nullptr;
  }
  HWND Control(MapID map, int id) { return GetDlgItem(Window(map), id); }
  std::string Text(MapID map, int id) { return Control(map, id) ? Control(map, id)->text : "<no control>"; }
  int GetInt(ParamID id, TimeValue t = 0) {
    int v = 0;
    Interval valid = FOREVER;
    fx->pblock->GetValue(id, t, v, valid);
    return v;
  }
  Color GetColor(ParamID id, TimeValue t = 0) {
    Color v;
    Interval valid = FOREVER;
    fx->pblock->GetValue(id, t, v, valid);
    return v;
  }
  bool Enabled(MapID map, int id) { return IsWindowEnabled(Control(map, id)) != FALSE; }

  IRendParams params{&ip};
  INode* dummy = nullptr;
  EffectParamDlg* dlg = nullptr;
};

TEST(Rollouts, SevenMapsInPanelOrderWithTheirTemplatesAndTitles) {
  Panel p;
  ASSERT_NE(p.dlg, nullptr) << p.params.LastError();
  EXPECT_EQ(p.dlg->GetThing(), p.fx);
  struct Expected {
    MapID map;
    int tmpl;
    const char* title;
  };
  const Expected expected[] = {{0, 101, "Stars Creation"}, {1, 102, "Motion Blur"},
                               {2, 105, "Apply"},          {3, 106, "Hyperspace Effect"},
                               {4, 103, "Scintillation Effect"}, {6, 107, "Sky"},
                               {5, 104, "About"}};
  ASSERT_EQ(p.params.NumRollups(), 7);
  for (int i = 0; i < 7; ++i) {
    IParamMap2* m = p.fx->pblock->GetMap(expected[i].map);
    ASSERT_NE(m, nullptr) << "map " << i;
    EXPECT_EQ(m->TemplateID(), expected[i].tmpl);
    EXPECT_EQ(m->Title(), expected[i].title);
    EXPECT_EQ(m->GetParamBlock(), p.fx->pblock);
    // Pages in map order, each the map's window.
    EXPECT_EQ(p.params.GetRollup(i)->hwnd, m->GetHWnd());
    EXPECT_EQ(p.params.GetRollup(i)->title, expected[i].title);
  }
  EXPECT_EQ(p.fx->pblock->GetMap(7), nullptr);
}

TEST(Rollouts, EveryTemplateControlIsBoundAndEveryParameterFindsItsControls) {
  Panel p;
  ASSERT_NE(p.dlg, nullptr) << p.params.LastError();
  // Each control with an ID answers a parameter of its own map; IDs shared
  // by two templates answer different parameters.
  int bound = 0;
  for (MapID map = 0; map < 7; ++map) {
    IParamMap2* m = p.fx->pblock->GetMap(map);
    for (const auto& child : m->GetHWnd()->children) {
      if (child->id == -1) continue;
      const ParamDef* def = m->ParamOfControl(child->id);
      ASSERT_NE(def, nullptr) << "template " << m->TemplateID() << " control " << child->id;
      EXPECT_EQ(def->ui.map, map);
      ++bound;
    }
  }
  // 60 parameters: 32 spinners and 2 sliders (two controls each), 13 check
  // boxes, 3 swatches, 3 pick buttons, an edit box, a file button, radio
  // groups of 5 + 2 + 2 + 2 + 2 buttons.
  EXPECT_EQ(bound, 34 * 2 + 13 + 3 + 3 + 1 + 1 + 13);
  EXPECT_EQ(p.fx->pblock->GetMap(2)->ParamOfControl(1013)->internalName, "drawmode");
  EXPECT_EQ(p.fx->pblock->GetMap(3)->ParamOfControl(1013)->internalName, "hyperspacedepth");
  EXPECT_EQ(p.fx->pblock->GetMap(0)->ParamOfControl(1041)->internalName, "radialdensitybalance");
  EXPECT_EQ(p.fx->pblock->GetMap(3)->ParamOfControl(1041)->internalName, "hsdirectionobject");
  // The About rollout holds only its picture, which shows bitmap 106.
  HWND about = p.Window(5);
  const auto picture = std::find_if(about->children.begin(), about->children.end(),
                                    [](const auto& c) { return c->textResourceId != 0; });
  ASSERT_NE(picture, about->children.end());
  EXPECT_EQ((*picture)->textResourceId, 106);
}

TEST(Rollouts, RollupFlagsDecideWhichOpenRolledUp) {
  Panel p;
  ASSERT_NE(p.dlg, nullptr) << p.params.LastError();
  const bool open[] = {true, false, false, false, false, false, true};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(p.params.GetRollup(i)->open, open[i]) << "rollout " << i;
  p.params.OpenAll();
  p.params.CloseAll();
  for (int i = 0; i < 6; ++i) EXPECT_FALSE(p.params.GetRollup(i)->open) << "rollout " << i;
  EXPECT_TRUE(p.params.GetRollup(6)->open) << "About is not closed by close-all";
}

TEST(Rollouts, ControlsShowTheBlockAtThePanelTime) {
  Panel p;
  ASSERT_NE(p.dlg, nullptr) << p.params.LastError();
  EXPECT_EQ(p.Text(0, IDC_STARSCOUNT_EDIT), "10000");
  EXPECT_EQ(p.Text(0, IDC_VELUMBRALIMIT_EDIT), "1.000");
  EXPECT_EQ(IsDlgButtonChecked(p.Window(0), IDC_STARSALPHA_CHECK), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(p.Window(0), IDC_STARSDOMAIN3D_CHECK), BST_UNCHECKED);
  EXPECT_EQ(GetIColorSwatch(p.Control(0, IDC_DIMSTARSCOLOR_SWATCH))->GetColor(), Color(0.8f, 0.8f, 0.8f));
  EXPECT_EQ(IsDlgButtonChecked(p.Window(2), IDC_DRAWMODE_ADD_ALPHA), BST_CHECKED);
  EXPECT_EQ(p.Text(1, IDC_CAMERA_PICK), "Pick");
  ISliderControl* slider = GetISlider(p.Control(0, IDC_BRIGHTDIMBALANCE_SLIDER));
  EXPECT_FLOAT_EQ(slider->GetFVal(), 0.2f);
  EXPECT_EQ(slider->GetNumSegs(), 10);
  EXPECT_EQ(slider->GetLow(), 0.0f);
  EXPECT_EQ(slider->GetHigh(), 1.0f);
  EXPECT_EQ(p.Text(0, IDC_BRIGHTDIMBALANCE_EDIT), "0.200");

  // A keyed value: the controls follow the dialog's time, and an edit made
  // there becomes a key at that time.
  const ParamKey<float> keys[] = {{0, 0.0f}, {4800, 10.0f}};
  ASSERT_TRUE(p.fx->pblock->SetKeys(pb_colorvariance, keys));
  p.dlg->SetTime(2400);
  EXPECT_EQ(p.Text(0, IDC_COLORVARIANCE_EDIT), "5.000");
  ASSERT_TRUE(UserEnterText(p.Control(0, IDC_COLORVARIANCE_EDIT), "7.5"));
  EXPECT_EQ(p.fx->pblock->NumKeys(pb_colorvariance), 3);
  EXPECT_FLOAT_EQ(p.GetFloat(pb_colorvariance, 2400), 7.5f);
  EXPECT_FLOAT_EQ(p.GetFloat(pb_colorvariance, 4800), 10.0f);

  // Values set from elsewhere show after InvalidateUI (the effect asks for
  // it on every change message).
  p.Set(pb_starscount, 777);
  EXPECT_EQ(p.Text(0, IDC_STARSCOUNT_EDIT), "777");
}

TEST(Rollouts, EditsAreClampedToTheRangesAndStepByTheScales) {
  Panel p;
  ASSERT_NE(p.dlg, nullptr) << p.params.LastError();
  struct Case {
    MapID map;
    int edit;
    ParamID id;
    const char* typed;
    float stored;
  };
  const Case cases[] = {
      {0, IDC_STARSCOUNT_EDIT, pb_starscount, "0", 0},
      {0, IDC_STARSCOUNT_EDIT, pb_starscount, "-5", 0},
      {0, IDC_STARSCOUNT_EDIT, pb_starscount, "20000000", 10000000},
      {0, IDC_STARSCOUNT_EDIT, pb_starscount, "12.6", 13},
      {1, IDC_SUBDIVISIONS_EDIT, pb_durationsubdivisions, "0", 1},
      {4, IDC_SCINTFREQUENCY_EDIT, pb_scintillationfrequency, "0", 0.001f},
      {3, IDC_HYPERSPACEDEPTH_EDIT, pb_hyperspacedepth, "-5", -1.0f},
      {0, IDC_VELUMBRALIMIT_EDIT, pb_velumbralimit, " 0.25 ", 0.25f},
  };
  ASSERT_TRUE(UserClick(p.Control(4, IDC_SCINTILLATION_CHECK)));
  ASSERT_TRUE(UserClick(p.Control(3, IDC_HYPERSPACE_CHECK)));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    ASSERT_TRUE(UserEnterText(p.Control(c.map, c.edit), c.typed));
    const ParamDef* def = qe_velumbra_param_blk.GetParamDef(c.id);
    if (def->type == TYPE_FLOAT) EXPECT_EQ(p.GetFloat(c.id), c.stored);
    else EXPECT_EQ(p.GetInt(c.id), static_cast<int>(c.stored));
  }
  // Text that is no number changes nothing and the field shows the value.
  EXPECT_FALSE(UserEnterText(p.Control(0, IDC_VELUMBRALIMIT_EDIT), "abc"));
  EXPECT_EQ(p.GetFloat(pb_velumbralimit), 0.25f);
  EXPECT_EQ(p.Text(0, IDC_VELUMBRALIMIT_EDIT), "0.250");

  // The integer subdivisions step by 0.01 a click: the block changes only
  // when the clicks add up to the next whole number.
  ASSERT_TRUE(UserEnterText(p.Control(1, IDC_SUBDIVISIONS_EDIT), "1"));
  ASSERT_TRUE(UserSpin(p.Control(1, IDC_SUBDIVISIONS_SPIN), 10));
  EXPECT_EQ(p.GetInt(pb_durationsubdivisions), 1);
  ASSERT_TRUE(UserSpin(p.Control(1, IDC_SUBDIVISIONS_SPIN), 50));
  EXPECT_EQ(p.GetInt(pb_durationsubdivisions), 2);
  // Seed steps by 1; the velumbra limit by 0.01 and stops at its bound.
  ASSERT_TRUE(UserSpin(p.Control(0, IDC_SEED_SPIN), 3));
  EXPECT_EQ(p.GetInt(pb_seed), 12348);
  ASSERT_TRUE(UserSpin(p.Control(0, IDC_VELUMBRALIMIT_SPIN), -5));
  EXPECT_FLOAT_EQ(p.GetFloat(pb_velumbralimit), 0.20f);
  ASSERT_TRUE(UserSpin(p.Control(0, IDC_VELUMBRALIMIT_SPIN), -100));
  EXPECT_EQ(p.GetFloat(pb_velumbralimit), 0.0f);
}

TEST(Rollouts, CheckBoxesRadiosAndSwatchesWriteTheirValues) {
  Panel p;
  ASSERT_NE(p.dlg, nullptr) << p.params.LastError();
  ASSERT_TRUE(UserClick(p.Control(2, IDC_DRAWMODE_FILTER)));
  EXPECT_EQ(p.GetInt(pb_drawmode), 4);  // the fifth button (ID 1018) is index 4
  ASSERT_TRUE(UserClick(p.Control(2, IDC_DRAWMODE_ADD_INV_ALPHA)));
  EXPECT_EQ(p.GetInt(pb_drawmode), 1);
  int checked = 0;
  for (int id : {1013, 1014, 1015, 1016, 1018}) checked += IsDlgButtonChecked(p.Window(2), id) == BST_CHECKED;
  EXPECT_EQ(checked, 1);

  ASSERT_TRUE(UserClick(p.Control(2, IDC_BAKOBJECTID_CHECK)));
  EXPECT_EQ(p.GetInt(pb_bakobjectidflag), 1);
  ASSERT_TRUE(UserClick(p.Control(2, IDC_BAKOBJECTID_CHECK)));
  EXPECT_EQ(p.GetInt(pb_bakobjectidflag), 0);

  ASSERT_TRUE(UserSetColor(p.Control(1, IDC_STARSDIMMINGFILTER_SWATCH), Color(0.25f, 0.5f, 1.0f)));
  EXPECT_EQ(p.GetColor(pb_starsdimmingfilter), Color(0.25f, 0.5f, 1.0f));
  // Group boxes and labels are no input.
  EXPECT_FALSE(UserClick(p.Window(2)->children[0].get()));
}

TEST(Rollouts, EnableListsFollowTheirCheckBoxesAndRadios) {
  Panel p;
  ASSERT_NE(p.dlg, nullptr) << p.params.LastError();
  // Stars alpha is on by default, so its field is enabled.
  EXPECT_TRUE(p.Enabled(0, IDC_STARSALPHA_EDIT));
  ASSERT_TRUE(UserClick(p.Control(0, IDC_STARSALPHA_CHECK)));
  EXPECT_FALSE(p.Enabled(0, IDC_STARSALPHA_EDIT));
  EXPECT_FALSE(p.Enabled(0, IDC_STARSALPHA_SPIN));
  // A disabled control takes no input.
  EXPECT_FALSE(UserEnterText(p.Control(0, IDC_STARSALPHA_EDIT), "12"));
  EXPECT_FALSE(UserSpin(p.Control(0, IDC_STARSALPHA_SPIN), 1));
  EXPECT_EQ(p.GetInt(pb_starsalpha), 255);

  // 3D domain: radius and the density slider with its field.
  for (int id : {IDC_STARSDOMAIN3DRADIUS_EDIT, IDC_RADIALDENSITY_SLIDER, IDC_RADIALDENSITY_EDIT})
    EXPECT_FALSE(p.Enabled(0, id)) << id;
  ASSERT_TRUE(UserClick(p.Control(0, IDC_STARSDOMAIN3D_CHECK)));
  for (int id : {IDC_STARSDOMAIN3DRADIUS_EDIT, IDC_RADIALDENSITY_SLIDER, IDC_RADIALDENSITY_EDIT})
    EXPECT_TRUE(p.Enabled(0, id)) << id;

  // Scintillation: the flag drives every field but Delta Y, which follows
  // only the Lock / UnLock choice (enabled with "UnLock").
  const int scint[] = {IDC_SCINTSEED_EDIT,     IDC_SCINTFREQUENCY_EDIT,  IDC_SCINTDX_EDIT,
                       IDC_SCINTLOCK_LOCK,     IDC_SCINTLOCK_UNLOCK,     IDC_SCINTMULTIPLIER_EDIT,
                       IDC_SCINTDIMMER_SPIN};
  for (int id : scint) EXPECT_FALSE(p.Enabled(4, id)) << id;
  ASSERT_TRUE(UserClick(p.Control(4, IDC_SCINTILLATION_CHECK)));
  for (int id : scint) EXPECT_TRUE(p.Enabled(4, id)) << id;
  EXPECT_FALSE(p.Enabled(4, IDC_SCINTDY_EDIT));  // "Lock /" is selected
  ASSERT_TRUE(UserClick(p.Control(4, IDC_SCINTLOCK_UNLOCK)));
  EXPECT_EQ(p.GetInt(pb_scintillationlockdxyflag), 1);
  EXPECT_TRUE(p.Enabled(4, IDC_SCINTDY_EDIT));
  EXPECT_TRUE(p.Enabled(4, IDC_SCINTDY_SPIN));
  ASSERT_TRUE(UserClick(p.Control(4, IDC_SCINTILLATION_CHECK)));  // off again
  for (int id : scint) EXPECT_FALSE(p.Enabled(4, id)) << id;
  EXPECT_TRUE(p.Enabled(4, IDC_SCINTDY_EDIT)) << "Delta Y is in no check box's list";

  // Hyperspace: the direction object's button needs the flag on and
  // "Object +X Axis" selected.
  EXPECT_FALSE(p.Enabled(3, IDC_HSDIRECTIONOBJECT_PICK));
  ASSERT_TRUE(UserClick(p.Control(3, IDC_HYPERSPACE_CHECK)));
  EXPECT_TRUE(p.Enabled(3, IDC_HSDIRECTION_OBJECT_X));
  EXPECT_FALSE(p.Enabled(3, IDC_HSDIRECTIONOBJECT_PICK));
  ASSERT_TRUE(UserClick(p.Control(3, IDC_HSDIRECTION_OBJECT_X)));
  EXPECT_TRUE(p.Enabled(3, IDC_HSDIRECTIONOBJECT_PICK));
  ASSERT_TRUE(UserClick(p.Control(3, IDC_HYPERSPACE_CHECK)));
  EXPECT_FALSE(p.Enabled(3, IDC_HSDIRECTIONOBJECT_PICK));

  // A flag set from outside the panel (a script, a loaded scene) changes
  // the enable states at the next refresh.
  p.Set(pb_starsalphaflag, 1);
  EXPECT_TRUE(p.Enabled(0, IDC_STARSALPHA_EDIT));
}

TEST(Rollouts, BothBalanceSlidersResetToOneHalf) {
  Panel p;
  ASSERT_NE(p.dlg, nullptr) << p.params.LastError();
  ASSERT_TRUE(UserClick(p.Control(0, IDC_STARSDOMAIN3D_CHECK)));  // enables the density slider
  for (int id : {IDC_RADIALDENSITY_SLIDER, IDC_BRIGHTDIMBALANCE_SLIDER}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(GetISlider(p.Control(0, id))->GetResetValue(), 0.5f);
    ASSERT_TRUE(UserSetSlider(p.Control(0, id), 0.9f));
    const ParamID param = p.fx->pblock->GetMap(0)->ParamOfControl(id)->id;
    EXPECT_FLOAT_EQ(p.GetFloat(param), 0.9f);
    ASSERT_TRUE(UserReset(p.Control(0, id)));
    EXPECT_EQ(p.GetFloat(param), 0.5f);
  }
  // Sliders clamp what they are dragged to; the edit field beside a slider
  // edits the same value.
  ASSERT_TRUE(UserSetSlider(p.Control(0, IDC_BRIGHTDIMBALANCE_SLIDER), 3.0f));
  EXPECT_EQ(p.GetFloat(pb_brightdimbalance), 1.0f);
  ASSERT_TRUE(UserEnterText(p.Control(0, IDC_BRIGHTDIMBALANCE_EDIT), "0.3"));
  EXPECT_FLOAT_EQ(GetISlider(p.Control(0, IDC_BRIGHTDIMBALANCE_SLIDER))->GetFVal(), 0.3f);
}

TEST(Rollouts, WithoutTheEffectsStepSlidersResetToTheDefault) {
  // The host's own reset value is the parameter's default: the 0.5 of the
  // dim / bright balance comes from the effect alone.
  Panel p;
  IRendParams other(&p.ip);
  IAutoEParamDlg* plain = GetQe_VelumbraDesc()->CreateParamDialogs(&other, p.fx);
  ASSERT_NE(plain, nullptr) << other.LastError();
  ASSERT_NE(p.dlg, nullptr);
  p.dlg->DeleteThis();  // one panel per effect
  p.dlg = nullptr;
  HWND slider = GetDlgItem(p.fx->pblock->GetMap(0)->GetHWnd(), IDC_BRIGHTDIMBALANCE_SLIDER);
  EXPECT_FLOAT_EQ(GetISlider(slider)->GetResetValue(), 0.2f);
  plain->DeleteThis();
}

TEST(Rollouts, PickButtonsOfferOnlyWhatTheirFilterAccepts) {
  Panel p;
  ASSERT_NE(p.dlg, nullptr) << p.params.LastError();
  ASSERT_TRUE(UserClick(p.Control(1, IDC_USECAMERA_CHECK)));
  ASSERT_TRUE(UserClick(p.Control(1, IDC_CAMERA_PICK)));
  PickModeCallback* pick = p.params.GetPickMode();
  ASSERT_NE(pick, nullptr);
  EXPECT_EQ(pick->Prompt(), "Pick Camera");
  EXPECT_TRUE(GetICustButton(p.Control(1, IDC_CAMERA_PICK))->IsChecked());
  EXPECT_EQ(p.params.PickCandidates(), std::vector<INode*>{p.camera});
  EXPECT_FALSE(p.params.PickNode(p.dummy));
  EXPECT_EQ(p.GetNode(pb_camera), nullptr);
  EXPECT_EQ(p.params.GetPickMode(), pick) << "a refused node leaves the pick mode on";
  EXPECT_TRUE(p.params.PickNode(p.camera));
  EXPECT_EQ(p.GetNode(pb_camera), p.camera);
  EXPECT_EQ(p.params.GetPickMode(), nullptr);
  EXPECT_FALSE(GetICustButton(p.Control(1, IDC_CAMERA_PICK))->IsChecked());
  EXPECT_EQ(p.Text(1, IDC_CAMERA_PICK), "Camera001");

  // "Pick Object" buttons take any node; a second click leaves pick mode.
  ASSERT_TRUE(UserClick(p.Control(0, IDC_USEOBJORIGIN_CHECK)));
  ASSERT_TRUE(UserClick(p.Control(0, IDC_OBJECTORIGIN_PICK)));
  ASSERT_NE(p.params.GetPickMode(), nullptr);
  EXPECT_EQ(p.params.GetPickMode()->Prompt(), "Pick Object");
  const std::vector<INode*> any = p.params.PickCandidates();
  EXPECT_EQ(std::set<INode*>(any.begin(), any.end()), (std::set<INode*>{p.camera, p.dummy}));
  ASSERT_TRUE(UserClick(p.Control(0, IDC_OBJECTORIGIN_PICK)));
  EXPECT_EQ(p.params.GetPickMode(), nullptr);
  // Switching the button's flag off while it waits for a node ends its pick mode.
  ASSERT_TRUE(UserClick(p.Control(0, IDC_OBJECTORIGIN_PICK)));
  ASSERT_NE(p.params.GetPickMode(), nullptr);
  ASSERT_TRUE(UserClick(p.Control(0, IDC_USEOBJORIGIN_CHECK)));
  EXPECT_EQ(p.params.GetPickMode(), nullptr);
  EXPECT_FALSE(GetICustButton(p.Control(0, IDC_OBJECTORIGIN_PICK))->IsChecked());
  // A disabled pick button cannot start picking.
  EXPECT_FALSE(p.Enabled(3, IDC_HSDIRECTIONOBJECT_PICK));
  EXPECT_FALSE(UserClick(p.Control(3, IDC_HSDIRECTIONOBJECT_PICK)));
  EXPECT_EQ(p.params.GetPickMode(), nullptr);
}

TEST(Rollouts, TheLockWriteShowsInDeltaYAfterARender) {
  Panel p;
  ASSERT_NE(p.dlg, nullptr) << p.params.LastError();
  p.Set(pb_starscount, 50);
  ASSERT_TRUE(UserClick(p.Control(4, IDC_SCINTILLATION_CHECK)));
  ASSERT_TRUE(UserEnterText(p.Control(4, IDC_SCINTDX_EDIT), "3"));
  ASSERT_TRUE(UserClick(p.Control(4, IDC_SCINTLOCK_UNLOCK)));
  ASSERT_TRUE(UserEnterText(p.Control(4, IDC_SCINTDY_EDIT), "7"));
  p.Render(0);
  EXPECT_EQ(p.Text(4, IDC_SCINTDY_EDIT), "7.000") << "UnLock keeps the user's Delta Y";

  ASSERT_TRUE(UserClick(p.Control(4, IDC_SCINTLOCK_LOCK)));
  EXPECT_EQ(p.Text(4, IDC_SCINTDY_EDIT), "7.000") << "nothing reacts to the switch itself";
  p.Render(0);
  EXPECT_EQ(p.GetFloat(pb_scintillationdy), 3.0f);
  EXPECT_EQ(p.Text(4, IDC_SCINTDY_EDIT), "3.000");
  // The render also recognised the scene camera; its pick button shows it.
  EXPECT_EQ(p.Text(1, IDC_CAMERA_PICK), "Camera001");
}

TEST(Rollouts, NoPanelMeansNoDialog) {
  RenderScene s;
  InitCustomControls(hInstance);
  EXPECT_EQ(s.fx->CreateParamDialog(nullptr), nullptr);
  EXPECT_EQ(s.fx->pblock->GetMap(0), nullptr);
  // Closing a panel removes its rollouts and maps.
  IRendParams ip(&s.ip);
  EffectParamDlg* dlg = s.fx->CreateParamDialog(&ip);
  ASSERT_NE(dlg, nullptr) << ip.LastError();
  HWND motionBlur = s.fx->pblock->GetMap(1)->GetHWnd();
  ASSERT_TRUE(UserClick(GetDlgItem(motionBlur, IDC_USECAMERA_CHECK)));
  ASSERT_TRUE(UserClick(GetDlgItem(motionBlur, IDC_CAMERA_PICK)));
  ASSERT_NE(ip.GetPickMode(), nullptr);
  dlg->DeleteThis();
  EXPECT_EQ(ip.NumRollups(), 0);
  EXPECT_EQ(ip.GetPickMode(), nullptr);
  EXPECT_EQ(s.fx->pblock->GetMap(0), nullptr);
  // The effect may still change and refresh with no panel open.
  s.Set(pb_starscount, 5);
}

}  // namespace
