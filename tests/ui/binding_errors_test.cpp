// Building rollouts for a descriptor that does not match its dialog
// template stops with a message naming both sides; nothing stays open.
#include <gtest/gtest.h>

#include "host/sdk/max.h"
#include "resources/resource.h"
#include "support/module_handle.h"
#include "support/stub_class_desc.h"

namespace {

// An object with one block as reference 0.
class Thing : public ReferenceTarget {
 public:
  int NumRefs() override { return 1; }
  RefTargetHandle GetReference(int) override { return pb; }
  IParamBlock2* GetParamBlockByID(BlockID id) override { return pb && pb->ID() == id ? pb : nullptr; }
  RefResult NotifyRefChanged(Interval, RefTargetHandle, PartID&, RefMessage) override { return REF_SUCCEED; }
  IParamBlock2* pb = nullptr;

 protected:
  void SetReference(int, RefTargetHandle target) override { pb = static_cast<IParamBlock2*>(target); }
};

// The Motion Blur template (102) bound by a descriptor of its own. Each
// parameter's items can be replaced to make a mismatch.
struct Layout {
  std::vector<ParamItem> flag = CaptureParamItems(1, "flag", TYPE_BOOL, P_ANIMATABLE, IDS_USE_CAMERA_FLAG, p_ui, 0,
                                                  TYPE_SINGLECHEKBOX, IDC_USECAMERA_CHECK, p_end);
  std::vector<ParamItem> camera =
      CaptureParamItems(2, "cam", TYPE_INODE, 0, IDS_CAMERA, p_ui, 0, TYPE_PICKNODEBUTTON, IDC_CAMERA_PICK, p_prompt,
                        IDS_PICK_CAMERA, p_sclassID, CAMERA_CLASS_ID, p_end);
  std::vector<ParamItem> duration =
      CaptureParamItems(3, "dur", TYPE_FLOAT, P_ANIMATABLE, IDS_DURATION, p_default, 0.5f, p_range, 0.0f, 100.0f, p_ui,
                        0, TYPE_SPINNER, EDITTYPE_FLOAT, IDC_DURATION_EDIT, IDC_DURATION_SPIN, 0.01f, p_end);
  std::vector<ParamItem> subdivisions =
      CaptureParamItems(4, "sub", TYPE_INT, P_ANIMATABLE, IDS_DURATION_SUBDIVISIONS, p_default, 1, p_range, 1, 1000,
                        p_ui, 0, TYPE_SPINNER, EDITTYPE_INT, IDC_SUBDIVISIONS_EDIT, IDC_SUBDIVISIONS_SPIN, 0.01f, p_end);
  std::vector<ParamItem> dimming =
      CaptureParamItems(5, "dim", TYPE_FLOAT, P_ANIMATABLE, IDS_STARS_DIMMING, p_range, 0.0f, 100.0f, p_ui, 0,
                        TYPE_SPINNER, EDITTYPE_FLOAT, IDC_STARSDIMMING_EDIT, IDC_STARSDIMMING_SPIN, 0.01f, p_end);
  std::vector<ParamItem> filter = CaptureParamItems(6, "filter", TYPE_RGBA, P_ANIMATABLE, IDS_STARS_DIMMING_FILTER,
                                                    p_ui, 0, TYPE_COLORSWATCH, IDC_STARSDIMMINGFILTER_SWATCH, p_end);

