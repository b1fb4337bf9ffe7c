#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "app/image/exr_test_files.h"
#include "host/app/base/app_error.h"
#include "host/app/image/exr_io.h"

namespace {

using velumbra::ExrIdType;
using velumbra::ExrReader;
using velumbra::ExrWriteOptions;
using velumbra::FindIdChannel;
using velumbra::FloatRgba;
using velumbra::IdKind;
using velumbra::InputError;

// --- discovery ------------------------------------------------------------------------

TEST(ExrIdDiscovery, PrefersExactNamesThenComponentsThenLayers) {
  const struct {
    std::vector<std::string> channels;
    IdKind kind;
    std::optional<std::string> want;
  } cases[] = {
      {{"B", "G", "IndexOB", "ObjectID", "R"}, IdKind::Object, "ObjectID"},
      {{"IndexOB", "Object Index"}, IdKind::Object, "IndexOB"},
      {{"Object Index", "R"}, IdKind::Object, "Object Index"},
      {{"IndexMA", "IndexOB", "MaterialID"}, IdKind::Material, "MaterialID"},
      {{"IndexMA", "IndexOB"}, IdKind::Material, "IndexMA"},
      // exact before component before layer, whatever the name order
      {{"IndexOB", "ObjectID.X"}, IdKind::Object, "IndexOB"},
      {{"IndexOB.X", "ViewLayer.ObjectID"}, IdKind::Object, "IndexOB.X"},
      {{"ViewLayer.IndexOB", "ViewLayer.IndexOB.X"}, IdKind::Object, "ViewLayer.IndexOB"},
      {{"ViewLayer.Combined.R", "ViewLayer.IndexMA.X", "ViewLayer.IndexOB.X"}, IdKind::Object,
       "ViewLayer.IndexOB.X"},
      {{"ViewLayer.Combined.R", "ViewLayer.IndexMA.X", "ViewLayer.IndexOB.X"}, IdKind::Material,
       "ViewLayer.IndexMA.X"},
      {{"a.b.IndexOB"}, IdKind::Object, "a.b.IndexOB"},
      // component order X, V, Y, R; then layers in name order
      {{"IndexOB.R", "IndexOB.V"}, IdKind::Object, "IndexOB.V"},
      {{"Zed.IndexOB", "Alpha.IndexOB"}, IdKind::Object, "Alpha.IndexOB"},
      // letter case only when nothing matches exactly
      {{"indexob", "objectid"}, IdKind::Object, "objectid"},
      {{"objectid", "View.IndexOB.X"}, IdKind::Object, "View.IndexOB.X"},
      // near misses
      {{"MyIndexOB", "IndexOBX", "IndexOB.Z", "IndexOB.", ".IndexOB", "ObjectIDs"}, IdKind::Object, std::nullopt},
      {{"IndexOB", "ObjectID"}, IdKind::Material, std::nullopt},
      {{}, IdKind::Object, std::nullopt},
  };
  for (const auto& c : cases) {
    std::string list;
    for (const auto& s : c.channels) list += "[" + s + "]";
    EXPECT_EQ(FindIdChannel(c.channels, c.kind), c.want) << list;
  }
}

// --- reading and writing IDs ----------------------------------------------------------

TEST(ExrIds, RoundTripAsUintAndFloat) {
  TempDir dir;
  const int w = 4, h = 2;
  const std::vector<FloatRgba> px(size_t(w) * h, FloatRgba{0.5f, 0.5f, 0.5f, 1.0f});
  const std::vector<WORD> objects = {0, 1, 255, 256, 4097, 32768, 65534, 65535};
  const std::vector<UBYTE> materials = {0, 1, 2, 127, 128, 200, 254, 255};
  for (const ExrIdType type : {ExrIdType::Uint, ExrIdType::Float}) {
    ExrWriteOptions options;
    options.ids = type;
    velumbra::WriteExr(dir / "ids.exr", w, h, px.data(), objects.data(), materials.data(), options);
    ExrReader reader(dir / "ids.exr");
    EXPECT_EQ(reader.Channels(), (std::vector<std::string>{"A", "B", "G", "MaterialID", "ObjectID", "R"}));
    EXPECT_EQ(reader.ReadObjectIds("ObjectID").values, objects);
    EXPECT_EQ(reader.ReadMaterialIds("MaterialID").values, materials);
    EXPECT_EQ(reader.ReadRgba().pixels[5], (BMM_Color_64{32640, 32640, 32640, 65280}));

    const velumbra::ExrIds<WORD> found = velumbra::ReadExrObjectIds(dir / "ids.exr");
    EXPECT_EQ(found.channel, "ObjectID");
    EXPECT_EQ(found.values, objects);
    EXPECT_EQ(found.width, w);
    EXPECT_EQ(velumbra::ReadExrMaterialIds(dir / "ids.exr").channel, "MaterialID");
  }
}

TEST(ExrIds, HalfAndLayeredChannelsWithADataWindow) {
  TempDir dir;
  TestExr layout;
  layout.display = {Imath::V2i(0, 0), Imath::V2i(3, 2)};
  layout.data = {Imath::V2i(1, 1), Imath::V2i(4, 2)};  // one column beyond the display
  layout.channels = {{"ViewLayer.IndexOB.X", Imf::HALF, {1, 2, 3, 9, 2048, 5, 6, 9}, {}},
                   {"ViewLayer.IndexMA.X", Imf::FLOAT, {7, 7, 7, 300, 7, 7, 7, 300}, {}}};
  WriteTestExr(dir / "blender.exr", layout);
  const velumbra::ExrIds<WORD> ids = velumbra::ReadExrObjectIds(dir / "blender.exr");
  EXPECT_EQ(ids.channel, "ViewLayer.IndexOB.X");
  EXPECT_EQ(ids.values, (std::vector<WORD>{0, 0, 0, 0, 0, 1, 2, 3, 0, 2048, 5, 6}));
  // The out-of-range 300 lies outside the display window: never checked.
  const std::vector<UBYTE> materials = {0, 0, 0, 0, 0, 7, 7, 7, 0, 7, 7, 7};
  EXPECT_EQ(velumbra::ReadExrMaterialIds(dir / "blender.exr").values, materials);

  // Read together with the colour in one pass: the same.
  layout.channels.push_back(Filled("ViewLayer.Combined.R", layout.Count(), 0.5f));
  layout.channels.push_back(Filled("ViewLayer.Combined.G", layout.Count(), 0.5f));
  layout.channels.push_back(Filled("ViewLayer.Combined.B", layout.Count(), 0.5f));
  WriteTestExr(dir / "all.exr", layout);
  ExrReader reader(dir / "all.exr");
  const velumbra::ExrFrame frame = reader.ReadFrame("ViewLayer.IndexOB.X", "ViewLayer.IndexMA.X");
  ASSERT_TRUE(frame.objectIds && frame.materialIds);
  EXPECT_EQ(frame.objectIds->values, ids.values);
  EXPECT_EQ(frame.materialIds->values, materials);
  EXPECT_EQ(frame.image.pixels, reader.ReadRgba().pixels);
  EXPECT_EQ(frame.image.pixels[5], (BMM_Color_64{32640, 32640, 32640, 65280}));
  EXPECT_EQ(frame.image.pixels[4], (BMM_Color_64{}));
  EXPECT_FALSE(reader.ReadFrame("", "ViewLayer.IndexMA.X").objectIds);
  EXPECT_THROW(reader.ReadFrame("IndexOB", ""), InputError);
}

TEST(ExrIds, NearlyWholeValuesRoundOthersAreReportedWithThePixel) {
  TempDir dir;
  TestExr layout;
  layout.display = layout.data = {Imath::V2i(5, 5), Imath::V2i(7, 6)};  // 3 x 2 at (5, 5)
  const auto withValueAt = [&](int index, float v) {
    std::vector<float> values = {2.0004f, 2.9996f, 0, 0, -0.0004f, 65535};
    values[index] = v;
    layout.channels = {{"ObjectID", Imf::FLOAT, values, {}}, {"MaterialID", Imf::FLOAT, values, {}}};
    WriteTestExr(dir / "ids.exr", layout);
  };
  withValueAt(2, 0);
  EXPECT_EQ(ExrReader(dir / "ids.exr").ReadObjectIds("ObjectID").values, (std::vector<WORD>{2, 3, 0, 0, 0, 65535}));

  const struct {
    int index;
    float value;
    const char* objectMessage;  // empty: accepted
    const char* materialMessage;
  } cases[] = {
      {3, 2.5f, "object ID 2.5 at pixel (0, 1) is not a whole number", "material ID 2.5 at pixel (0, 1) is not"},
      {4, -1.0f, "object ID -1 at pixel (1, 1) is outside 0..65535", "material ID -1 at pixel (1, 1) is outside 0..255"},
      {2, 65536.0f, "object ID 65536 at pixel (2, 0) is outside", "material ID 65536 at pixel (2, 0)"},
      {2, 256.0f, "", "material ID 256 at pixel (2, 0) is outside 0..255"},
      {0, std::nanf(""), "object ID NaN at pixel (0, 0) is not a number", "NaN at pixel (0, 0)"},
      {1, INFINITY, "object ID inf at pixel (1, 0) is outside", "material ID inf"},
  };
  for (const auto& c : cases) {
    withValueAt(c.index, c.value);
    ExrReader reader(dir / "ids.exr");
    const std::string object = InputErrorOf([&] { reader.ReadObjectIds("ObjectID"); });
    const std::string material = InputErrorOf([&] { reader.ReadMaterialIds("MaterialID"); });
    if (*c.objectMessage) {
      EXPECT_NE(object.find(c.objectMessage), std::string::npos) << object;
      EXPECT_NE(object.find((dir / "ids.exr").string() + ": channel \"ObjectID\""), std::string::npos) << object;
    } else {
      EXPECT_EQ(object, "") << c.value;
    }
    EXPECT_NE(material.find(c.materialMessage), std::string::npos) << material;
  }
}

TEST(ExrIds, UintValuesAreCheckedForRange) {
  TempDir dir;
  TestExr layout;
  layout.channels = {{"id", Imf::UINT, {}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 70000}}};
  WriteTestExr(dir / "u.exr", layout);
  ExrReader reader(dir / "u.exr");
  EXPECT_NE(InputErrorOf([&] { reader.ReadObjectIds("id"); }).find("object ID 70000 at pixel (3, 2) is outside 0..65535"),
            std::string::npos);
  EXPECT_NE(InputErrorOf([&] { reader.ReadMaterialIds("id"); }).find("material ID 70000 at pixel (3, 2)"),
            std::string::npos);
}

