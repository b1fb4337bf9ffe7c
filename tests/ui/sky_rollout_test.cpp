// The Sky rollout: the observer's time in an edit box, the catalogue behind
// a file button that asks the panel for a file, and controls enabled only
// while the source, the frame and the refraction flag they belong to are on.
#include <gtest/gtest.h>

#include <string>

#include "resources/resource.h"
#include "support/render_fixture.h"

namespace {

// A panel whose file dialog answers with a name chosen by the test (empty:
// the user cancels), remembering what it was shown.
class ChoosingPanel : public IRendParams {
 public:
  using IRendParams::IRendParams;
  bool BrowseForFile(const std::string& current, std::string& chosen) override {
    shown = current;
    ++asked;
    if (answer.empty()) return false;
    chosen = answer;
    return true;
  }
  std::string answer;
  std::string shown;
  int asked = 0;
};

class SkyPanel : public RenderScene {
 public:
  SkyPanel() {
    InitCustomControls(hInstance);
    dlg = fx->CreateParamDialog(&params);
  }
  ~SkyPanel() {
    if (dlg) dlg->DeleteThis();
  }
  HWND Control(int id) {
    IParamMap2* m = fx->pblock->GetMap(map_sky);
    return m ? GetDlgItem(m->GetHWnd(), id) : nullptr;
  }
  std::string Text(int id) { return Control(id) ? Control(id)->text : "<no control>"; }
  bool Enabled(int id) { return IsWindowEnabled(Control(id)) != FALSE; }

