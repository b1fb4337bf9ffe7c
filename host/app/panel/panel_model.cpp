#include "host/app/panel/panel_model.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "host/app/base/app_error.h"
#include "host/app/colour/scene_colours.h"
#include "host/app/image/dib.h"
#include "host/app/image/exr_io.h"
#include "host/app/image/png_io.h"
#include "host/app/base/paths.h"
#include "host/app/base/quoting.h"
#include "host/app/output/output_name.h"
#include "host/app/params/param_notes.h"
#include "host/app/scene/json_pretty.h"
#include "host/platform/resource_constants.h"

namespace velumbra {

using json = nlohmann::json;

namespace {

// The panel's IRendParams: a browser cannot show the server's file dialog,
// so a file button's file is typed in the page and sent with its click
// ("file" input): the dialog answers with it.
class PanelRendParams final : public IRendParams {
 public:
  using IRendParams::IRendParams;
  bool BrowseForFile(const std::string&, std::string& chosen) override {
    if (!typed) return false;
    chosen = std::move(*typed);
    typed.reset();
    return true;
  }
  std::optional<std::string> typed;  // the name sent with the click being handled
};

}  // namespace

struct PanelModel::EffectPanel {
  EffectPanel(Effect* e, Interface* scene, ClassDesc* cd) : effect(e), classDesc(cd), ip(scene) {}
  ~EffectPanel() {
    if (dlg) dlg->DeleteThis();
  }
  Effect* effect;
  ClassDesc* classDesc;
  PanelRendParams ip;
  EffectParamDlg* dlg = nullptr;
};

namespace {

// Whether `file` is a file the scene reads through `input`: the one file of
// a name without a frame-number field, else any frame's file of the
// pattern. A frame's number is looked for among the digit runs of the
// name as given and as its links resolve, and the pattern's name for that
// frame compared as files are.
bool ReadsFile(const std::filesystem::path& input, const std::filesystem::path& file) {
  if (!HasFrameNumberField(input.string())) return SameFile(file, FileOfName(input.string()));
  std::vector<std::string> names{file.filename().string()};
  std::error_code ec;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(file, ec);
  if (!ec) names.push_back(resolved.filename().string());
  for (const std::string& name : names)
    for (size_t i = 0; i < name.size();) {
      if (!std::isdigit(static_cast<unsigned char>(name[i]))) {
        ++i;
        continue;
      }
      size_t end = i;
      while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end]))) ++end;
      for (size_t start : {i, i > 0 && name[i - 1] == '-' ? i - 1 : i}) {
        int frame = 0;
        const auto [stop, error] = std::from_chars(name.data() + start, name.data() + end, frame);
        if (error == std::errc() && stop == name.data() + end && SameFile(file, OutputNameForFrame(input.string(), frame)))
          return true;
      }
      i = end;
    }
  return false;
}

// Previews are sent once and shown at once: 8 bits, speed over size.
constexpr PngWriteOptions kPreviewPng{8, PngCompression::Fast};

json ColorJson(const Color& c) { return json::array({FloatJson(c.r), FloatJson(c.g), FloatJson(c.b)}); }

// The preview never stops early.
class NoAbort : public CheckAbortCallback {
 public:
  BOOL Check() override { return FALSE; }
  BOOL Progress(int, int) override { return FALSE; }
  void SetTitle(const MCHAR*) override {}
};

const char* ControlKind(HWND h, const ParamDef* def) {
  const std::string& cls = h->className;
  if (cls == "BUTTON") {
    if ((h->style & BS_TYPEMASK) == BS_GROUPBOX) return "group";
    if (IsCheckBox(h)) return "check";
    if (IsRadioButton(h)) return "radio";
    return "button";
  }
  if (cls == "STATIC") return (h->style & SS_TYPEMASK) == SS_BITMAP ? "picture" : "label";
  if (cls == "CustEdit") return "edit";
  if (cls == "SpinnerControl") return "spinner";
  if (cls == "SliderControl") return "slider";
  if (cls == "ColorSwatch") return "swatch";
  if (cls == "CustButton") {
    if (def && def->type == TYPE_INODE) return "pick";
    if (def && def->type == TYPE_FILENAME) return "file";
    return "button";
  }
  return "other";
}