TEST(ExrIds, ChannelChoiceWhenNoneIsNamed) {
  TempDir dir;
  TestExr layout;
  // A single channel of any name is the ID channel.
  layout.channels = {Filled("Z", layout.Count(), 4)};
  WriteTestExr(dir / "one.exr", layout);
  const velumbra::ExrIds<WORD> one = velumbra::ReadExrObjectIds(dir / "one.exr");
  EXPECT_EQ(one.channel, "Z");
  EXPECT_EQ(one.values, std::vector<WORD>(layout.Count(), 4));

  // Several, none of them known: the error lists them.
  layout.channels.push_back(Filled("depth", layout.Count(), 4));
  WriteTestExr(dir / "two.exr", layout);
  const std::string message = InputErrorOf([&] { velumbra::ReadExrMaterialIds(dir / "two.exr"); });
  EXPECT_NE(message.find("no material ID channel found"), std::string::npos) << message;
  EXPECT_NE(message.find("channels Z, depth"), std::string::npos) << message;

  // A named channel that is not there.
  const std::string missing = InputErrorOf([&] { velumbra::ReadExrObjectIds(dir / "two.exr", "IndexOB"); });
  EXPECT_NE(missing.find("no channel named \"IndexOB\""), std::string::npos) << missing;
}

}  // namespace
