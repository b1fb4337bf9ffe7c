// The frei0r parameters against the module's own block: every default
// survives the trip to frei0r's 0..1 and back, the ends of x reach the ends
// of the block's ranges, out-of-range x is held to them, and the generated
// table in docs/ is current.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <set>

#include "host/app/module_loader.h"
#include "integrations/frei0r/frei0r_params.h"
#include "support/source_tree.h"
#include "support/run_program.h"

namespace fs = std::filesystem;
using velumbra::frei0r::Kind;
using velumbra::frei0r::Param;
using velumbra::frei0r::Use;

namespace {

class Frei0rParams : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    registry_ = new velumbra::ModuleRegistry;
    registry_->LoadModule(BuildDir() / "Qe_Velumbra.dlv");
  }
  static void TearDownTestSuite() {
    delete registry_;
    registry_ = nullptr;
  }
  ClassDesc2& Effect() {
    auto* cd = dynamic_cast<ClassDesc2*>(registry_->FindClass("Qe_Velumbra"));
    if (!cd) throw std::runtime_error("the module did not load");
    return *cd;
  }
  static velumbra::ModuleRegistry* registry_;
};
velumbra::ModuleRegistry* Frei0rParams::registry_ = nullptr;

const Param& Named(const std::vector<Param>& params, const std::string& name) {
  for (const Param& p : params)
    if (p.name == name) return p;
  throw std::runtime_error("no parameter " + name);
}

}  // namespace

TEST_F(Frei0rParams, EveryDefaultComesBackFromItsX) {
  for (Use use : {Use::Filter, Use::Source}) {
    const std::vector<Param> params = velumbra::frei0r::MakeParams(Effect(), use);
    std::set<std::string> names;
    for (const Param& p : params) {
      SCOPED_TRACE(p.name);
      EXPECT_TRUE(names.insert(p.name).second) << "names are unique: hosts address parameters by them";
      const double x = p.DefaultX();
      EXPECT_GE(x, 0.0);
      EXPECT_LE(x, 1.0);
      if (p.own) {
        EXPECT_NEAR(p.OwnValue(x), p.own->def, 1e-9);
      } else if (p.kind == Kind::Colour) {
        EXPECT_EQ(p.DefaultColour(), p.def->def.c);
      } else if (p.def->type == TYPE_FLOAT) {
        EXPECT_EQ(p.FloatValue(x), p.def->def.f) << "x " << x;
      } else if (p.choices > 0) {
        EXPECT_EQ(p.IntValue(x), p.DefaultChoice());
      } else {
        EXPECT_EQ(p.IntValue(x), p.def->def.i) << "x " << x;
      }
    }
  }
}

TEST_F(Frei0rParams, TheEndsOfXAreTheEndsOfTheRangeAndBeyondIsHeld) {
  const std::vector<Param> params = velumbra::frei0r::MakeParams(Effect(), Use::Filter);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Param& count = Named(params, "count");
  EXPECT_EQ(count.IntValue(0.0), count.def->rangeLow.i);
  EXPECT_EQ(count.IntValue(1.0), count.def->rangeHigh.i);
  EXPECT_EQ(count.IntValue(2.0), count.def->rangeHigh.i);
  EXPECT_EQ(count.IntValue(-1.0), count.def->rangeLow.i);
  EXPECT_EQ(count.IntValue(nan), count.def->rangeLow.i);
  EXPECT_EQ(count.IntValue(0.0005), 5000) << "rounded, not truncated";

  const Param& depth = Named(params, "hyperspace depth");  // a range through 0
  EXPECT_EQ(depth.FloatValue(0.0), depth.def->rangeLow.f);
  EXPECT_EQ(depth.FloatValue(0.5), 0.0f);
  EXPECT_EQ(depth.FloatValue(1.0), depth.def->rangeHigh.f);
  EXPECT_EQ(depth.FloatValue(1e9), depth.def->rangeHigh.f);

  const Param& apply = Named(params, "apply method");
  ASSERT_EQ(apply.choices, 5);
  EXPECT_EQ(apply.labels.at(2), "Simple Additive");
  EXPECT_EQ(apply.DefaultChoice(), 2) << "the filter's default over opaque footage";
  EXPECT_EQ(Named(velumbra::frei0r::MakeParams(Effect(), Use::Source), "apply method").DefaultChoice(),
            apply.def->def.i)
      << "the source keeps the block's";
  for (int i = 0; i < 5; ++i) EXPECT_EQ(apply.IntValue(i / 4.0), i);
  EXPECT_EQ(apply.IntValue(0.12), 0);
  EXPECT_EQ(apply.IntValue(0.13), 1);

  const Param& alpha = Named(params, "write alpha");
  EXPECT_EQ(alpha.kind, Kind::Bool);
  EXPECT_EQ(alpha.IntValue(0.49), 0);
  EXPECT_EQ(alpha.IntValue(0.5), 1);

  const Param& pan = Named(params, "pan");
  EXPECT_EQ(pan.OwnValue(0.0), -180.0);
  EXPECT_EQ(pan.OwnValue(0.75), 90.0);
  EXPECT_EQ(pan.OwnValue(7.0), 180.0);
}

TEST_F(Frei0rParams, NodeParametersAndIdMasksAreNotOffered) {
  const std::vector<Param> params = velumbra::frei0r::MakeParams(Effect(), Use::Filter);
  for (const Param& p : params) {
    if (!p.def) continue;
    EXPECT_NE(p.def->type, TYPE_INODE) << p.name;
    EXPECT_EQ(p.def->internalName.find("objectid"), std::string::npos) << p.name;
  }
  EXPECT_EQ(params.back().name, "frame rate") << "the plug-in's own come last";
}

TEST(Frei0rDocs, ParameterTableIsCurrent) {
  const ProgramResult r = RunProgram({(BuildDir() / "qe_velumbra_frei0r_params").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, ReadFileBytes(SourceDir() / "docs/frei0r-parameters.md"))
      << "regenerate: build/qe_velumbra_frei0r_params > docs/frei0r-parameters.md";
}