json ControlJson(IParamMap2& map, HWND dialog, HWND h) {
  RECT r = h->dialogRect;
  MapDialogRect(dialog, &r);
  const ParamDef* def = h->id != -1 ? map.ParamOfControl(h->id) : nullptr;
  const std::string kind = ControlKind(h, def);
  json c = {{"id", h->id},
            {"class", h->className},
            {"kind", kind},
            {"text", h->text},
            {"x", r.left},
            {"y", r.top},
            {"w", r.right - r.left},
            {"h", r.bottom - r.top},
            {"enabled", h->enabled},
            {"param", def ? json(def->internalName) : json(nullptr)}};
  if (kind == "check" || kind == "radio") {
    c["checked"] = h->checked == BST_CHECKED;
    c["leftText"] = (h->style & BS_LEFTTEXT) != 0;
  } else if (kind == "label") {
    const DWORD align = h->style & SS_TYPEMASK;
    c["align"] = align == SS_RIGHT ? "right" : align == SS_CENTER ? "center" : "left";
  } else if (kind == "picture") {
    c["bitmap"] = h->textResourceId;
  } else if (kind == "spinner") {
    const ISpinnerControl* s = GetISpinner(h);
    c["value"] = s->GetFVal();
    c["step"] = s->GetStep();
    c["low"] = s->GetLow();
    c["high"] = s->GetHigh();
    c["integer"] = s->GetEditKind() == NumericKind::Int;
  } else if (kind == "slider") {
    const ISliderControl* s = GetISlider(h);
    c["value"] = s->GetFVal();
    c["low"] = s->GetLow();
    c["high"] = s->GetHigh();
    c["ticks"] = s->GetNumSegs();
    c["reset"] = s->GetResetValue();
    c["integer"] = s->GetEditKind() == NumericKind::Int;
  } else if (kind == "swatch") {
    c["color"] = ColorJson(GetIColorSwatch(h)->GetColor());
  } else if (kind == "pick" || kind == "button") {
    c["checked"] = GetICustButton(h)->IsChecked() != FALSE;
  } else if (kind == "file") {
    // The file's name as the parameter holds it (the button's text is its
    // caption while there is none).
    const MCHAR* name = map.GetParamBlock() ? map.GetParamBlock()->GetStr(def->id, map.GetTime()) : nullptr;
    c["value"] = name ? name : "";
  }
  return c;
}

// "#rrggbb" or [r, g, b] in 0..1.
bool ParseColor(const json& v, Color& out) {
  if (v.is_string()) {
    const std::string& s = v.get_ref<const std::string&>();
    if (s.size() != 7 || s[0] != '#') return false;
    unsigned rgb = 0;
    const auto r = std::from_chars(s.data() + 1, s.data() + 7, rgb, 16);
    if (r.ec != std::errc() || r.ptr != s.data() + 7) return false;
    out = Color(static_cast<float>((rgb >> 16) & 0xFF) / 255.0f, static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
                static_cast<float>(rgb & 0xFF) / 255.0f);
    return true;
  }
  if (!v.is_array() || v.size() != 3) return false;
  for (int k = 0; k < 3; ++k) {
    if (!v[static_cast<size_t>(k)].is_number()) return false;
    const double x = v[static_cast<size_t>(k)].get<double>();
    if (!(x >= 0.0 && x <= 1.0)) return false;
    out[k] = static_cast<float>(x);
  }
  return true;
}

// The value of `def` in `block` as a scene's params write it; null for a
// node parameter without a node.
json ValueJson(IParamBlock2& block, const ParamDef& def, TimeValue t) {
  Interval valid = FOREVER;
  switch (def.type) {
    case TYPE_FLOAT: {
      float v = 0;
      block.GetValue(def.id, t, v, valid);
      return FloatJson(v);
    }
    case TYPE_RGBA: {
      Color v;
      block.GetValue(def.id, t, v, valid);
      return ColorJson(v);
    }
    case TYPE_INODE: {
      INode* v = nullptr;
      block.GetValue(def.id, t, v, valid);
      return v ? json(v->GetName()) : json(nullptr);
    }
    case TYPE_STRING:
    case TYPE_FILENAME: {
      const MCHAR* v = block.GetStr(def.id, t);
      return json(v ? v : "");
    }
    default: {
      int v = 0;
      block.GetValue(def.id, t, v, valid);
      return v;
    }
  }
}