  std::vector<ParamItem> Items(ClassDesc2* cd) const {
    std::vector<ParamItem> items = CaptureParamItems(0, "TestParams", 0, cd, P_AUTO_CONSTRUCT | P_AUTO_UI | P_MULTIMAP,
                                                     0, 1, 0, IDD_MOTION_BLUR, IDS_MOTION_BLUR, 0, 0, nullptr);
    for (const auto* part : {&flag, &camera, &duration, &subdivisions, &dimming, &filter})
      items.insert(items.end(), part->begin(), part->end());
    items.push_back(ParamItem::Int(p_end));
    return items;
  }
};

// Builds the rollout of `layout` in a panel; returns the panel's message
// (empty when the build succeeded).
std::string Build(const Layout& layout, HINSTANCE instance = InstanceHandleOf(&HostModuleResources)) {
  InitCustomControls(InstanceHandleOf(&HostModuleResources));
  StubClassDesc cd("TestThing", Class_ID(0x1234, 0x5678), instance);
  ParamBlockDesc2 desc(layout.Items(&cd));
  EXPECT_TRUE(desc.IsValid()) << desc.ErrorMessage();
  auto* thing = new Thing;
  cd.MakeAutoParamBlocks(thing);
  EXPECT_NE(thing->pb, nullptr);
  IRendParams ip;
  IAutoEParamDlg* dlg = cd.CreateParamDialogs(&ip, thing);
  std::string message = ip.LastError();
  if (dlg) {
    EXPECT_TRUE(message.empty());
    EXPECT_EQ(ip.NumRollups(), 1);
    EXPECT_NE(thing->pb->GetMap(0), nullptr);
    dlg->DeleteThis();
  } else {
    EXPECT_FALSE(message.empty()) << "a failed build says why";
    EXPECT_EQ(ip.NumRollups(), 0) << message;
    EXPECT_EQ(thing->pb->GetMap(0), nullptr) << message;
  }
  thing->DeleteMe();
  return message;
}

TEST(RolloutBinding, AMatchingDescriptorBuilds) {
  ScopedInstance module;
  EXPECT_EQ(Build(Layout{}), "");
}

TEST(RolloutBinding, ATemplateControlBoundToNoParameterStopsTheBuild) {
  ScopedInstance module;
  Layout layout;
  layout.filter.clear();
  const std::string m = Build(layout);
  EXPECT_NE(m.find("dialog template 102"), std::string::npos) << m;
  EXPECT_NE(m.find("\"Motion Blur\""), std::string::npos) << m;
  EXPECT_NE(m.find("control 1037"), std::string::npos) << m;
  EXPECT_NE(m.find("bound to no parameter of block \"TestParams\""), std::string::npos) << m;
}

TEST(RolloutBinding, AParameterWhoseControlIsMissingStopsTheBuild) {
  ScopedInstance module;
  Layout layout;
  layout.dimming = CaptureParamItems(5, "dim", TYPE_FLOAT, P_ANIMATABLE, IDS_STARS_DIMMING, p_ui, 0, TYPE_SPINNER,
                                     EDITTYPE_FLOAT, IDC_STARSDIMMING_EDIT, 1099, 0.01f, p_end);
  const std::string m = Build(layout);
  EXPECT_NE(m.find("parameter \"dim\" (ID 5)"), std::string::npos) << m;
  EXPECT_NE(m.find("spinner (control 1099) is missing from dialog template 102"), std::string::npos) << m;
}

TEST(RolloutBinding, AControlOfTheWrongKindStopsTheBuild) {
  ScopedInstance module;
  Layout layout;
  // The spinner's edit field is the check box's ID; the check box goes to
  // the edit field, so that every control is still claimed.
  layout.duration = CaptureParamItems(3, "dur", TYPE_FLOAT, P_ANIMATABLE, IDS_DURATION, p_ui, 0, TYPE_SPINNER,
                                      EDITTYPE_FLOAT, IDC_USECAMERA_CHECK, IDC_DURATION_SPIN, 0.01f, p_end);
  layout.flag = CaptureParamItems(1, "flag", TYPE_BOOL, P_ANIMATABLE, IDS_USE_CAMERA_FLAG, p_ui, 0,
                                  TYPE_SINGLECHEKBOX, IDC_DURATION_EDIT, p_end);
  const std::string m = Build(layout);
  EXPECT_NE(m.find("parameter \"flag\" (ID 1)"), std::string::npos) << m;
  EXPECT_NE(m.find("control 1517"), std::string::npos) << m;
  EXPECT_NE(m.find("\"CustEdit\""), std::string::npos) << m;
  EXPECT_NE(m.find("not a \"BUTTON\" check box"), std::string::npos) << m;
}

TEST(RolloutBinding, CustomControlsNeedTheModulesRegistration) {
  ScopedInstance module;
  // The same resources under a handle that never called InitCustomControls.
  static const ModuleResources unregistered = HostModuleResources;
  const std::string m = Build(Layout{}, InstanceHandleOf(&unregistered));
  EXPECT_NE(m.find("control 1009 has the window class \"CustButton\""), std::string::npos) << m;
  EXPECT_NE(m.find("InitCustomControls"), std::string::npos) << m;
}

TEST(RolloutBinding, AMissingTemplateStopsTheBuild) {
  ScopedInstance module;
  InitCustomControls(hInstance);
  StubClassDesc cd("TestThing", Class_ID(0x1234, 0x5678), hInstance);
  ParamBlockDesc2 desc(0, "Other", 0, &cd, P_AUTO_CONSTRUCT | P_AUTO_UI | P_MULTIMAP, 0, 1, 0, 199, IDS_ABOUT, 0, 0,
                       nullptr, p_end);
  auto* thing = new Thing;
  cd.MakeAutoParamBlocks(thing);
  IRendParams ip;
  EXPECT_EQ(cd.CreateParamDialogs(&ip, thing), nullptr);
  EXPECT_NE(ip.LastError().find("no dialog template 199"), std::string::npos) << ip.LastError();
  EXPECT_EQ(cd.CreateParamDialogs(nullptr, thing), nullptr);
  thing->DeleteMe();
}

}  // namespace
