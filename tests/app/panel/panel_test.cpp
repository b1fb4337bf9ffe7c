// The velumbra panel's HTTP API, driven in-process with httplib's client:
// edits go through the rollouts' parameter maps, the preview follows them,
// and a saved scene renders what the preview showed.
#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <map>
#include <thread>

#include "app/panel/live_panel.h"
#include "support/temp_dir.h"
#include "effect/qe_velumbra_params.h"
#include "host/app/base/app_error.h"
#include "host/app/colour/scene_colours.h"
#include "host/app/image/exr_io.h"
#include "host/app/image/png_io.h"
#include "host/app/panel/panel.h"
#include "plugin/class_desc.h"
#include "resources/resource.h"
#include "support/module_handle.h"
#include "support/recording_abort.h"

namespace {

using json = nlohmann::json;
using velumbra::PanelModel;
using velumbra::PanelServer;

const json& Rollout(const json& state, int map) {
  for (const json& r : state["effects"][0]["rollouts"])
    if (r["map"] == map) return r;
  throw std::runtime_error("no rollout " + std::to_string(map));
}

const json& Control(const json& state, int map, int id) {
  for (const json& c : Rollout(state, map)["controls"])
    if (c["id"] == id) return c;
  throw std::runtime_error("no control " + std::to_string(id));
}

TEST(PanelApi, ServesThePageAndTheRolloutsLaidOutInPixels) {
  LivePanel p;
  auto page = p.client->Get("/");
  ASSERT_EQ(page->status, 200);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(page->body.find("/panel.js"), std::string::npos);
  for (const char* asset : {"/panel.js", "/panel.css"}) EXPECT_EQ(p.client->Get(asset)->status, 200) << asset;

  const json s = p.State();
  ASSERT_EQ(s["effects"].size(), 1u);
  const json& rollouts = s["effects"][0]["rollouts"];
  ASSERT_EQ(rollouts.size(), 7u);
  const char* titles[] = {"Stars Creation", "Motion Blur", "Apply", "Hyperspace Effect", "Scintillation Effect",
                          "Sky", "About"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(rollouts[static_cast<size_t>(i)]["title"], titles[i]);
  // "MS Sans Serif" 8 has dialog base units 6 x 13: 211 x 239 units are
  // 316 x 388 pixels, the stars-count field at (52, 14) is at (78, 22).
  EXPECT_EQ(rollouts[0]["width"], 316);
  EXPECT_EQ(rollouts[0]["height"], 388);
  const json& count = Control(s, 0, IDC_STARSCOUNT_EDIT);
  EXPECT_EQ(count["x"], 78);
  EXPECT_EQ(count["y"], 22);
  EXPECT_EQ(count["w"], 57);
  EXPECT_EQ(count["kind"], "edit");
  EXPECT_EQ(count["param"], "starscount");
  EXPECT_EQ(Control(s, 0, IDC_SEED_EDIT)["text"], "7");
  EXPECT_EQ(rollouts[0]["open"], true);
  EXPECT_EQ(rollouts[1]["open"], false);
  EXPECT_EQ(rollouts[5]["open"], false);  // the Sky opens rolled up
  EXPECT_EQ(rollouts[6]["open"], true);

  // The About picture is the module's bitmap, 300 x 50 pixels.
  const json& about = Rollout(s, 5)["controls"][1];
  ASSERT_EQ(about["kind"], "picture");
  auto png = p.client->Get(("/api/bitmap?effect=0&id=" + std::to_string(about["bitmap"].get<int>())).c_str());
  ASSERT_EQ(png->status, 200) << png->body;
  ASSERT_GT(png->body.size(), 24u);
  EXPECT_EQ(png->body.substr(1, 3), "PNG");
  const auto be32 = [&](size_t at) {
    const auto* b = reinterpret_cast<const unsigned char*>(png->body.data() + at);
    return b[0] << 24 | b[1] << 16 | b[2] << 8 | b[3];
  };
  EXPECT_EQ(be32(16), 300);
  EXPECT_EQ(be32(20), 50);
  EXPECT_EQ(p.client->Get("/api/bitmap?effect=0&id=999")->status, 400);
}

TEST(PanelApi, EditsGoThroughTheParameterMaps) {
  LivePanel p;
  json s = p.Input(0, IDC_STARSCOUNT_EDIT, "text", "20000000");
  EXPECT_EQ(Control(s, 0, IDC_STARSCOUNT_EDIT)["text"], "10000000");  // clamped to the range
  EXPECT_EQ(s["dirty"], true);
  s = p.Input(0, IDC_STARSCOUNT_SPIN, "spin", -1);
  EXPECT_EQ(Control(s, 0, IDC_STARSCOUNT_EDIT)["text"], "9000000");  // autoscale: a tenth of the magnitude
  s = p.Input(0, IDC_BRIGHTSTARSCOLOR_SWATCH, "color", "#ff8000");
  const json& colour = Control(s, 0, IDC_BRIGHTSTARSCOLOR_SWATCH)["color"];
  EXPECT_EQ(colour[0], 1.0);
  EXPECT_NEAR(colour[1].get<double>(), 128.0 / 255.0, 1e-6);
  EXPECT_EQ(colour[2], 0.0);

  // The enable lists apply: switching the alpha flag off disables its field.
  s = p.Input(0, IDC_STARSALPHA_CHECK, "click");
  EXPECT_EQ(Control(s, 0, IDC_STARSALPHA_EDIT)["enabled"], false);
  auto refused = p.Post("/api/input", {{"effect", 0}, {"map", 0}, {"id", IDC_STARSALPHA_EDIT}, {"action", "text"},
                                       {"value", "3"}});
  EXPECT_EQ(refused->status, 400);
  EXPECT_NE(json::parse(refused->body)["error"].get<std::string>().find("disabled"), std::string::npos);

  // Scintillation off leaves Delta Y as the lock radio says (enabled with UnLock).
  p.Input(4, IDC_SCINTILLATION_CHECK, "click");
  s = p.Input(4, IDC_SCINTLOCK_UNLOCK, "click");
  s = p.Input(4, IDC_SCINTILLATION_CHECK, "click");
  EXPECT_EQ(Control(s, 4, IDC_SCINTDX_EDIT)["enabled"], false);
  EXPECT_EQ(Control(s, 4, IDC_SCINTDY_EDIT)["enabled"], true);

  // Requests the panel cannot act on are errors that say why.
  struct Bad {
    json body;
    const char* says;
  };
  const Bad bad[] = {
      {{{"effect", 0}, {"map", 0}, {"id", 4242}, {"action", "click"}}, "no control 4242"},
      {{{"effect", 3}, {"map", 0}, {"id", 1491}, {"action", "click"}}, "no effect 3"},
      {{{"effect", 0}, {"map", 9}, {"id", 1491}, {"action", "click"}}, "no rollout with map 9"},
      {{{"effect", 0}, {"map", 0}, {"id", 1491}, {"action", "paint"}}, "unknown action"},
      {{{"effect", 0}, {"map", 0}, {"id", 1491}, {"action", "text"}, {"value", "many"}}, "is not a number"},
      {{{"effect", 0}, {"map", 0}, {"id", 1005}, {"action", "color"}, {"value", "red"}}, "needs [r, g, b]"},
      {{{"map", 0}}, "malformed"},
  };
  for (const Bad& b : bad) {
    auto res = p.Post("/api/input", b.body);
    EXPECT_EQ(res->status, 400) << b.body;
    EXPECT_NE(res->body.find(b.says), std::string::npos) << res->body;
  }
}

TEST(PanelApi, PickButtonsOfferOnlyTheNodesTheirFilterAccepts) {
  LivePanel p;
  p.Input(1, IDC_USECAMERA_CHECK, "click");
  json s = p.Input(1, IDC_CAMERA_PICK, "click");
  const json& pick = s["effects"][0]["pick"];
  ASSERT_TRUE(pick.is_object());
  EXPECT_EQ(pick["prompt"], "Pick Camera");
  EXPECT_EQ(pick["candidates"], json::array({"Camera001"}));
  auto refused = p.Post("/api/pick", {{"effect", 0}, {"node", "Dummy001"}});
  EXPECT_EQ(refused->status, 400);
  EXPECT_EQ(p.Post("/api/pick", {{"effect", 0}, {"node", "Nobody"}})->status, 400);
  auto picked = p.Post("/api/pick", {{"effect", 0}, {"node", "Camera001"}});
  ASSERT_EQ(picked->status, 200) << picked->body;
  s = json::parse(picked->body);
  EXPECT_TRUE(s["effects"][0]["pick"].is_null());
  EXPECT_EQ(Control(s, 1, IDC_CAMERA_PICK)["text"], "Camera001");

  p.Input(0, IDC_USEOBJORIGIN_CHECK, "click");
  s = p.Input(0, IDC_OBJECTORIGIN_PICK, "click");
  EXPECT_EQ(s["effects"][0]["pick"]["prompt"], "Pick Object");
  EXPECT_EQ(s["effects"][0]["pick"]["candidates"].size(), 2u);
  s = json::parse(p.Post("/api/pick", {{"effect", 0}, {"node", ""}})->body);  // cancel
  EXPECT_TRUE(s["effects"][0]["pick"].is_null());
}

TEST(PanelApi, RollupsAndTheTimeSlider) {
  LivePanel p;
  json s = json::parse(p.Post("/api/rollup", {{"effect", 0}, {"map", 1}, {"open", true}})->body);
  EXPECT_EQ(Rollout(s, 1)["open"], true);
  s = json::parse(p.Post("/api/close-all", {{"effect", 0}})->body);
  for (int map : {0, 1, 2, 3, 4, 6}) EXPECT_EQ(Rollout(s, map)["open"], false) << map;
  EXPECT_EQ(Rollout(s, 5)["open"], true);

  // The duration is keyed 0.5 at frame 0 and 2.5 at frame 40: the slider
  // reaches past frame 40, the field shows the value of the frame, and an
  // edit there becomes a key.
  EXPECT_EQ(s["frameRange"], json::array({0, 100}));
  s = json::parse(p.Post("/api/frame", {{"frame", 20}})->body);
  EXPECT_EQ(s["frame"], 20);
  EXPECT_EQ(Control(s, 1, IDC_DURATION_EDIT)["text"], "1.500");
  s = p.Input(1, IDC_DURATION_EDIT, "text", "3");
  s = json::parse(p.Post("/api/frame", {{"frame", 10}})->body);
  EXPECT_EQ(Control(s, 1, IDC_DURATION_EDIT)["text"], "1.750");
  EXPECT_EQ(p.Post("/api/frame", {{"frame", 99999999}})->status, 400);
}

TEST(PanelApi, TheLockWriteShowsInDeltaYAfterThePreview) {
  LivePanel p;
  p.Input(4, IDC_SCINTILLATION_CHECK, "click");
  p.Input(4, IDC_SCINTDX_EDIT, "text", "4");
  json s = p.State();
  EXPECT_EQ(Control(s, 4, IDC_SCINTDY_EDIT)["text"], "0.000");
  p.Preview();
  s = p.State();
  EXPECT_EQ(Control(s, 4, IDC_SCINTDY_EDIT)["text"], "4.000");
}

// The hyperspace controls only show a warp together: the Hyperspace rollout
// says what they need (the same advice `velumbra params` prints), and no
// other rollout carries it.
// The page at the printed address holds its first state and its preview's
// address, so that it draws them as it loads (a headless screenshot is
// taken then); without the token it holds neither.
TEST(PanelApi, ThePageAtThePrintedAddressCarriesItsFirstState) {
  LivePanel p;
  p.Input(0, IDC_STARSCOUNT_EDIT, "text", "1234");  // a state that is not the file's
  const std::string token = p.server->Token();
  const std::string page = p.client->Get(("/?token=" + token).c_str())->body;
  const std::string open = "<script id=\"first-state\" type=\"application/json\">";
  const size_t at = page.find(open);
  ASSERT_NE(at, std::string::npos) << page;
  const size_t end = page.find("</script>", at);
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(json::parse(page.substr(at + open.size(), end - at - open.size())), p.State());
  EXPECT_LT(end, page.find("<script src=\"/panel.js\">"));  // there before the script reads it
  const std::string src = "<img id=\"preview\" src=\"/api/preview.png?first=1&amp;token=" + token + "\"";
  EXPECT_NE(page.find(src), std::string::npos) << page;

  for (const std::string& other : {std::string("/"), "/?token=" + std::string(token.size(), '0')}) {
    const std::string plain = p.client->Get(other.c_str())->body;
    EXPECT_EQ(plain.find("first-state"), std::string::npos) << other;
    EXPECT_EQ(plain.find("token="), std::string::npos) << other;
  }
}

TEST(PanelApi, TheHyperspaceRolloutSaysWhatAVisibleWarpNeeds) {
  LivePanel p;
  const json s = p.State();
  for (const json& r : s["effects"][0]["rollouts"]) {
    const std::string hint = r["hint"];
    if (r["title"] == "Hyperspace Effect") {
      for (const char* needed : {"hyperspaceflag", "hyperspacedepth", "0.5", "starsdimming", "0.005"})
        EXPECT_NE(hint.find(needed), std::string::npos) << needed << " in " << hint;
    } else {
      EXPECT_EQ(hint, "") << r["title"];
    }
  }
}

TEST(PanelApi, ThePreviewFollowsEditsAndTheSavedSceneRendersTheSame) {
  LivePanel p;
  const std::string before = p.Preview();
  p.Input(0, IDC_STARSCOUNT_EDIT, "text", "30000");
  p.Input(0, IDC_BRIGHTSTARSCOLOR_SWATCH, "color", {1.0, 0.5, 0.25});
  const std::string after = p.Preview();
  EXPECT_NE(before, after);

  auto saved = p.Post("/api/save", json::object());
  ASSERT_EQ(saved->status, 200) << saved->body;
  const json s = json::parse(saved->body);
  EXPECT_EQ(s["saved"], p.file.string());
  EXPECT_EQ(s["dirty"], false);

  // The file holds the given params first, in their order, then the changed ones.
  const velumbra::SceneDesc reread = velumbra::LoadSceneFile(p.file);
  const auto& params = reread.effects.at(0).params;
  std::vector<std::string> names;
  for (const auto& prm : params) names.push_back(prm.name);
  ASSERT_GE(names.size(), 4u);
  EXPECT_EQ(names[0], "seed");
  EXPECT_EQ(names[1], "duration");
  EXPECT_TRUE(params[1].keyed);
  EXPECT_NE(std::find(names.begin(), names.end(), "starscount"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "brightstarscolor"), names.end());

  // A fresh panel of the saved file renders the same image.
  PanelModel again(reread, Lookup(), p.file);
  EXPECT_EQ(again.RenderPreviewPng(), after);
}

// The Sky rollout: the catalogue's file is typed in the page (the server's
// file dialog cannot show there) and sent with the file button's click, the
// time is a text field; both reach the block, the preview and the saved
// scene as text.
TEST(PanelApi, TheSkyRolloutTakesTheCatalogueAndTheTimeAsText) {
  LivePanel p;
  const std::filesystem::path catalogue = p.dir.Path() / "orion#1.txt";
  std::ofstream(catalogue) << "  7.4071  5.9195  0.50 \" 58Alp Ori\"\n -8.2017  5.2423  0.12 \" 19Bet Ori\"\n";
  json s = p.State();
  const json& file = Control(s, map_sky, IDC_CATALOGFILE_BUTTON);
  EXPECT_EQ(file["kind"], "file");
  EXPECT_EQ(file["value"], "/usr/share/kstars/stars.dat");
  EXPECT_EQ(file["enabled"], false);  // until the catalogue is chosen as the source
  EXPECT_EQ(Control(s, map_sky, IDC_OBSERVERTIME_EDIT)["kind"], "edit");

  const std::string field = p.Preview();
  s = p.Input(map_sky, IDC_STARSOURCE_CATALOGUE, "click");
  EXPECT_EQ(Control(s, map_sky, IDC_CATALOGFILE_BUTTON)["enabled"], true);
  s = p.Input(map_sky, IDC_CATALOGFILE_BUTTON, "file", catalogue.string());
  EXPECT_EQ(Control(s, map_sky, IDC_CATALOGFILE_BUTTON)["value"], catalogue.string());
  s = p.Input(map_sky, IDC_OBSERVERTIME_EDIT, "text", "2021-01-15T22:00:00Z");
  EXPECT_EQ(Control(s, map_sky, IDC_OBSERVERTIME_EDIT)["text"], "2021-01-15T22:00:00Z");
  EXPECT_NE(p.Preview(), field);  // the catalogue's stars, not the seeded field

  // A plain click has no file to give: nothing changes.
  s = p.Input(map_sky, IDC_CATALOGFILE_BUTTON, "click");
  EXPECT_EQ(Control(s, map_sky, IDC_CATALOGFILE_BUTTON)["value"], catalogue.string());
  // Only a file button takes a file.
  auto refused =
      p.Post("/api/input", {{"effect", 0}, {"map", map_sky}, {"id", IDC_OBSERVERTIME_EDIT}, {"action", "file"},
                            {"value", "x.txt"}});
  EXPECT_EQ(refused->status, 400);
  EXPECT_NE(json::parse(refused->body)["error"].get<std::string>().find("not a file button"), std::string::npos);

  auto saved = p.Post("/api/save", json::object());
  ASSERT_EQ(saved->status, 200) << saved->body;
  const velumbra::SceneDesc reread = velumbra::LoadSceneFile(p.file);
  std::map<std::string, json> params;
  for (const auto& prm : reread.effects.at(0).params) params[prm.name] = prm.value;
  EXPECT_EQ(params["catalogfile"], catalogue.string());
  EXPECT_EQ(params["observertime"], "2021-01-15T22:00:00Z");
  EXPECT_EQ(params["starsource"], 1);

  // A time the effect cannot read fails the preview with its name.
  p.Input(map_sky, IDC_OBSERVERTIME_EDIT, "text", "midnight");
  auto preview = p.client->Get("/api/preview.png");
  EXPECT_NE(preview->status, 200);
  EXPECT_NE(preview->body.find("observertime"), std::string::npos) << preview->body;
}

TEST(PanelApi, RefusesOtherHostsAndPostsThatAreNotJson) {
  LivePanel p;
  httplib::Headers foreign = {{"Host", "attacker.example:" + std::to_string(p.port)}};
  EXPECT_EQ(p.client->Get("/api/state", foreign)->status, 403);
  httplib::Headers local = {{"Host", "localhost:" + std::to_string(p.port)}};
  EXPECT_EQ(p.client->Get("/api/state", local)->status, 200);
  auto form = p.client->Post("/api/close-all", "effect=0", "application/x-www-form-urlencoded");
  EXPECT_EQ(form->status, 415);
  EXPECT_EQ(p.client->Post("/api/close-all", "{", "application/json")->status, 400);
}

TEST(PanelModel, SavingTheBuiltInSceneNeedsAFileName) {
  ScopedInstance module;
  InitCustomControls(hInstance);
  TempDir dir;
  PanelModel model(velumbra::DefaultScene(), Lookup(), {});
  EXPECT_THROW(model.Save(), velumbra::InputError);
  // Save as makes no folder on a request's word.
  EXPECT_THROW(model.SaveAs(dir.Path() / "sub" / "mine.json", false), velumbra::InputError);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "sub"));
  const auto target = dir.Path() / "mine.json";
  EXPECT_EQ(model.SaveAs(target, false), target);
  // The built-in scene had no file: the first one saved becomes its file.
  EXPECT_EQ(model.SceneFile(), target);
  EXPECT_EQ(model.Save(), target);
  // Nothing changed: the effect is written with no params.
  EXPECT_TRUE(velumbra::LoadSceneFile(target).effects.at(0).params.empty());
}

}  // namespace