// The parameter as the block holds it, or nullopt when it is a node
// parameter without a node.
std::optional<ParamDesc> ParamOf(IParamBlock2& block, const ParamDef& def, int ticksPerFrame) {
  ParamDesc p;
  p.name = def.internalName;
  const int keys = block.NumKeys(def.id);
  if (keys == 0) {
    p.value = ValueJson(block, def, 0);
    if (p.value.is_null()) return std::nullopt;
    return p;
  }
  p.keyed = true;
  for (int k = 0; k < keys; ++k) {
    const TimeValue t = block.GetKeyTime(def.id, k);
    // Keys made by the panel and by scene files lie on whole frames.
    const int frame = static_cast<int>(std::lround(static_cast<double>(t) / ticksPerFrame));
    p.keys.emplace_back(frame, ValueJson(block, def, t));
  }
  return p;
}

bool IsDefault(IParamBlock2& block, const ParamDef& def) {
  if (block.NumKeys(def.id) > 0) return false;
  Interval valid = FOREVER;
  switch (def.type) {
    case TYPE_FLOAT: {
      float v = 0;
      block.GetValue(def.id, 0, v, valid);
      return v == def.def.f;
    }
    case TYPE_RGBA: {
      Color v;
      block.GetValue(def.id, 0, v, valid);
      return v == def.def.c;
    }
    case TYPE_INODE: {
      INode* v = nullptr;
      block.GetValue(def.id, 0, v, valid);
      return v == nullptr;
    }
    case TYPE_STRING:
    case TYPE_FILENAME: {
      const MCHAR* v = block.GetStr(def.id, 0);
      return (v ? std::string_view(v) : std::string_view()) == def.def.s;
    }
    default: {
      int v = 0;
      block.GetValue(def.id, 0, v, valid);
      return v == def.def.i;
    }
  }
}

}  // namespace

int RequestInt(const json& request, const char* name, int lo, int hi) {
  const auto range = std::to_string(lo) + ".." + std::to_string(hi);
  if (!request.is_object() || !request.contains(name))
    throw InputError(std::string("the request lacks \"") + name + "\"");
  const json& v = request[name];
  // Only integers in JSON's own integer form: get<int>() would wrap
  // 4294967296 to 0 and truncate 1e300.
  if (v.is_number_unsigned()) {
    const auto u = v.get<std::uint64_t>();
    if (hi >= 0 && u <= static_cast<std::uint64_t>(hi) && static_cast<std::int64_t>(u) >= lo) return static_cast<int>(u);
  } else if (v.is_number_integer()) {
    const auto i = v.get<std::int64_t>();
    if (i >= lo && i <= hi) return static_cast<int>(i);
  } else {
    throw InputError(std::string("the request's \"") + name + "\" is not a whole number (expected " + range + ")");
  }
  throw InputError(std::string("the request's \"") + name + "\" is out of range (expected " + range + ")");
}


// --- the model ------------------------------------------------------------------------------

PanelModel::PanelModel(const SceneDesc& scene, const ClassLookup& lookup, std::filesystem::path sceneFile)
    : scene_(scene), sceneFile_(std::move(sceneFile)) {
  session_ = std::make_unique<RenderSession>(scene_, lookup);
  if (const std::optional<std::filesystem::path>& image = scene_.render.image)
    colour_ = ColourPlan(ColourRequest{}, IsExrFile(*image) ? PlateKind::Exr : PlateKind::Png, true,
                         image->filename().string());
  frame_ = scene_.render.frame;
  const TimeValue t = session_->FrameTime(frame_);
  const auto& effects = session_->Effects();
  for (std::size_t i = 0; i < effects.size(); ++i) {
    const EffectDesc& fx = scene_.effects[i];
    auto panel = std::make_unique<EffectPanel>(effects[i], &session_->Host(), lookup(fx.className));
    panel->ip.SetTime(t);
    panel->dlg = effects[i]->CreateParamDialog(&panel->ip);
    if (!panel->dlg && !panel->ip.LastError().empty())
      throw InputError(scene_.source + ": /effects/" + std::to_string(i) + ": the rollouts of " +
                       Quoted(fx.className) + " cannot be built: " + panel->ip.LastError());
    panels_.push_back(std::move(panel));
  }
}

