// The filter through its frei0r entry points, loaded in-process as a host
// loads it: one instance across frames, the camera's motion between
// updates, and what a host may hand it that it must survive.
#include <dlfcn.h>
extern "C" {
#include <frei0r.h>
}

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "support/source_tree.h"

namespace {

// The plug-in's exports, as a host looks them up.
class Plugin {
 public:
  explicit Plugin(const std::string& file) : handle_(dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (!handle_) return;
    init = reinterpret_cast<decltype(init)>(dlsym(handle_, "f0r_init"));
    deinit = reinterpret_cast<decltype(deinit)>(dlsym(handle_, "f0r_deinit"));
    info = reinterpret_cast<decltype(info)>(dlsym(handle_, "f0r_get_plugin_info"));
    paramInfo = reinterpret_cast<decltype(paramInfo)>(dlsym(handle_, "f0r_get_param_info"));
    construct = reinterpret_cast<decltype(construct)>(dlsym(handle_, "f0r_construct"));
    destruct = reinterpret_cast<decltype(destruct)>(dlsym(handle_, "f0r_destruct"));
    set = reinterpret_cast<decltype(set)>(dlsym(handle_, "f0r_set_param_value"));
    get = reinterpret_cast<decltype(get)>(dlsym(handle_, "f0r_get_param_value"));
    update = reinterpret_cast<decltype(update)>(dlsym(handle_, "f0r_update"));
  }
  ~Plugin() {
    if (handle_) dlclose(handle_);
  }
  bool Loaded() const { return handle_ && init && deinit && info && construct && destruct && set && get && update; }

  // The index of the parameter named `name`, or -1.
  int Index(const std::string& name) const {
    f0r_plugin_info_t pi{};
    info(&pi);
    for (int i = 0; i < pi.num_params; ++i) {
      f0r_param_info_t p{};
      paramInfo(&p, i);
      if (name == p.name) return i;
    }
    return -1;
  }

  int (*init)() = nullptr;
  void (*deinit)() = nullptr;
  void (*info)(f0r_plugin_info_t*) = nullptr;
  void (*paramInfo)(f0r_param_info_t*, int) = nullptr;
  f0r_instance_t (*construct)(unsigned, unsigned) = nullptr;
  void (*destruct)(f0r_instance_t) = nullptr;
  void (*set)(f0r_instance_t, f0r_param_t, int) = nullptr;
  void (*get)(f0r_instance_t, f0r_param_t, int) = nullptr;
  void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*) = nullptr;

 private:
  void* handle_;
};

constexpr unsigned kW = 160, kH = 120;

class Frei0rFilter : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plugin_.Loaded()) << dlerror();
    ASSERT_EQ(plugin_.init(), 1);
    plate_.assign(kW * kH, 0xff402010u);  // opaque, little-endian RGBA bytes 10 20 40 ff
  }
  void TearDown() override {
    if (plugin_.Loaded()) plugin_.deinit();
  }
  f0r_instance_t Make() {
    f0r_instance_t f = plugin_.construct(kW, kH);
    EXPECT_NE(f, nullptr);
    Set(f, "count", 0.05);
    Set(f, "frame rate", 25.0 / 240);
    return f;
  }
  void Set(f0r_instance_t f, const char* name, double x) {
    const int i = plugin_.Index(name);
    ASSERT_GE(i, 0) << name;
    plugin_.set(f, &x, i);
  }
  std::vector<uint32_t> Frame(f0r_instance_t f, int frame, double pan) {
    Set(f, "pan", pan);
    std::vector<uint32_t> out(kW * kH);
    plugin_.update(f, frame / 25.0, plate_.data(), out.data());
    return out;
  }

  Plugin plugin_{(BuildDir() / "frei0r-1" / "qe_velumbra.so").string()};
  std::vector<uint32_t> plate_;
};

}  // namespace

TEST_F(Frei0rFilter, CameraMotionBetweenConsecutiveUpdatesBlursAndARepeatedFrameIsTheSame) {
  f0r_instance_t f = Make();
  const std::vector<uint32_t> still2 = Frame(f, 2, 0.5);
  const std::vector<uint32_t> moving3 = Frame(f, 3, 0.52);
  const std::vector<uint32_t> again3 = Frame(f, 3, 0.52);
  EXPECT_NE(still2, plate_) << "stars drawn";
  EXPECT_EQ(moving3, again3) << "rendering a frame again keeps the frame before's camera";

  // A fresh instance seeking straight to frame 3: no frame before, so a
  // still camera, the frame a still rig gives at that pan.
  f0r_instance_t seek = Make();
  const std::vector<uint32_t> sought3 = Frame(seek, 3, 0.52);
  EXPECT_NE(sought3, moving3) << "the turn from frame 2 streaks the stars";
  f0r_instance_t held = Make();
  Frame(held, 2, 0.52);
  EXPECT_EQ(Frame(held, 3, 0.52), sought3) << "a camera held still renders as a seek does";

  // A frame two ahead is a seek too.
  Frame(f, 5, 0.6);
  EXPECT_EQ(Frame(f, 7, 0.52), Frame(seek, 7, 0.52));
  for (f0r_instance_t i : {f, seek, held}) plugin_.destruct(i);
}

TEST_F(Frei0rFilter, ParametersComeBackAsSetAndHostileValuesAreHeldToTheRange) {
  f0r_instance_t f = Make();
  const int count = plugin_.Index("count"), colour = plugin_.Index("bright colour");
  ASSERT_GE(count, 0);
  double x = 0.25;
  plugin_.set(f, &x, count);
  double back = -1;
  plugin_.get(f, &back, count);
  EXPECT_EQ(back, 0.25);
  f0r_param_color_t c{0.5f, 0.25f, 1.0f}, cb{};
  plugin_.set(f, &c, colour);
  plugin_.get(f, &cb, colour);
  EXPECT_EQ(cb.r, 0.5f);
  EXPECT_EQ(cb.b, 1.0f);

  // Unknown indices and null pointers are ignored; NaN and huge values
  // clamp (a huge count to the block's largest, Frei0rParams).
  plugin_.set(f, &x, -1);
  plugin_.set(f, &x, 1000);
  plugin_.set(f, nullptr, count);
  for (double hostile : {std::numeric_limits<double>::quiet_NaN(), 1e300, -1e300}) {
    if (!(hostile > 1.0)) plugin_.set(f, &hostile, count);
    Set(f, "field of view", hostile);
    Set(f, "motion blur subdivisions", hostile);
    Set(f, "frame rate", hostile);
    std::vector<uint32_t> out(kW * kH);
    plugin_.update(f, 1.0, plate_.data(), out.data());
    plugin_.update(f, std::numeric_limits<double>::infinity(), plate_.data(), out.data());
  }
  plugin_.destruct(f);
  EXPECT_EQ(plugin_.construct(0, 10), nullptr);
  EXPECT_EQ(plugin_.construct(70000, 10), nullptr);
}