  ChoosingPanel params{&ip};
  EffectParamDlg* dlg = nullptr;
};

TEST(SkyRollout, TheTimeIsTypedAsText) {
  SkyPanel p;
  ASSERT_NE(p.dlg, nullptr) << p.params.LastError();
  EXPECT_EQ(p.Text(IDC_OBSERVERTIME_EDIT), "2000-01-01T12:00:00Z");
  ASSERT_TRUE(UserClick(p.Control(IDC_STARSOURCE_CATALOGUE)));
  ASSERT_TRUE(UserEnterText(p.Control(IDC_OBSERVERTIME_EDIT), "2024-03-20T21:30:00Z"));
  EXPECT_STREQ(p.fx->pblock->GetStr(pb_observertime), "2024-03-20T21:30:00Z");
  // The block's text shows again after a change from elsewhere.
  p.fx->pblock->SetValue(pb_observertime, 0, "1999-08-11T11:03:00Z");
  EXPECT_EQ(p.Text(IDC_OBSERVERTIME_EDIT), "1999-08-11T11:03:00Z");
}

TEST(SkyRollout, TheFileButtonShowsTheFileAndAsksThePanelForAnother) {
  SkyPanel p;
  ASSERT_NE(p.dlg, nullptr) << p.params.LastError();
  EXPECT_EQ(p.Text(IDC_CATALOGFILE_BUTTON), "/usr/share/kstars/stars.dat");
  ASSERT_TRUE(UserClick(p.Control(IDC_STARSOURCE_CATALOGUE)));
  // Cancelled: nothing changes.
  ASSERT_TRUE(UserClick(p.Control(IDC_CATALOGFILE_BUTTON)));
  EXPECT_EQ(p.params.asked, 1);
  EXPECT_EQ(p.params.shown, "/usr/share/kstars/stars.dat");
  EXPECT_STREQ(p.fx->pblock->GetStr(pb_catalogfile), "/usr/share/kstars/stars.dat");
  // Chosen: the block and the button take it.
  p.params.answer = "/usr/share/xplanet/stars/BSC";
  ASSERT_TRUE(UserClick(p.Control(IDC_CATALOGFILE_BUTTON)));
  EXPECT_STREQ(p.fx->pblock->GetStr(pb_catalogfile), "/usr/share/xplanet/stars/BSC");
  EXPECT_EQ(p.Text(IDC_CATALOGFILE_BUTTON), "/usr/share/xplanet/stars/BSC");
  // Without a file the button keeps its caption.
  p.fx->pblock->SetValue(pb_catalogfile, 0, "");
  EXPECT_EQ(p.Text(IDC_CATALOGFILE_BUTTON), "Choose Catalogue");
}

TEST(SkyRollout, ControlsFollowTheSourceTheFrameAndTheRefractionFlag) {
  SkyPanel p;
  ASSERT_NE(p.dlg, nullptr) << p.params.LastError();
  // Generated stars: nothing of the sky applies.
  for (int id : {IDC_CATALOGFILE_BUTTON, IDC_MAGNITUDELIMIT_EDIT, IDC_SKYFRAME_OBSERVER, IDC_OBSERVERTIME_EDIT,
                 IDC_OBSERVERLATITUDE_EDIT, IDC_REFRACTION_CHECK, IDC_BELOWHORIZON_CHECK, IDC_FILLIN_CHECK})
    EXPECT_FALSE(p.Enabled(id)) << id;
  EXPECT_TRUE(p.Enabled(IDC_STARSOURCE_CATALOGUE));
  // A catalogue in the celestial frame: its time (the proper motion's
  // epoch), not the observer's place.
  ASSERT_TRUE(UserClick(p.Control(IDC_STARSOURCE_CATALOGUE)));
  for (int id : {IDC_CATALOGFILE_BUTTON, IDC_MAGNITUDELIMIT_EDIT, IDC_STARMINSIZE_SPIN, IDC_SKYFRAME_OBSERVER,
                 IDC_OBSERVERTIME_EDIT, IDC_FILLIN_CHECK})
    EXPECT_TRUE(p.Enabled(id)) << id;
  for (int id : {IDC_OBSERVERLATITUDE_EDIT, IDC_UT1MINUSUTC_EDIT, IDC_REFRACTION_CHECK, IDC_BELOWHORIZON_CHECK})
    EXPECT_FALSE(p.Enabled(id)) << id;
  // The observer: the place, and the refraction's settings once it is on.
  ASSERT_TRUE(UserClick(p.Control(IDC_SKYFRAME_OBSERVER)));
  for (int id : {IDC_OBSERVERLATITUDE_EDIT, IDC_OBSERVERLONGITUDE_SPIN, IDC_OBSERVERHEIGHT_EDIT,
                 IDC_UT1MINUSUTC_EDIT, IDC_REFRACTION_CHECK, IDC_BELOWHORIZON_CHECK})
    EXPECT_TRUE(p.Enabled(id)) << id;
  EXPECT_FALSE(p.Enabled(IDC_REFRACTIONPRESSURE_EDIT));
  ASSERT_TRUE(UserClick(p.Control(IDC_REFRACTION_CHECK)));
  EXPECT_TRUE(p.Enabled(IDC_REFRACTIONPRESSURE_EDIT));
  EXPECT_TRUE(p.Enabled(IDC_REFRACTIONTEMPERATURE_SPIN));
  // Back to generated stars: every list must be on, so all of it goes off.
  ASSERT_TRUE(UserClick(p.Control(IDC_STARSOURCE_GENERATED)));
  EXPECT_FALSE(p.Enabled(IDC_REFRACTIONPRESSURE_EDIT));
  EXPECT_FALSE(p.Enabled(IDC_OBSERVERLATITUDE_EDIT));
  EXPECT_EQ(p.fx->pblock->GetStr(pb_catalogfile), std::string("/usr/share/kstars/stars.dat"));
}

TEST(SkyRollout, NumbersAreHeldToTheirRanges) {
  SkyPanel p;
  ASSERT_NE(p.dlg, nullptr) << p.params.LastError();
  ASSERT_TRUE(UserClick(p.Control(IDC_STARSOURCE_CATALOGUE)));
  ASSERT_TRUE(UserClick(p.Control(IDC_SKYFRAME_OBSERVER)));
  ASSERT_TRUE(UserEnterText(p.Control(IDC_OBSERVERLATITUDE_EDIT), "123"));
  ASSERT_TRUE(UserEnterText(p.Control(IDC_OBSERVERLONGITUDE_EDIT), "-17.25"));
  float v = 0;
  Interval valid = FOREVER;
  p.fx->pblock->GetValue(pb_observerlatitude, 0, v, valid);
  EXPECT_EQ(v, 90.0f);
  p.fx->pblock->GetValue(pb_observerlongitude, 0, v, valid);
  EXPECT_EQ(v, -17.25f);
}

}  // namespace