// The dialogs close (panels_) before the session deletes the effects.
PanelModel::~PanelModel() { panels_.clear(); }

PanelModel::EffectPanel& PanelModel::PanelOf(int effect) const {
  if (effect < 0 || effect >= NumEffects())
    throw InputError("no effect " + std::to_string(effect) + " (the scene has " + std::to_string(NumEffects()) + ")");
  return *panels_[static_cast<std::size_t>(effect)];
}

IRendParams& PanelModel::RendParams(int effect) const { return PanelOf(effect).ip; }

IParamMap2* PanelModel::Map(int effect, MapID map) const {
  EffectPanel& p = PanelOf(effect);
  auto* dlg = dynamic_cast<IAutoEParamDlg*>(p.dlg);
  if (!dlg) return nullptr;
  for (int i = 0; i < dlg->NumMaps(); ++i)
    if (dlg->GetMap(i)->GetMapID() == map) return dlg->GetMap(i);
  return nullptr;
}

TimeValue PanelModel::Time() const { return session_->FrameTime(frame_); }

std::pair<int, int> PanelModel::FrameRange() const {
  int first = 0, last = 100;
  const auto widen = [&](int f) {
    first = std::min(first, f);
    last = std::max(last, f);
  };
  widen(frame_);
  for (const NodeDesc& n : scene_.nodes)
    for (const TransformKeyDesc& k : n.keys) widen(k.frame);
  const int tpf = session_->TicksPerFrame();
  for (const auto& p : panels_) {
    IParamBlock2* block = p->effect->NumParamBlocks() > 0 ? p->effect->GetParamBlock(0) : nullptr;
    if (!block) continue;
    for (int k = 0; k < block->NumParams(); ++k) {
      const ParamID id = block->IndexToID(k);
      for (int j = 0; j < block->NumKeys(id); ++j) widen(block->GetKeyTime(id, j) / tpf);
    }
  }
  return {first, last};
}

json PanelModel::State() const {
  const auto [first, last] = FrameRange();
  json effects = json::array();
  for (int e = 0; e < NumEffects(); ++e) {
    const EffectPanel& p = *panels_[static_cast<std::size_t>(e)];
    json rollouts = json::array();
    for (int i = 0; i < p.ip.NumRollups(); ++i) {
      const RollupPage* page = p.ip.GetRollup(i);
      IParamMap2* map = nullptr;
      for (MapID id = 0; !map && id < 256; ++id) {
        IParamMap2* m = Map(e, id);
        if (m && m->GetHWnd() == page->hwnd) map = m;
      }
      if (!map) continue;
      HWND dialog = map->GetHWnd();
      RECT size = dialog->dialogRect;
      MapDialogRect(dialog, &size);
      json controls = json::array();
      for (const auto& child : dialog->children) controls.push_back(ControlJson(*map, dialog, child.get()));
      // Advice on parameters that only work together, beside the rollout
      // that holds the first of them (param_notes.h).
      std::string hint;
      for (const ParamAdvice& a : ParamAdvices())
        for (const json& c : controls)
          if (c.contains("param") && c["param"] == a.param && hint.empty()) hint = a.text;
      rollouts.push_back({{"map", map->GetMapID()},
                          {"hint", hint},
                          {"title", page->title},
                          {"template", map->TemplateID()},
                          {"open", page->open},
                          {"autoClose", (page->rollupFlags & DONTAUTOCLOSE) == 0},
                          {"width", size.right - size.left},
                          {"height", size.bottom - size.top},
                          {"controls", std::move(controls)}});
    }
    json pick = nullptr;
    IRendParams& ip = const_cast<PanelRendParams&>(p.ip);
    if (PickModeCallback* mode = ip.GetPickMode()) {
      json candidates = json::array();
      for (INode* n : ip.PickCandidates()) candidates.push_back(n->GetName());
      pick = {{"prompt", mode->Prompt()}, {"candidates", std::move(candidates)}};
    }
    effects.push_back({{"index", e},
                       {"name", p.effect->name},
                       {"className", scene_.effects[static_cast<std::size_t>(e)].className},
                       {"pick", std::move(pick)},
                       {"rollouts", std::move(rollouts)}});
  }
  return {{"scene", scene_.source},
          {"file", sceneFile_.string()},
          {"dirty", dirty_},
          {"frame", frame_},
          {"frameRange", {first, last}},
          {"width", session_->Width()},
          {"height", session_->Height()},
          {"background", PreviewBackgroundName(background_)},
          {"hasPlate", HasPlate()},
          {"effects", std::move(effects)}};
}

