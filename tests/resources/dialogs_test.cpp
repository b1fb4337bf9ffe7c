#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "effect/qe_velumbra_params.h"
#include "support/module_handle.h"

namespace {

// What a control of a rollout is, as the dialog layout describes it.
enum class Kind { Edit, Spinner, Slider, Check, CheckTextLeft, Radio, RadioFirst, Swatch, Pick, FileButton };

struct ExpectedControl {
  int id;
  Kind kind;
  const char* text;  // for check boxes and radio buttons, else null
};

struct ExpectedTemplate {
  int id;
  int height;
  std::vector<const char*> groups;  // group-box captions, top to bottom
  std::vector<ExpectedControl> controls;
};

// The seven templates, control by control.
const std::vector<ExpectedTemplate>& Templates() {
  static const std::vector<ExpectedTemplate> t = {
      {101,
       239,
       {"Stars Array", "Stars Color", "Stars Size", "Stars Attributes"},
       {{1491, Kind::Edit, nullptr},        {1497, Kind::Spinner, nullptr},
        {1492, Kind::Edit, nullptr},        {1498, Kind::Spinner, nullptr},
        {1007, Kind::CheckTextLeft, "Use Object Origin:"},
        {1006, Kind::Pick, nullptr},        {1511, Kind::Edit, nullptr},
        {1512, Kind::Spinner, nullptr},     {1038, Kind::CheckTextLeft, "Create 3D Stars Domain with Radius:"},
        {1039, Kind::Edit, nullptr},        {1040, Kind::Spinner, nullptr},
        {1042, Kind::Slider, nullptr},      {1041, Kind::Edit, nullptr},
        {1001, Kind::Swatch, nullptr},      {1005, Kind::Swatch, nullptr},
        {1493, Kind::Edit, nullptr},        {1499, Kind::Spinner, nullptr},
        {1044, Kind::Slider, nullptr},      {1043, Kind::Edit, nullptr},
        {1507, Kind::Edit, nullptr},        {1508, Kind::Spinner, nullptr},
        {1509, Kind::Edit, nullptr},        {1510, Kind::Spinner, nullptr},
        {1002, Kind::CheckTextLeft, "Alpha:"},
        {1496, Kind::Edit, nullptr},        {1502, Kind::Spinner, nullptr},
        {1004, Kind::CheckTextLeft, "Object ID:"},
        {1505, Kind::Edit, nullptr},        {1506, Kind::Spinner, nullptr},
        {1003, Kind::CheckTextLeft, "Material ID:"},
        {1503, Kind::Edit, nullptr},        {1504, Kind::Spinner, nullptr}}},
      {102,
       74,
       {"Motion Blur Parameters"},
       {{1008, Kind::CheckTextLeft, "Use Camera:"},
        {1009, Kind::Pick, nullptr},
        {1517, Kind::Edit, nullptr},
        {1518, Kind::Spinner, nullptr},
        {1522, Kind::Edit, nullptr},
        {1523, Kind::Spinner, nullptr},
        {1519, Kind::Edit, nullptr},
        {1520, Kind::Spinner, nullptr},
        {1037, Kind::Swatch, nullptr}}},
      {105,
       133,
       {"Apply Only Over", "Apply Method"},
       {{1011, Kind::CheckTextLeft, "Object ID:"},
        {1514, Kind::Edit, nullptr},
        {1515, Kind::Spinner, nullptr},
        {1012, Kind::CheckTextLeft, "Material ID:"},
        {1516, Kind::Edit, nullptr},
        {1521, Kind::Spinner, nullptr},
        {1013, Kind::RadioFirst, "Additive With Alpha"},
        {1014, Kind::Radio, "Additive With Inverse Alpha"},
        {1015, Kind::Radio, "Simple Additive"},
        {1016, Kind::Radio, "Simple Apply"},
        {1018, Kind::Radio, "Apply As Filter"}}},
      {106,
       89,
       {"Hyperspace Effect Parameters"},
       {{1015, Kind::Check, "Enable Hyperspace Effect"},
        {1013, Kind::Edit, nullptr},
        {1014, Kind::Spinner, nullptr},
        {1016, Kind::RadioFirst, "Image Center"},
        {1017, Kind::Radio, "Object +X Axis"},
        {1041, Kind::Pick, nullptr}}},
      {103,
       124,
       {"Scintillation Effect Parameters"},
       {{1021, Kind::Check, "Enable Scintillation Effect"},
        {1022, Kind::Edit, nullptr},
        {1023, Kind::Spinner, nullptr},
        {1024, Kind::Edit, nullptr},
        {1025, Kind::Spinner, nullptr},
        {1026, Kind::Edit, nullptr},
        {1027, Kind::Spinner, nullptr},
        {1028, Kind::Edit, nullptr},
        {1029, Kind::Spinner, nullptr},
        {1035, Kind::RadioFirst, "Lock /"},
        {1036, Kind::Radio, "UnLock"},
        {1030, Kind::Edit, nullptr},
        {1031, Kind::Spinner, nullptr},
        {1032, Kind::Edit, nullptr},
        {1033, Kind::Spinner, nullptr}}},
      {107,
       214,
       {"Stars", "Where the Stars Are"},
       {{1101, Kind::RadioFirst, "Generated"},
        {1102, Kind::Radio, "Catalogue:"},
        {1103, Kind::FileButton, nullptr},
        {1104, Kind::Edit, nullptr},
        {1105, Kind::Spinner, nullptr},
        {1106, Kind::Edit, nullptr},
        {1107, Kind::Spinner, nullptr},
        {1108, Kind::Edit, nullptr},
        {1109, Kind::Spinner, nullptr},
        {1110, Kind::Edit, nullptr},
        {1111, Kind::Spinner, nullptr},
        {1129, Kind::Check, "Fill In Below the Catalogue's Limit"},
        {1112, Kind::RadioFirst, "Celestial (ICRS)"},
        {1113, Kind::Radio, "Observer"},
        {1114, Kind::Edit, nullptr},
        {1115, Kind::Edit, nullptr},
        {1116, Kind::Spinner, nullptr},
        {1121, Kind::Edit, nullptr},
        {1122, Kind::Spinner, nullptr},
        {1117, Kind::Edit, nullptr},
        {1118, Kind::Spinner, nullptr},
        {1119, Kind::Edit, nullptr},
        {1120, Kind::Spinner, nullptr},
        {1123, Kind::CheckTextLeft, "Refraction:"},
        {1124, Kind::Edit, nullptr},
        {1125, Kind::Spinner, nullptr},
        {1126, Kind::Edit, nullptr},
        {1127, Kind::Spinner, nullptr},
        {1128, Kind::Check, "Draw Stars Below the Horizon"}}},
      {104, 43, {""}, {}},
  };
  return t;
}

const DialogTemplate& Template(int id) {
  const DialogTemplate* d = FindDialogTemplate(Module(), id);
  EXPECT_NE(d, nullptr) << "template " << id;
  static const DialogTemplate empty{};
  return d ? *d : empty;
}

const DialogControl& Control(int templateId, int controlId) {
  const DialogControl* c = FindDialogControl(&Template(templateId), controlId);
  EXPECT_NE(c, nullptr) << "control " << controlId << " in template " << templateId;
  static const DialogControl none{};
  return c ? *c : none;
}

std::string Describe(int templateId, const DialogControl& c) {
  return "template " + std::to_string(templateId) + ", control " + std::to_string(c.id) + " \"" +
         std::string(c.text ? c.text : "") + "\"";
}

void ExpectKind(int templateId, const DialogControl& c, Kind kind) {
  const std::string what = Describe(templateId, c);
  const std::uint32_t buttonType = c.style & BS_TYPEMASK;
  switch (kind) {
    case Kind::Edit: EXPECT_STREQ(c.className, "CustEdit") << what; break;
    case Kind::Spinner: EXPECT_STREQ(c.className, "SpinnerControl") << what; break;
    case Kind::Slider: EXPECT_STREQ(c.className, "SliderControl") << what; break;
    case Kind::Swatch: EXPECT_STREQ(c.className, "ColorSwatch") << what; break;
    case Kind::Pick:
      EXPECT_STREQ(c.className, "CustButton") << what;
      EXPECT_STREQ(c.text, "Pick") << what;
      break;
    case Kind::FileButton:
      // Its caption shows while no file is named.
      EXPECT_STREQ(c.className, "CustButton") << what;
      EXPECT_STREQ(c.text, "Choose Catalogue") << what;
      break;
    case Kind::Check:
    case Kind::CheckTextLeft:
      EXPECT_STREQ(c.className, "BUTTON") << what;
      EXPECT_EQ(buttonType, BS_AUTOCHECKBOX) << what;
      EXPECT_EQ((c.style & BS_LEFTTEXT) != 0, kind == Kind::CheckTextLeft) << what;
      break;
    case Kind::Radio:
    case Kind::RadioFirst:
      EXPECT_STREQ(c.className, "BUTTON") << what;
      EXPECT_EQ(buttonType, BS_AUTORADIOBUTTON) << what;
      // Only the first button of a group starts it.
      EXPECT_EQ((c.style & WS_GROUP) != 0, kind == Kind::RadioFirst) << what;
      break;
  }
}

TEST(DialogTemplates, AreChildDialogsOfTheRolloutWidth) {
  ASSERT_NE(Module(), nullptr);
  EXPECT_EQ(Module()->dialogCount, 7u);
  for (const ExpectedTemplate& e : Templates()) {
    const DialogTemplate& d = Template(e.id);
    EXPECT_EQ(d.cx, 211) << e.id;
    EXPECT_EQ(d.cy, e.height) << e.id;
    EXPECT_STREQ(d.fontName, "MS Sans Serif") << e.id;
    EXPECT_EQ(d.fontPointSize, 8) << e.id;
    EXPECT_STREQ(d.caption, "") << e.id;
    EXPECT_NE(d.style & WS_CHILD, 0u) << e.id;
    EXPECT_EQ(d.style & WS_CAPTION, 0u) << e.id;
    EXPECT_EQ(d.style & WS_POPUP, 0u) << e.id;
  }
}

TEST(DialogTemplates, HoldEveryControlWithItsClass) {
  for (const ExpectedTemplate& e : Templates()) {
    for (const ExpectedControl& c : e.controls) {
      const DialogControl& got = Control(e.id, c.id);
      if (!got.className) continue;
      ExpectKind(e.id, got, c.kind);
      if (c.text) {
        EXPECT_STREQ(got.text, c.text) << Describe(e.id, got);
      }
    }
  }
}

TEST(DialogTemplates, HoldNoControlBesidesTheListedOnesLabelsAndGroups) {
  for (const ExpectedTemplate& e : Templates()) {
    const DialogTemplate& d = Template(e.id);
    std::set<int> expected;
    for (const ExpectedControl& c : e.controls) expected.insert(c.id);
    std::vector<std::string> groups;
    for (std::size_t k = 0; k < d.controlCount; ++k) {
      const DialogControl& c = d.controls[k];
      if (c.id != -1) {
        EXPECT_TRUE(expected.count(c.id)) << "unexpected " << Describe(e.id, c);
        continue;
      }
      // Unaddressed controls are labels (right-aligned STATIC text), group
      // boxes and the About picture.
      const std::string cls = c.className;
      if (cls == "BUTTON") {
        EXPECT_EQ(c.style & BS_TYPEMASK, BS_GROUPBOX) << Describe(e.id, c);
        groups.emplace_back(c.text);
      } else {
        EXPECT_EQ(cls, "STATIC") << Describe(e.id, c);
        if (c.textResourceId == 0) {
          EXPECT_EQ(c.style & SS_TYPEMASK, SS_RIGHT) << Describe(e.id, c);
        }
      }
    }
    EXPECT_EQ(groups, std::vector<std::string>(e.groups.begin(), e.groups.end())) << e.id;
  }
}

TEST(DialogTemplates, ControlsLieInsideTheirTemplate) {
  for (const ExpectedTemplate& e : Templates()) {
    const DialogTemplate& d = Template(e.id);
    for (std::size_t k = 0; k < d.controlCount; ++k) {
      const DialogControl& c = d.controls[k];
      EXPECT_GE(c.x, 0) << Describe(e.id, c);
      EXPECT_GE(c.y, 0) << Describe(e.id, c);
      EXPECT_LE(c.x + c.cx, d.cx) << Describe(e.id, c);
      EXPECT_LE(c.y + c.cy, d.cy) << Describe(e.id, c);
      EXPECT_NE(c.style & WS_CHILD, 0u) << Describe(e.id, c);
      EXPECT_NE(c.style & WS_VISIBLE, 0u) << Describe(e.id, c);
    }
  }
}

TEST(DialogTemplates, EverySpinnerSitsDirectlyRightOfItsEditField) {
  for (const ExpectedTemplate& e : Templates()) {
    for (std::size_t k = 0; k + 1 < e.controls.size(); ++k) {
      if (e.controls[k].kind != Kind::Edit || e.controls[k + 1].kind != Kind::Spinner) continue;
      const DialogControl& edit = Control(e.id, e.controls[k].id);
      const DialogControl& spin = Control(e.id, e.controls[k + 1].id);
      EXPECT_EQ(spin.x, edit.x + edit.cx) << Describe(e.id, spin);
      EXPECT_EQ(spin.y, edit.y) << Describe(e.id, spin);
      EXPECT_EQ(spin.cy, edit.cy) << Describe(e.id, spin);
    }
  }
}

bool SameRow(const DialogControl& a, const DialogControl& b) { return a.y < b.y + b.cy && b.y < a.y + a.cy; }

TEST(DialogTemplates, RowsFollowTheLayout) {
  struct Pair {
    int templateId;
    int left;
    int right;
  };
  // Controls sharing a row, the first to the left of the second.
  const Pair sameRow[] = {
      {101, 1497, 1492},  // Stars Count, then Seed
      {101, 1007, 1006},  // Use Object Origin, then its pick button
      {101, 1038, 1039},  // 3D domain check box, then the radius
      {101, 1042, 1041},  // slider, then its edit field
      {101, 1001, 1005},  // dim, then bright colour
      {101, 1044, 1043},
      {101, 1508, 1509},  // dim size, then bright size
      {101, 1002, 1496},
      {101, 1004, 1505},
      {101, 1003, 1503},
      {102, 1008, 1009},
      {102, 1520, 1037},  // dimming spinner, then the filter swatch
      {105, 1011, 1514},
      {105, 1012, 1516},
      {106, 1017, 1041},  // "Object +X Axis", then its pick button
      {103, 1027, 1028},  // Delta X, then Delta Y
      {103, 1035, 1036},  // Lock, then UnLock
      {107, 1102, 1103},  // "Catalogue:", then its file button
      {107, 1105, 1106},  // magnitude limit, then the zero point
      {107, 1109, 1110},  // minimum size, then growth
      {107, 1112, 1113},  // Celestial, then Observer
      {107, 1116, 1121},  // UT1-UTC, then height
      {107, 1118, 1119},  // latitude, then longitude
      {107, 1123, 1124},  // refraction, then its pressure
  };
  for (const Pair& p : sameRow) {
    const DialogControl& a = Control(p.templateId, p.left);
    const DialogControl& b = Control(p.templateId, p.right);
    EXPECT_TRUE(SameRow(a, b)) << p.templateId << ": " << p.left << " and " << p.right;
    EXPECT_LE(a.x + a.cx, b.x) << p.templateId << ": " << p.left << " left of " << p.right;
  }
  // Radio buttons of the Apply and Hyperspace rollouts have rows of their own.
  for (int t : {105, 106}) {
    const DialogTemplate& d = Template(t);
    std::vector<const DialogControl*> radios;
    for (std::size_t k = 0; k < d.controlCount; ++k)
      if ((d.controls[k].style & BS_TYPEMASK) == BS_AUTORADIOBUTTON && std::string(d.controls[k].className) == "BUTTON")
        radios.push_back(&d.controls[k]);
    for (std::size_t k = 1; k < radios.size(); ++k)
      EXPECT_GE(radios[k]->y, radios[k - 1]->y + radios[k - 1]->cy) << "template " << t;
  }
  // Lock / UnLock sit under the deltas, centred on the rollout.
  const DialogControl& lock = Control(103, 1035);
  const DialogControl& unlock = Control(103, 1036);
  EXPECT_GE(lock.y, Control(103, 1026).y + Control(103, 1026).cy);
  const int centre2 = lock.x + unlock.x + unlock.cx;  // twice the pair's centre
  EXPECT_NEAR(centre2, 211, 4);
}

TEST(DialogTemplates, LabelsAreRightAlignedLeftOfTheirFields) {
  struct Label {
    int templateId;
    const char* text;
    int field;
  };
  const Label labels[] = {
      {101, "Stars Count:", 1491},         {101, "Seed:", 1492},
      {101, "Velumbra Limits:", 1511},     {101, "Radial Density Balance:", 1042},
      {101, "Dim Stars:", 1001},           {101, "Bright Stars:", 1005},
      {101, "Color Variance [%]:", 1493},  {101, "Dim / Bright Balance:", 1044},
      {102, "Duration (frames):", 1517},   {102, "Duration Subdivisions:", 1522},
      {102, "Stars Dimming:", 1519},       {106, "Depth:", 1013},
      {103, "Seed:", 1022},                {103, "Frequency [Hz]:", 1024},
      {103, "Delta X:", 1026},             {103, "Delta Y:", 1028},
      {103, "Multiplier:", 1030},          {103, "Dimmer:", 1032},
      {107, "Magnitude Limit:", 1104},     {107, "Zero Point:", 1106},
      {107, "Minimum Size:", 1108},        {107, "Growth:", 1110},
      {107, "Time (UTC):", 1114},          {107, "UT1-UTC [s]:", 1115},
      {107, "Height [m]:", 1121},          {107, "Latitude:", 1117},
      {107, "Longitude E:", 1119},         {107, "Pressure [hPa]:", 1124},
      {107, "Temperature [C]:", 1126},
  };
  for (const Label& l : labels) {
    const DialogTemplate& d = Template(l.templateId);
    const DialogControl& field = Control(l.templateId, l.field);
    bool found = false;
    for (std::size_t k = 0; k < d.controlCount && !found; ++k) {
      const DialogControl& c = d.controls[k];
      if (std::string(c.text) != l.text || std::string(c.className) != "STATIC" || !SameRow(c, field)) continue;
      found = true;
      EXPECT_EQ(c.style & SS_TYPEMASK, SS_RIGHT) << l.text;
      EXPECT_LE(c.x + c.cx, field.x) << l.text;
    }
    EXPECT_TRUE(found) << "label \"" << l.text << "\" beside control " << l.field << " of " << l.templateId;
  }
}

TEST(DialogTemplates, AboutShowsTheBitmapInAnUntitledGroup) {
  const DialogTemplate& d = Template(104);
  ASSERT_EQ(d.controlCount, 2u);
  const DialogControl* picture = nullptr;
  for (std::size_t k = 0; k < d.controlCount; ++k)
    if (d.controls[k].textResourceId != 0) picture = &d.controls[k];
  ASSERT_NE(picture, nullptr);
  EXPECT_STREQ(picture->className, "STATIC");
  EXPECT_EQ(picture->style & SS_TYPEMASK, SS_BITMAP);
  EXPECT_EQ(picture->textResourceId, 106);
  EXPECT_NE(FindBitmapResource(Module(), 106), nullptr);
}

// Across modules: every control the parameter schema binds exists in the
// template of its rollout, with the class its control kind needs.
TEST(DialogTemplates, HoldEveryControlTheParameterSchemaBinds) {
  const ParamBlockDesc2& desc = qe_velumbra_param_blk;
  ASSERT_TRUE(desc.IsValid()) << desc.ErrorMessage();
  int bound = 0;
  for (int k = 0; k < desc.Count(); ++k) {
    const ParamDef& p = *desc.GetParamDefByIndex(k);
    if (!p.ui.HasControl()) continue;
    const RolloutDef* rollout = desc.GetRolloutByMap(p.ui.map);
    ASSERT_NE(rollout, nullptr) << p.internalName;
    const int t = rollout->dialogTemplate;
    std::vector<Kind> kinds;
    switch (p.ui.control) {
      case TYPE_SPINNER: kinds = {Kind::Edit, Kind::Spinner}; break;
      case TYPE_SLIDER: kinds = {Kind::Edit, Kind::Slider}; break;
      case TYPE_SINGLECHEKBOX: kinds = {Kind::Check}; break;
      case TYPE_COLORSWATCH: kinds = {Kind::Swatch}; break;
      case TYPE_PICKNODEBUTTON: kinds = {Kind::Pick}; break;
      case TYPE_RADIO: kinds.assign(p.ui.ctrlIDs.size(), Kind::Radio); break;
      case TYPE_EDITBOX: kinds = {Kind::Edit}; break;
      case TYPE_FILEOPENBUTTON: kinds = {Kind::FileButton}; break;
    }
    ASSERT_EQ(kinds.size(), p.ui.ctrlIDs.size()) << p.internalName;
    for (std::size_t c = 0; c < kinds.size(); ++c) {
      const DialogControl& got = Control(t, p.ui.ctrlIDs[c]);
      if (!got.className) continue;
      ++bound;
      const std::string what = p.internalName + " in template " + std::to_string(t);
      switch (kinds[c]) {
        case Kind::Check:
          EXPECT_STREQ(got.className, "BUTTON") << what;
          EXPECT_EQ(got.style & BS_TYPEMASK, BS_AUTOCHECKBOX) << what;
          break;
        case Kind::Radio:
          EXPECT_STREQ(got.className, "BUTTON") << what;
          EXPECT_EQ(got.style & BS_TYPEMASK, BS_AUTORADIOBUTTON) << what;
          EXPECT_EQ((got.style & WS_GROUP) != 0, c == 0) << what;
          break;
        default: ExpectKind(t, got, kinds[c]); break;
      }
    }
  }
  // 60 parameters: 34 spinners and sliders with two controls each, 21 check
  // boxes, swatches, pick buttons, an edit box and a file button, and five
  // radio groups of 13 buttons.
  EXPECT_EQ(bound, 2 * 34 + 21 + 13);
}

}  // namespace
