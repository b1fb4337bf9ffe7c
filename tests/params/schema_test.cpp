// The effect's parameter schema against its tables, written out here on
// their own rather than derived from the descriptor's source.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "effect/qe_velumbra_params.h"
#include "support/module_handle.h"

namespace {

enum class Ctl { None, Spinner, Slider, Check, Swatch, Pick, Radio, EditBox, FileButton };

struct Row {
  int id;
  const char* name;
  ParamType2 type;
  int stringId;
  const char* displayName;
  int map;
  // default and range: integers for integer types, floats for floats
  double def;
  Color defColor;
  std::optional<std::pair<double, double>> range;
  Ctl control;
  EditSpinnerType edit;
  std::vector<int> ctrls;
  float scaleOrTicks;  // spinner scale, or slider ticks
  std::vector<int> enables;
  const char* text = nullptr;  // default of a text parameter
};

constexpr float kAuto = -1.0f;
const Color kNoColor;

const std::vector<Row>& Table() {
  static const std::vector<Row> rows = {
      // map 0, "Stars Creation"
      {0, "starscount", TYPE_INT, 6, "Stars Count", 0, 10000, kNoColor, {{0, 10000000}}, Ctl::Spinner, EDITTYPE_INT,
       {1491, 1497}, kAuto, {}},
      {1, "seed", TYPE_INT, 8, "Seed", 0, 12345, kNoColor, {{0, 100000000}}, Ctl::Spinner, EDITTYPE_INT,
       {1492, 1498}, 1.0f, {}},
      {2, "useobjoriginflag", TYPE_BOOL, 22, "Use Object Origin Flag", 0, 0, kNoColor, {}, Ctl::Check, EDITTYPE_INT,
       {1007}, 0, {3}},
      {3, "objectorigin", TYPE_INODE, 20, "Object Origin", 0, 0, kNoColor, {}, Ctl::Pick, EDITTYPE_INT, {1006}, 0, {}},
      {4, "velumbralimit", TYPE_FLOAT, 23, "Velumbra Limits", 0, 1.0f, kNoColor, {{0.0f, 1.0f}}, Ctl::Spinner,
       EDITTYPE_FLOAT, {1511, 1512}, 0.01f, {}},
      {38, "starsdomain3dflag", TYPE_BOOL, 5, "Create 3D Stars Domain", 0, 0, kNoColor, {}, Ctl::Check, EDITTYPE_INT,
       {1038}, 0, {39, 40}},
      {39, "starsdomain3dradius", TYPE_FLOAT, 24, "3D Stars Domain Radius", 0, 100.0f, kNoColor, {{0.0f, 99999.0f}},
       Ctl::Spinner, EDITTYPE_UNIVERSE, {1039, 1040}, kAuto, {}},
      {40, "radialdensitybalance", TYPE_FLOAT, 52, "Radial Density Balance", 0, 0.5f, kNoColor, {{0.0f, 1.0f}},
       Ctl::Slider, EDITTYPE_FLOAT, {1041, 1042}, 10, {}},
      {5, "brightstarscolor", TYPE_RGBA, 7, "Bright Stars Color", 0, 0, Color(1, 1, 1), {}, Ctl::Swatch, EDITTYPE_INT,
       {1005}, 0, {}},
      {6, "dimstarscolor", TYPE_RGBA, 10, "Dim Stars Color", 0, 0, Color(0.8f, 0.8f, 0.8f), {}, Ctl::Swatch,
       EDITTYPE_INT, {1001}, 0, {}},
      {7, "colorvariance", TYPE_FLOAT, 9, "Color Variance", 0, 0.0f, kNoColor, {{0.0f, 100.0f}}, Ctl::Spinner,
       EDITTYPE_FLOAT, {1493, 1499}, 1.0f, {}},
      {41, "brightdimbalance", TYPE_FLOAT, 53, "Bright Dim Balance", 0, 0.2f, kNoColor, {{0.0f, 1.0f}}, Ctl::Slider,
       EDITTYPE_FLOAT, {1043, 1044}, 10, {}},
      {9, "brightstarssize", TYPE_FLOAT, 18, "Bright Stars Size", 0, 1.5f, kNoColor, {{0.0f, 100.0f}}, Ctl::Spinner,
       EDITTYPE_FLOAT, {1509, 1510}, 0.1f, {}},
      {10, "dimstarssize", TYPE_FLOAT, 19, "Dim Stars Size", 0, 1.0f, kNoColor, {{0.0f, 100.0f}}, Ctl::Spinner,
       EDITTYPE_FLOAT, {1507, 1508}, 0.1f, {}},
      {11, "starsalphaflag", TYPE_BOOL, 12, "Stars Alpha Flag", 0, 1, kNoColor, {}, Ctl::Check, EDITTYPE_INT, {1002},
       0, {12}},
      {12, "starsalpha", TYPE_INT, 13, "Stars Alpha", 0, 255, kNoColor, {{0, 255}}, Ctl::Spinner, EDITTYPE_INT,
       {1496, 1502}, 1.0f, {}},
      {13, "starsobjectidflag", TYPE_BOOL, 16, "Stars Object ID Flag", 0, 0, kNoColor, {}, Ctl::Check, EDITTYPE_INT,
       {1004}, 0, {14}},
      {14, "starsobjectid", TYPE_INT, 17, "Stars Object ID", 0, 1, kNoColor, {{0, 255}}, Ctl::Spinner, EDITTYPE_INT,
       {1505, 1506}, 1.0f, {}},
      {15, "starsmaterialidflag", TYPE_BOOL, 14, "Stars Material ID Flag", 0, 0, kNoColor, {}, Ctl::Check,
       EDITTYPE_INT, {1003}, 0, {16}},
      {16, "starsmaterialid", TYPE_INT, 15, "Stars Material ID", 0, 1, kNoColor, {{0, 15}}, Ctl::Spinner,
       EDITTYPE_INT, {1503, 1504}, 1.0f, {}},
      // map 1, "Motion Blur"
      {17, "usecameraflag", TYPE_BOOL, 25, "Use Camera Flag", 1, 0, kNoColor, {}, Ctl::Check, EDITTYPE_INT, {1008}, 0,
       {18}},
      {18, "camera", TYPE_INODE, 26, "Camera", 1, 0, kNoColor, {}, Ctl::Pick, EDITTYPE_INT, {1009}, 0, {}},
      {19, "duration", TYPE_FLOAT, 28, "Duration", 1, 0.5f, kNoColor, {{0.0f, 100.0f}}, Ctl::Spinner, EDITTYPE_FLOAT,
       {1517, 1518}, 0.01f, {}},
      {36, "durationsubdivisions", TYPE_INT, 50, "Duration Subdivisions", 1, 1, kNoColor, {{1, 1000}}, Ctl::Spinner,
       EDITTYPE_INT, {1522, 1523}, 0.01f, {}},
      {20, "starsdimming", TYPE_FLOAT, 29, "Stars Dimming R", 1, 0.3f, kNoColor, {{0.0f, 100.0f}}, Ctl::Spinner,
       EDITTYPE_FLOAT, {1519, 1520}, 0.01f, {}},
      {37, "starsdimmingfilter", TYPE_RGBA, 51, "Stars Dimming Filter", 1, 0, Color(0, 0, 0), {}, Ctl::Swatch,
       EDITTYPE_INT, {1037}, 0, {}},
      // map 2, "Apply"
      {21, "bakobjectidflag", TYPE_BOOL, 32, "Bak Object ID Flag", 2, 0, kNoColor, {}, Ctl::Check, EDITTYPE_INT,
       {1011}, 0, {22}},
      {22, "bakobjectid", TYPE_INT, 33, "Bak Object ID", 2, 1, kNoColor, {{0, 255}}, Ctl::Spinner, EDITTYPE_INT,
       {1514, 1515}, 1.0f, {}},
      {23, "bakmaterialidflag", TYPE_BOOL, 30, "Bak Material ID Flag", 2, 0, kNoColor, {}, Ctl::Check, EDITTYPE_INT,
       {1012}, 0, {24}},
      {24, "bakmaterialid", TYPE_INT, 31, "Bak Material ID", 2, 1, kNoColor, {{0, 15}}, Ctl::Spinner, EDITTYPE_INT,
       {1516, 1521}, 1.0f, {}},
      {25, "drawmode", TYPE_RADIOBTN_INDEX, 34, "Apply Method", 2, 0, kNoColor, {{0, 4}}, Ctl::Radio, EDITTYPE_INT,
       {1013, 1014, 1015, 1016, 1018}, 0, {}},
      // map 3, "Hyperspace Effect"
      {26, "hyperspaceflag", TYPE_BOOL, 41, "Hyperspace Effect Flag", 3, 0, kNoColor, {}, Ctl::Check, EDITTYPE_INT,
       {1015}, 0, {27, 42, 43}},
      {27, "hyperspacedepth", TYPE_FLOAT, 40, "Hyperspace Depth", 3, 0.0f, kNoColor, {{-1.0f, 1.0f}}, Ctl::Spinner,
       EDITTYPE_FLOAT, {1013, 1014}, 0.01f, {}},
      {42, "hyperspacedirection", TYPE_RADIOBTN_INDEX, 11, "Hyperspace Direction", 3, 0, kNoColor, {{0, 1}},
       Ctl::Radio, EDITTYPE_INT, {1016, 1017}, 0, {43}},
      {43, "hsdirectionobject", TYPE_INODE, 54, "Hyperspace Direction Object", 3, 0, kNoColor, {}, Ctl::Pick,
       EDITTYPE_INT, {1041}, 0, {}},
      // map 4, "Scintillation Effect"
      {28, "scintillationflag", TYPE_BOOL, 42, "Scintillation Effect Flag", 4, 0, kNoColor, {}, Ctl::Check,
       EDITTYPE_INT, {1021}, 0, {29, 30, 31, 32, 34, 35}},
      {29, "scintillationseed", TYPE_INT, 43, "Scintillation Seed", 4, 12345, kNoColor, {{0, 100000000}},
       Ctl::Spinner, EDITTYPE_INT, {1022, 1023}, 1.0f, {}},
      {30, "scintillationfrequency", TYPE_FLOAT, 44, "Scintillation Frequency", 4, 2.0f, kNoColor,
       {{0.001f, 4800.0f}}, Ctl::Spinner, EDITTYPE_FLOAT, {1024, 1025}, kAuto, {}},
      {31, "scintillationdx", TYPE_FLOAT, 45, "Scintillation Delta X", 4, 0.0f, kNoColor, {{0.0f, 4000.0f}},
       Ctl::Spinner, EDITTYPE_FLOAT, {1026, 1027}, kAuto, {}},
      {32, "scintillationlockdxyflag", TYPE_RADIOBTN_INDEX, 47, "Scintillation Lock Delta X-Y", 4, 0, kNoColor,
       {{0, 1}}, Ctl::Radio, EDITTYPE_INT, {1035, 1036}, 0, {33}},
      {33, "scintillationdy", TYPE_FLOAT, 46, "Scintillation Delta ", 4, 0.0f, kNoColor, {{0.0f, 4000.0f}},
       Ctl::Spinner, EDITTYPE_FLOAT, {1028, 1029}, kAuto, {}},
      {34, "scintillationmultiplier", TYPE_FLOAT, 48, "Scintillation Multiplier", 4, 0.2f, kNoColor, {{0.0f, 1.0f}},
       Ctl::Spinner, EDITTYPE_FLOAT, {1030, 1031}, kAuto, {}},
      {35, "scintillationdimmer", TYPE_FLOAT, 49, "Scintillation Dimmer", 4, 0.0f, kNoColor, {{0.0f, 255.0f}},
       Ctl::Spinner, EDITTYPE_FLOAT, {1032, 1033}, kAuto, {}},
      // map 6, "Sky"
      {44, "starsource", TYPE_RADIOBTN_INDEX, 56, "Star Source", 6, 0, kNoColor, {{0, 1}}, Ctl::Radio, EDITTYPE_INT,
       {1101, 1102}, 0, {45, 52, 53, 58, 59, 46, 50, 51, 47, 48, 49, 54, 55, 56, 57, 60}},
      {45, "catalogfile", TYPE_FILENAME, 57, "Catalog File", 6, 0, kNoColor, {}, Ctl::FileButton, EDITTYPE_INT,
       {1103}, 0, {}, "/usr/share/kstars/stars.dat"},
      {52, "magnitudelimit", TYPE_FLOAT, 64, "Magnitude Limit", 6, 6.5f, kNoColor, {{-2.0f, 30.0f}}, Ctl::Spinner,
       EDITTYPE_FLOAT, {1104, 1105}, 0.1f, {}},
      {53, "magnitudezero", TYPE_FLOAT, 65, "Magnitude Zero", 6, 6.0f, kNoColor, {{-30.0f, 30.0f}}, Ctl::Spinner,
       EDITTYPE_FLOAT, {1106, 1107}, 0.1f, {}},
      {58, "starminsize", TYPE_FLOAT, 70, "Star Minimum Size", 6, 1.5f, kNoColor, {{0.5f, 20.0f}}, Ctl::Spinner,
       EDITTYPE_FLOAT, {1108, 1109}, 0.1f, {}},
      {59, "stargrowth", TYPE_FLOAT, 71, "Star Growth", 6, 0.25f, kNoColor, {{0.0f, 0.5f}}, Ctl::Spinner,
       EDITTYPE_FLOAT, {1110, 1111}, 0.01f, {}},
      {46, "skyframe", TYPE_RADIOBTN_INDEX, 58, "Sky Frame", 6, 0, kNoColor, {{0, 1}}, Ctl::Radio, EDITTYPE_INT,
       {1112, 1113}, 0, {51, 47, 48, 49, 54, 55, 56, 57}},
      {50, "observertime", TYPE_STRING, 62, "Observer Time", 6, 0, kNoColor, {}, Ctl::EditBox, EDITTYPE_INT, {1114},
       0, {}, "2000-01-01T12:00:00Z"},
      {51, "ut1minusutc", TYPE_FLOAT, 63, "UT1 Minus UTC", 6, 0.0f, kNoColor, {{-1.0f, 1.0f}}, Ctl::Spinner,
       EDITTYPE_FLOAT, {1115, 1116}, 0.001f, {}},
      {49, "observerheight", TYPE_FLOAT, 61, "Observer Height", 6, 0.0f, kNoColor, {{-500.0f, 100000.0f}},
       Ctl::Spinner, EDITTYPE_FLOAT, {1121, 1122}, kAuto, {}},
      {47, "observerlatitude", TYPE_FLOAT, 59, "Observer Latitude", 6, 0.0f, kNoColor, {{-90.0f, 90.0f}},
       Ctl::Spinner, EDITTYPE_FLOAT, {1117, 1118}, 0.01f, {}},
      {48, "observerlongitude", TYPE_FLOAT, 60, "Observer Longitude", 6, 0.0f, kNoColor, {{-180.0f, 180.0f}},
       Ctl::Spinner, EDITTYPE_FLOAT, {1119, 1120}, 0.01f, {}},
      {54, "refractionflag", TYPE_BOOL, 66, "Refraction Flag", 6, 0, kNoColor, {}, Ctl::Check, EDITTYPE_INT, {1123},
       0, {55, 56}},
      {55, "refractionpressure", TYPE_FLOAT, 67, "Refraction Pressure", 6, 1010.0f, kNoColor, {{0.0f, 1200.0f}},
       Ctl::Spinner, EDITTYPE_FLOAT, {1124, 1125}, 1.0f, {}},
      {56, "refractiontemperature", TYPE_FLOAT, 68, "Refraction Temperature", 6, 10.0f, kNoColor,
       {{-80.0f, 60.0f}}, Ctl::Spinner, EDITTYPE_FLOAT, {1126, 1127}, 1.0f, {}},
      {57, "belowhorizonflag", TYPE_BOOL, 69, "Below Horizon Flag", 6, 0, kNoColor, {}, Ctl::Check, EDITTYPE_INT,
       {1128}, 0, {}},
      {60, "fillinflag", TYPE_BOOL, 72, "Fill-in Flag", 6, 0, kNoColor, {}, Ctl::Check, EDITTYPE_INT, {1129}, 0, {}},
  };
  return rows;
}

const ParamBlockDesc2& Desc() { return qe_velumbra_param_blk; }

TEST(ParamSchema, DescriptorIsValidAndRegistered) {
  ASSERT_TRUE(Desc().IsValid()) << Desc().ErrorMessage();
  EXPECT_EQ(Desc().ErrorMessage(), "");
  EXPECT_EQ(Desc().ID(), 0);
  EXPECT_EQ(Desc().InternalName(), "Qe_VelumbraParameters");
  EXPECT_EQ(Desc().LocalName(), 0);
  EXPECT_EQ(Desc().Flags(), 0x26u);
  EXPECT_EQ(Desc().RefNo(), 0);
  EXPECT_EQ(Desc().Count(), 60);
  EXPECT_EQ(Table().size(), 60u);
}

TEST(ParamSchema, DeclarationOrderFollowsTheRollouts) {
  ASSERT_EQ(Desc().Count(), static_cast<int>(Table().size()));
  for (int k = 0; k < Desc().Count(); ++k) {
    EXPECT_EQ(Desc().IndexToID(k), Table()[static_cast<std::size_t>(k)].id) << "declaration " << k;
    EXPECT_EQ(Desc().IDtoIndex(static_cast<ParamID>(Table()[static_cast<std::size_t>(k)].id)), k);
  }
}

TEST(ParamSchema, RolloutsBindTemplatesTitlesAndRollupFlags) {
  struct Rollout {
    int map, dialog, title;
    DWORD rollup;
  };
  const Rollout expected[] = {{0, 101, 4, 0},  {1, 102, 36, 1}, {2, 105, 38, 1}, {3, 106, 39, 1},
                              {4, 103, 35, 1}, {6, 107, 55, 1}, {5, 104, 37, 2}};
  ASSERT_EQ(Desc().NumRollouts(), 7);
  for (int k = 0; k < 7; ++k) {
    const RolloutDef* r = Desc().GetRollout(k);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->map, expected[k].map);
    EXPECT_EQ(r->dialogTemplate, expected[k].dialog);
    EXPECT_EQ(r->title, expected[k].title);
    EXPECT_EQ(r->rollupFlags, expected[k].rollup);
    EXPECT_EQ(r->flagMask, 0u);
    EXPECT_EQ(r->dlgProc, nullptr);
  }
  EXPECT_EQ(Desc().GetRollout(7), nullptr);
  EXPECT_EQ(Desc().GetRollout(-1), nullptr);
  // The titles through the string table.
  ScopedInstance module;
  EXPECT_STREQ(GetString(Desc().GetRolloutByMap(2)->title), "Apply");
  EXPECT_STREQ(GetString(Desc().GetRolloutByMap(4)->title), "Scintillation Effect");
}