const char* PreviewBackgroundName(PreviewBackground background) {
  switch (background) {
    case PreviewBackground::Checkerboard: return "checkerboard";
    case PreviewBackground::Black: return "black";
    case PreviewBackground::Plate: return "plate";
  }
  return "black";
}

void PanelModel::SetBackground(const std::string& name) {
  for (PreviewBackground b : {PreviewBackground::Checkerboard, PreviewBackground::Black, PreviewBackground::Plate}) {
    if (name != PreviewBackgroundName(b)) continue;
    if (b == PreviewBackground::Plate && !HasPlate())
      throw InputError("the preview background \"plate\" needs a scene with an input image (render.image)");
    background_ = b;
    return;
  }
  throw InputError("unknown preview background " + Quoted(name) + ": checkerboard, black or plate");
}

std::string PanelModel::PlatePng() const {
  const RgbaImage* image = session_->InputImage();
  if (!image) throw InputError("the scene has no input image (render.image) to show as the plate");
  if (colour_.Output().IsIdentity())
    return EncodePngRgba(image->width, image->height, image->pixels.data(), kPreviewPng);
  std::vector<BMM_Color_64> shown(image->pixels.size());
  const std::vector<FloatRgba> floats = FrameColourIn(colour_.Output(), image->pixels, {}, {});
  std::transform(floats.begin(), floats.end(), shown.begin(), FloatRgbaTo16);
  return EncodePngRgba(image->width, image->height, shown.data(), kPreviewPng);
}

void PanelModel::Input(const json& request) {
  try {
    const auto field = [&](const char* name, int lo, int hi) {
      try {
        return RequestInt(request, name, lo, hi);
      } catch (const InputError& e) {
        throw InputError(std::string("malformed input request: ") + e.what());
      }
    };
    const int effect = field("effect", 0, std::numeric_limits<int>::max());
    const MapID mapID = static_cast<MapID>(field("map", 0, std::numeric_limits<MapID>::max()));
    const int id = field("id", -1, std::numeric_limits<int>::max());
    const std::string action = request.at("action").get<std::string>();
    IParamMap2* map = Map(effect, mapID);
    if (!map) throw InputError("effect " + std::to_string(effect) + " has no rollout with map " + std::to_string(mapID));
    HWND control = id == -1 ? nullptr : GetDlgItem(map->GetHWnd(), id);
    const std::string where = "control " + std::to_string(id) + " of rollout " + Quoted(map->Title());
    if (!control) throw InputError("there is no " + where);
    const json none;
    const json& value = request.contains("value") ? request["value"] : none;
    bool ok = false;
    if (action == "text") {
      if (!value.is_string()) throw InputError(where + ": \"text\" needs the typed text as a string");
      ok = UserEnterText(control, value.get<std::string>());
      if (!ok && control->enabled && GetICustEdit(control))
        throw InputError(where + ": " + Quoted(value.get<std::string>()) + " is not a number");
    } else if (action == "spin") {
      ok = UserSpin(control, RequestInt(json{{"value", value}}, "value", -1000000, 1000000));
    } else if (action == "slide") {
      if (!value.is_number() || !(std::fabs(value.get<double>()) <= std::numeric_limits<float>::max()))
        throw InputError(where + ": \"slide\" needs a finite number");
      ok = UserSetSlider(control, value.get<float>());
    } else if (action == "reset") {
      ok = UserReset(control);
    } else if (action == "color") {
      Color c;
      if (!ParseColor(value, c)) throw InputError(where + ": \"color\" needs [r, g, b] in 0..1 or \"#rrggbb\"");
      ok = UserSetColor(control, c);
    } else if (action == "click") {
      ok = UserClick(control);
    } else if (action == "file") {
      // A file button's click with the file typed in the page.
      if (!value.is_string()) throw InputError(where + ": \"file\" needs the file's name as a string");
      const ParamDef* def = map->ParamOfControl(id);
      if (!def || def->type != TYPE_FILENAME) throw InputError(where + " is not a file button");
      PanelRendParams& ip = PanelOf(effect).ip;
      ip.typed = value.get<std::string>();
      ok = UserClick(control);
      ip.typed.reset();
    } else {
      throw InputError("unknown action " + Quoted(action) + " (text, spin, slide, reset, color, click, file)");
    }
    if (!ok) {
      if (!control->enabled) throw InputError(where + " is disabled");
      throw InputError(where + " (" + control->className + ") takes no " + Quoted(action) + " input");
    }
    dirty_ = true;
  } catch (const json::exception& e) {
    throw InputError(std::string("malformed input request: ") + e.what());
  }
}