namespace {

TEST(PanelApi, ThePreviewBackgroundIsBlackCheckerboardOrThePlate) {
  LivePanel plain;
  json state = plain.State();
  EXPECT_EQ(state["background"], "black");  // faint stars show on black
  EXPECT_EQ(state["hasPlate"], false);
  auto res = plain.Post("/api/background", {{"background", "checkerboard"}});
  ASSERT_EQ(res->status, 200) << res->body;
  EXPECT_EQ(json::parse(res->body)["background"], "checkerboard");
  res = plain.Post("/api/background", {{"background", "plate"}});
  EXPECT_EQ(res->status, 400);
  EXPECT_NE(res->body.find("needs a scene with an input image"), std::string::npos) << res->body;
  EXPECT_EQ(plain.Post("/api/background", {{"background", "grey"}})->status, 400);
  EXPECT_EQ(plain.client->Get("/api/plate.png")->status, 400);
  EXPECT_EQ(plain.State()["background"], "checkerboard");  // a refused choice changes nothing

  // With a plate: the choice is offered and the plate is served as it was read.
  TempDir dir;
  const std::vector<BMM_Color_64> pixels(96 * 64, BMM_Color_64{65280, 32768, 0, 65280});
  velumbra::WritePngRgba(dir.Path() / "plate.png", 96, 64, pixels.data(), 8);
  std::string scene = kScene;
  scene.replace(scene.find("\"camera\": \"Camera001\"}"), 22,
                "\"camera\": \"Camera001\", \"image\": \"" + (dir.Path() / "plate.png").string() + "\"}");
  LivePanel withPlate(scene);
  EXPECT_EQ(withPlate.State()["hasPlate"], true);
  res = withPlate.Post("/api/background", {{"background", "plate"}});
  ASSERT_EQ(res->status, 200) << res->body;
  auto plate = withPlate.client->Get("/api/plate.png");
  ASSERT_EQ(plate->status, 200);
  EXPECT_EQ(plate->body, velumbra::EncodePngRgba(96, 64, pixels.data(), {8, velumbra::PngCompression::Fast}));
  // The page offers the three choices.
  EXPECT_NE(withPlate.client->Get("/")->body.find("<option value=\"plate\">"), std::string::npos);
}

// An OpenEXR plate holds scene-linear light. The preview and the plate show
// through the default display as `velumbra render` writes them to PNG; the
// star colours the controls hold are display values, converted into the
// frame for the render only: the controls and the saved scene keep them.
TEST(PanelApi, AnOpenExrPlateShowsThroughTheDisplayAndTheControlsKeepDisplayColours) {
  TempDir dir;
  const int w = 96, h = 64;
  const std::vector<velumbra::FloatRgba> grey(static_cast<std::size_t>(w * h), {0.18f, 0.18f, 0.18f, 1.0f});
  velumbra::WriteExr(dir.Path() / "plate.exr", w, h, grey.data(), nullptr, nullptr);
  std::string scene = kScene;
  scene.replace(scene.find("\"camera\": \"Camera001\"}"), 22,
                "\"camera\": \"Camera001\", \"image\": \"" + (dir.Path() / "plate.exr").string() + "\"}");
  // Simple Additive: stars show over the opaque plate.
  scene.replace(scene.find("\"seed\": 7,"), 10, "\"seed\": 7, \"drawmode\": 2,");
  LivePanel p(scene);
  p.Input(0, IDC_BRIGHTSTARSCOLOR_SWATCH, "color", {1.0, 0.5, 0.25});
  const std::string preview = p.Preview();
  const auto shown = [&](const std::string& png) {
    std::ofstream(dir.Path() / "shown.png", std::ios::binary) << png;
    return velumbra::ReadPngRgba(dir.Path() / "shown.png");
  };

  // The plate, and most of the preview (where no star lies), are linear
  // 0.18 on an sRGB display: 0.4613 of full value (8-bit).
  const double srgb = 1.055 * std::pow(0.18, 1.0 / 2.4) - 0.055;
  auto plate = p.client->Get("/api/plate.png");
  ASSERT_EQ(plate->status, 200);
  for (const BMM_Color_64& px : shown(plate->body).pixels) ASSERT_NEAR(px.r / 65280.0, srgb, 1.0 / 255);
  const velumbra::RgbaImage image = shown(preview);
  const auto plain = std::count_if(image.pixels.begin(), image.pixels.end(), [&](const BMM_Color_64& px) {
    return px.r == px.g && px.g == px.b && std::fabs(px.r / 65280.0 - srgb) <= 1.0 / 255;
  });
  EXPECT_GT(plain, w * h / 2);

  // The controls and the saved scene keep the display values.
  EXPECT_EQ(Control(p.State(), 0, IDC_BRIGHTSTARSCOLOR_SWATCH)["color"], json::array({1.0, 0.5, 0.25}));
  ASSERT_EQ(p.Post("/api/save", json::object())->status, 200);
  const velumbra::SceneDesc saved = velumbra::LoadSceneFile(p.file);

  // The preview is the render the command makes of the saved scene: its
  // colours converted once before the render, the frame through the display.
  const velumbra::ColourPlan plan({}, velumbra::PlateKind::Exr, true);
  velumbra::InputOptions inputs;
  inputs.sceneColours = plan.SceneColours();
  const auto displayed = [&](velumbra::RenderSession& session) {
    RecordingAbort abort;
    const std::unique_ptr<Bitmap> frame = session.RenderFrame(saved.render.frame, &abort);
    if (!frame) return std::string();
    const std::span<BMM_Color_64> pixels(frame->Storage()->Pixels(), static_cast<std::size_t>(w * h));
    const velumbra::ExrFrameInput in = session.ExrInput();
    const std::vector<velumbra::FloatRgba> floats =
        velumbra::FrameColourIn(plan.Output(), pixels, in.outputFloats, in.lightAboveFull);
    std::transform(floats.begin(), floats.end(), pixels.begin(), velumbra::FloatRgbaTo16);
    return velumbra::EncodePngRgba(w, h, pixels.data(), {8, velumbra::PngCompression::Fast});
  };
  velumbra::RenderSession converted(saved, Lookup(), {}, inputs);
  EXPECT_EQ(preview, displayed(converted));
  // And not the render of the display values taken as the frame's own.
  velumbra::RenderSession taken(saved, Lookup());
  EXPECT_NE(preview, displayed(taken));
}

}  // namespace