TEST(ParamSchema, EveryParameterMatchesItsTableRow) {
  for (const Row& row : Table()) {
    const ParamDef* p = Desc().GetParamDef(static_cast<ParamID>(row.id));
    ASSERT_NE(p, nullptr) << row.name;
    SCOPED_TRACE(row.name);
    EXPECT_EQ(p->internalName, row.name);
    EXPECT_EQ(p->type, row.type);
    EXPECT_EQ(p->localName, row.stringId);
    // Nodes and texts cannot be keyed.
    EXPECT_EQ(p->flags, row.type == TYPE_INODE || row.text ? 0u : P_ANIMATABLE);
    EXPECT_EQ(p->ui.map, row.map);
    switch (row.type) {
      case TYPE_FLOAT: EXPECT_EQ(p->def.f, static_cast<float>(row.def)); break;
      case TYPE_RGBA: EXPECT_EQ(p->def.c, row.defColor); break;
      case TYPE_INODE: EXPECT_EQ(p->def.node, nullptr); break;
      case TYPE_STRING:
      case TYPE_FILENAME: EXPECT_EQ(p->def.s, row.text); break;
      default: EXPECT_EQ(p->def.i, static_cast<int>(row.def)); break;
    }
    EXPECT_EQ(p->hasRange, row.range.has_value());
    if (row.range && row.type == TYPE_FLOAT) {
      EXPECT_EQ(p->rangeLow.f, static_cast<float>(row.range->first));
      EXPECT_EQ(p->rangeHigh.f, static_cast<float>(row.range->second));
    } else if (row.range) {
      EXPECT_EQ(p->rangeLow.i, static_cast<int>(row.range->first));
      EXPECT_EQ(p->rangeHigh.i, static_cast<int>(row.range->second));
    }
    EXPECT_EQ(p->ui.ctrlIDs, row.ctrls);
    switch (row.control) {
      case Ctl::Spinner:
        EXPECT_EQ(p->ui.control, TYPE_SPINNER);
        EXPECT_EQ(p->ui.editType, row.edit);
        EXPECT_EQ(p->ui.scale, row.scaleOrTicks);
        break;
      case Ctl::Slider:
        EXPECT_EQ(p->ui.control, TYPE_SLIDER);
        EXPECT_EQ(p->ui.editType, row.edit);
        EXPECT_EQ(p->ui.ticks, static_cast<int>(row.scaleOrTicks));
        break;
      case Ctl::Check: EXPECT_EQ(p->ui.control, TYPE_SINGLECHEKBOX); break;
      case Ctl::Swatch: EXPECT_EQ(p->ui.control, TYPE_COLORSWATCH); break;
      case Ctl::Pick: EXPECT_EQ(p->ui.control, TYPE_PICKNODEBUTTON); break;
      case Ctl::Radio: EXPECT_EQ(p->ui.control, TYPE_RADIO); break;
      case Ctl::EditBox: EXPECT_EQ(p->ui.control, TYPE_EDITBOX); break;
      case Ctl::FileButton: EXPECT_EQ(p->ui.control, TYPE_FILEOPENBUTTON); break;
      case Ctl::None: EXPECT_FALSE(p->ui.HasControl()); break;
    }
    EXPECT_EQ(std::vector<int>(p->enableCtrls.begin(), p->enableCtrls.end()), row.enables);
  }
}