void PanelModel::Pick(int effect, const std::string& node) {
  IRendParams& ip = RendParams(effect);
  PickModeCallback* mode = ip.GetPickMode();
  if (node.empty()) {
    ip.EndPickMode();
    return;
  }
  if (!mode) throw InputError("no pick button of effect " + std::to_string(effect) + " is waiting for a node");
  INode* n = session_->Host().GetINodeByName(node.c_str());
  if (!n || n->IsRootNode()) throw InputError("the scene has no node named " + Quoted(node));
  if (!ip.PickNode(n)) throw InputError(Quoted(node) + " cannot be picked here (" + mode->Prompt() + ")");
  dirty_ = true;
}

void PanelModel::SetRollupOpen(int effect, MapID map, bool open) {
  IParamMap2* m = Map(effect, map);
  if (!m) throw InputError("effect " + std::to_string(effect) + " has no rollout with map " + std::to_string(map));
  RendParams(effect).SetRollupPanelOpen(m->GetHWnd(), open);
}

void PanelModel::CloseAll(int effect) { RendParams(effect).CloseAll(); }

void PanelModel::SetFrame(int frame) {
  const TimeValue t = session_->FrameTime(frame);
  frame_ = frame;
  for (auto& p : panels_) {
    p->ip.SetTime(t);
    if (p->dlg) p->dlg->SetTime(t);
  }
}

std::string PanelModel::RenderPreviewPng() {
  NoAbort keepGoing;
  std::unique_ptr<Bitmap> bitmap;
  {
    // The controls' colours in the frame's space while it renders.
    std::vector<std::unique_ptr<ConvertedColourParams>> converted;
    if (!colour_.SceneColours().IsIdentity())
      for (Effect* e : session_->Effects())
        if (IParamBlock2* block = e->NumParamBlocks() > 0 ? e->GetParamBlock(0) : nullptr)
          converted.push_back(std::make_unique<ConvertedColourParams>(*block, colour_.SceneColours()));
    bitmap = session_->RenderFrame(frame_, &keepGoing);
  }
  if (!bitmap) throw SystemError("the preview render stopped");
  BitmapStorage& storage = *bitmap->Storage();
  if (!colour_.Output().IsIdentity()) {
    const std::span<BMM_Color_64> pixels(storage.Pixels(), static_cast<std::size_t>(storage.Width()) * storage.Height());
    const ExrFrameInput in = session_->ExrInput();
    const std::vector<FloatRgba> floats = FrameColourIn(colour_.Output(), pixels, in.outputFloats, in.lightAboveFull);
    std::transform(floats.begin(), floats.end(), pixels.begin(), FloatRgbaTo16);
  }
  return EncodePngRgba(storage.Width(), storage.Height(), storage.Pixels(), kPreviewPng);
}

std::string PanelModel::BitmapPng(int effect, int id) const {
  const EffectPanel& p = PanelOf(effect);
  const BitmapResource* res =
      p.classDesc ? FindBitmapResource(ModuleResourcesOf(p.classDesc->HInstance()), id) : nullptr;
  if (!res) throw InputError("the module of effect " + std::to_string(effect) + " has no bitmap " + std::to_string(id));
  int w = 0, h = 0;
  std::vector<BMM_Color_64> px;
  if (!DecodeDib(res->dib, res->size, w, h, px))
    throw InputError("bitmap " + std::to_string(id) + " of effect " + std::to_string(effect) +
                     " is not an uncompressed 8-, 24- or 32-bit bitmap");
  return EncodePngRgba(w, h, px.data(), kPreviewPng);
}