TEST(ParamSchema, ParameterEightDoesNotExist) {
  EXPECT_EQ(Desc().GetParamDef(8), nullptr);
  EXPECT_EQ(Desc().IDtoIndex(8), -1);
  for (int id = 0; id <= 60; ++id)
    EXPECT_EQ(Desc().GetParamDef(static_cast<ParamID>(id)) != nullptr, id != 8) << id;
  EXPECT_EQ(Desc().GetParamDef(61), nullptr);
  EXPECT_EQ(Desc().GetParamDef(-1), nullptr);
}

TEST(ParamSchema, DisplayNamesComeFromTheStringTableAsStored) {
  ScopedInstance module;
  for (const Row& row : Table()) {
    const ParamDef* p = Desc().GetParamDef(static_cast<ParamID>(row.id));
    ASSERT_NE(p, nullptr);
    const MCHAR* text = GetString(p->localName);
    ASSERT_NE(text, nullptr) << row.name;
    EXPECT_EQ(std::string(text), row.displayName) << row.name;
  }
}

TEST(ParamSchema, PickButtonsPromptAndFilter) {
  ScopedInstance module;
  struct Pick {
    ParamID id;
    const char* prompt;
    SClass_ID filter;
  };
  const Pick picks[] = {{pb_objectorigin, "Pick Object", 0},
                        {pb_camera, "Pick Camera", 0x20},
                        {pb_hsdirectionobject, "Pick Object", 0}};
  for (const Pick& k : picks) {
    const ParamDef* p = Desc().GetParamDef(k.id);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(GetString(p->prompt), k.prompt) << p->internalName;
    EXPECT_EQ(p->sclassID, k.filter) << p->internalName;
  }
}

TEST(ParamSchema, DeltaYIsInNoCheckBoxList) {
  // Switching the scintillation check box off must leave Delta Y alone; only
  // the lock radio group governs it.
  for (int k = 0; k < Desc().Count(); ++k) {
    const ParamDef& p = *Desc().GetParamDefByIndex(k);
    const bool listsDeltaY =
        std::find(p.enableCtrls.begin(), p.enableCtrls.end(), pb_scintillationdy) != p.enableCtrls.end();
    EXPECT_EQ(listsDeltaY, p.id == pb_scintillationlockdxyflag) << p.internalName;
  }
}

TEST(ParamSchema, ParametersAreFoundByInternalName) {
  EXPECT_EQ(Desc().FindByName("starscount"), Desc().IDtoIndex(pb_starscount));
  EXPECT_EQ(Desc().FindByName("hsdirectionobject"), Desc().IDtoIndex(pb_hsdirectionobject));
  EXPECT_EQ(Desc().FindByName("StarsCount"), -1);  // exact match only
  EXPECT_EQ(Desc().FindByName(""), -1);
}

}  // namespace