SceneDesc PanelModel::CurrentScene() const {
  SceneDesc out = scene_;
  const int tpf = session_->TicksPerFrame();
  for (std::size_t e = 0; e < panels_.size(); ++e) {
    Effect* effect = panels_[e]->effect;
    IParamBlock2* block = effect->NumParamBlocks() > 0 ? effect->GetParamBlock(0) : nullptr;
    if (!block) continue;
    EffectDesc& fx = out.effects[e];
    std::vector<ParamDesc> params;
    std::vector<bool> written(static_cast<std::size_t>(block->NumParams()), false);
    const auto add = [&](int index) {
      written[static_cast<std::size_t>(index)] = true;
      const ParamDef& def = *block->GetDesc()->GetParamDefByIndex(index);
      if (auto p = ParamOf(*block, def, tpf)) params.push_back(std::move(*p));
    };
    for (const ParamDesc& given : fx.params) {
      const int index = block->FindParamByName(given.name);
      if (index >= 0 && !written[static_cast<std::size_t>(index)]) add(index);
    }
    for (int k = 0; k < block->NumParams(); ++k)
      if (!written[static_cast<std::size_t>(k)] && !IsDefault(*block, *block->GetDesc()->GetParamDefByIndex(k)))
        add(k);
    fx.params = std::move(params);
  }
  return out;
}

std::filesystem::path PanelModel::Save() {
  if (sceneFile_.empty())
    throw InputError("the panel was started without a scene file: save the scene as a file first");
  SaveSceneFile(CurrentScene(), sceneFile_);
  dirty_ = false;
  return sceneFile_;
}

std::filesystem::path PanelModel::SaveAs(const std::filesystem::path& file, bool overwrite) {
  namespace fs = std::filesystem;
  const std::string name = file.string();
  if (name.empty()) throw InputError("save as: the file name is empty");
  // The name is taken as typed: the system would cut it at a NUL and write
  // another file.
  if (name.find('\0') != std::string::npos)
    throw InputError("save as " + Quoted(name) + ": a file name cannot hold a NUL character");
  if (!file.has_filename()) throw InputError("save as " + Quoted(name) + ": the name ends in a folder separator");
  const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
  std::error_code ec;
  if (!fs::is_directory(folder, ec))
    throw InputError("save as " + Quoted(name) + ": there is no folder " + Quoted(folder.string()));
  // Every file the scene reads, each frame of a pattern included.
  const RenderDesc& rd = scene_.render;
  const auto refuse = [&](const std::optional<fs::path>& input, const std::string& what) {
    if (input && ReadsFile(*input, file))
      throw InputError("save as " + Quoted(name) + ": the scene reads that file (" + what + " " +
                       Quoted(input->string()) + "); saving the scene there would destroy it");
  };
  refuse(rd.image, "render.image");
  refuse(rd.objectId ? std::optional<fs::path>(rd.objectId->path) : std::nullopt, "render.objectId");
  refuse(rd.materialId ? std::optional<fs::path>(rd.materialId->path) : std::nullopt, "render.materialId");
  for (const NodeDesc& n : scene_.nodes)  // a .chan file's name is no pattern
    if (n.chan && SameFile(file, n.chan->file))
      throw InputError("save as " + Quoted(name) + ": the scene reads that file (the .chan file of node " +
                       Quoted(n.name) + " " + Quoted(n.chan->file.string()) + "); saving the scene there would destroy it");
  const auto status = fs::status(file, ec);
  if (fs::is_directory(status)) throw InputError("save as " + Quoted(name) + ": is a folder");
  const bool isSceneFile = !sceneFile_.empty() && SameFile(file, sceneFile_);
  if (fs::exists(status) && !overwrite && !isSceneFile)
    throw FileExists("save as " + Quoted(name) + ": the file exists; confirm to replace it");
  SaveSceneFile(CurrentScene(), file);
  if (sceneFile_.empty()) sceneFile_ = file;
  if (isSceneFile || sceneFile_ == file) dirty_ = false;
  return file;
}

}  // namespace velumbra
