// Parameter maps: rollout windows built from dialog templates, bound to a
// block's parameters (see iparamm2.h).
#include <algorithm>
#include <cmath>
#include <string>

#include "classdesc.h"
#include "host/platform/commctrl.h"
#include "inode.h"
#include "iparamm2.h"

namespace {

// The maps whose windows are open, in the order they were opened.
std::vector<IParamMap2*>& OpenMaps() {
  static std::vector<IParamMap2*> maps;
  return maps;
}

std::string LoadText(HINSTANCE hInst, int id) {
  if (id <= 0) return {};
  char buffer[256];
  LoadStringA(hInst, static_cast<UINT>(id), buffer, sizeof buffer);
  return buffer;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

const char* ControlKindName(ControlType2 kind) {
  switch (kind) {
    case TYPE_SPINNER: return "spinner";
    case TYPE_SLIDER: return "slider";
    case TYPE_SINGLECHEKBOX: return "check box";
    case TYPE_COLORSWATCH: return "colour swatch";
    case TYPE_PICKNODEBUTTON: return "pick button";
    case TYPE_RADIO: return "radio group";
    case TYPE_EDITBOX: return "edit box";
    case TYPE_FILEOPENBUTTON: return "file button";
  }
  return "control";
}

// What control `index` of a parameter's p_ui must be.
struct ControlRole {
  std::string name;  // for messages: "edit field", "spinner", "button 2", ...
  bool (*accepts)(HWND);
  const char* expected;  // for messages
};

bool IsCustEdit(HWND h) { return h->className == "CustEdit"; }
bool IsSpinner(HWND h) { return h->className == "SpinnerControl"; }
bool IsSlider(HWND h) { return h->className == "SliderControl"; }
bool IsSwatch(HWND h) { return h->className == "ColorSwatch"; }
bool IsCustButton(HWND h) { return h->className == "CustButton"; }
bool IsCheck(HWND h) { return IsCheckBox(h); }
bool IsRadio(HWND h) { return IsRadioButton(h); }

ControlRole RoleOf(ControlType2 kind, std::size_t index) {
  switch (kind) {
    case TYPE_SPINNER:
      return index == 0 ? ControlRole{"edit field", IsCustEdit, "a \"CustEdit\" edit field"}
                        : ControlRole{"spinner", IsSpinner, "a \"SpinnerControl\""};
    case TYPE_SLIDER:
      return index == 0 ? ControlRole{"edit field", IsCustEdit, "a \"CustEdit\" edit field"}
                        : ControlRole{"slider", IsSlider, "a \"SliderControl\""};
    case TYPE_SINGLECHEKBOX: return {"check box", IsCheck, "a \"BUTTON\" check box"};
    case TYPE_COLORSWATCH: return {"colour swatch", IsSwatch, "a \"ColorSwatch\""};
    case TYPE_PICKNODEBUTTON: return {"pick button", IsCustButton, "a \"CustButton\""};
    case TYPE_RADIO:
      return {"radio button " + std::to_string(index + 1), IsRadio, "a \"BUTTON\" radio button"};
    case TYPE_EDITBOX: return {"edit box", IsCustEdit, "a \"CustEdit\" edit field"};
    case TYPE_FILEOPENBUTTON: return {"file button", IsCustButton, "a \"CustButton\""};
  }
  return {"control", IsCustEdit, "?"};
}

// Parameter types each control kind can show.
bool KindFitsType(ControlType2 kind, ParamType2 type) {
  switch (kind) {
    case TYPE_SPINNER:
    case TYPE_SLIDER: return type == TYPE_INT || type == TYPE_FLOAT;
    case TYPE_SINGLECHEKBOX: return type == TYPE_BOOL || type == TYPE_INT;
    case TYPE_COLORSWATCH: return type == TYPE_RGBA;
    case TYPE_PICKNODEBUTTON: return type == TYPE_INODE;
    case TYPE_RADIO: return type == TYPE_RADIOBTN_INDEX || type == TYPE_INT;
    case TYPE_EDITBOX: return type == TYPE_STRING || type == TYPE_FILENAME;
    case TYPE_FILEOPENBUTTON: return type == TYPE_FILENAME;
  }
  return false;
}

std::string Describe(HWND h) {
  std::string d = Quoted(h->className);
  if (IsCheckBox(h)) d += " check box";
  else if (IsRadioButton(h)) d += " radio button";
  return d;
}

bool IsSystemClass(const std::string& name) {
  return name == "BUTTON" || name == "STATIC" || name == "EDIT" || name == "COMBOBOX" || name == "LISTBOX" ||
         name == "SCROLLBAR";
}

int ReadInt(IParamBlock2* block, ParamID id, TimeValue t) {
  int v = 0;
  Interval valid = FOREVER;
  block->GetValue(id, t, v, valid);
  return v;
}

}  // namespace

// --- the panel ------------------------------------------------------------------------

IRendParams::~IRendParams() = default;

int IRendParams::AddRollupPage(HWND hwnd, const std::string& title, DWORD rollupFlags) {
  pages_.push_back({hwnd, title, rollupFlags, (rollupFlags & APPENDROLL_CLOSED) == 0});
  return NumRollups() - 1;
}

void IRendParams::DeleteRollupPage(HWND hwnd) {
  std::erase_if(pages_, [&](const RollupPage& p) { return p.hwnd == hwnd; });
}

const RollupPage* IRendParams::GetRollup(int index) const {
  return index >= 0 && index < NumRollups() ? &pages_[static_cast<std::size_t>(index)] : nullptr;
}

const RollupPage* IRendParams::FindRollup(HWND hwnd) const {
  for (const RollupPage& p : pages_)
    if (p.hwnd == hwnd) return &p;
  return nullptr;
}

bool IRendParams::IsRollupPanelOpen(HWND hwnd) const {
  const RollupPage* p = FindRollup(hwnd);
  return p && p->open;
}

void IRendParams::SetRollupPanelOpen(HWND hwnd, bool open) {
  for (RollupPage& p : pages_)
    if (p.hwnd == hwnd) p.open = open;
}

void IRendParams::CloseAll() {
  for (RollupPage& p : pages_)
    if (!(p.rollupFlags & DONTAUTOCLOSE)) p.open = false;
}

void IRendParams::OpenAll() {
  for (RollupPage& p : pages_) p.open = true;
}

void IRendParams::SetPickMode(PickModeCallback* cb) {
  if (pick_ == cb) return;
  EndPickMode();
  pick_ = cb;
}

void IRendParams::EndPickMode() {
  PickModeCallback* old = pick_;
  pick_ = nullptr;
  if (old) old->EndPick();
}

std::vector<INode*> IRendParams::PickCandidates() {
  std::vector<INode*> out;
  if (!pick_ || !scene_) return out;
  std::vector<INode*> stack{scene_->GetRootNode()};
  while (!stack.empty()) {
    INode* n = stack.back();
    stack.pop_back();
    if (!n->IsRootNode() && pick_->Filter(n)) out.push_back(n);
    for (int i = n->NumberOfChildren() - 1; i >= 0; --i) stack.push_back(n->GetChildNode(i));
  }
  return out;
}

BOOL IRendParams::PickNode(INode* node) {
  if (!pick_ || !node || !pick_->Filter(node)) return FALSE;
  if (pick_->Pick(node)) EndPickMode();
  return TRUE;
}

// --- the dialog object ------------------------------------------------------------------

IAutoEParamDlg::IAutoEParamDlg(IRendParams* ip, ReferenceTarget* thing, Class_ID classID)
    : ip_(ip), thing_(thing), classID_(classID) {}

// Maps close in reverse order; each removes its page from the panel.
IAutoEParamDlg::~IAutoEParamDlg() {
  while (!maps_.empty()) maps_.pop_back();
}

void IAutoEParamDlg::SetTime(TimeValue t) {
  for (auto& m : maps_) m->SetTime(t);
}

IParamMap2* IAutoEParamDlg::GetMap(int index) const {
  return index >= 0 && index < NumMaps() ? maps_[static_cast<std::size_t>(index)].get() : nullptr;
}

void IAutoEParamDlg::AddMap(std::unique_ptr<IParamMap2> map) { maps_.push_back(std::move(map)); }

// --- the map's pick mode -------------------------------------------------------------------

class IParamMap2::PickMode : public PickModeCallback {
 public:
  PickMode(IParamMap2* map, const Binding& binding) : map_(map), binding_(binding) {}

  BOOL Filter(INode* node) override {
    if (!node || node->IsRootNode()) return FALSE;
    const SClass_ID wanted = binding_.def->sclassID;
    if (wanted == 0) return TRUE;
    const Object* object = node->GetObjectRef();
    return object && object->SuperClassID() == wanted ? TRUE : FALSE;
  }
  BOOL Pick(INode* node) override {
    map_->block_->SetValue(binding_.def->id, map_->time_, node);
    InvalidateParamMaps(map_->block_->GetDesc());
    return TRUE;
  }
  std::string Prompt() override { return LoadText(map_->hInst_, binding_.def->prompt); }
  void EndPick() override {
    if (ICustButton* b = GetICustButton(binding_.controls[0])) b->SetCheck(FALSE);
    map_->picking_ = 0;
  }

 private:
  IParamMap2* map_;
  Binding binding_;
};

// --- the map ------------------------------------------------------------------------------

IParamMap2::IParamMap2(IParamBlock2* block, const RolloutDef& rollout, HINSTANCE hInst, IRendParams* ip)
    : block_(block), rollout_(rollout), hInst_(hInst), ip_(ip) {
  title_ = LoadText(hInst, rollout.title);
  if (ip_) time_ = ip_->GetTime();
  const DialogTemplate* tmpl = FindDialogTemplate(ModuleResourcesOf(hInst), rollout.dialogTemplate);
  if (!tmpl) {
    Fail("rollout " + Quoted(title_) + " (map " + std::to_string(rollout.map) + "): the module has no dialog template " +
         std::to_string(rollout.dialogTemplate));
    return;
  }
  if (!Build(*tmpl) || !Bind()) return;
  for (const Binding& b : bindings_) SetUp(b);
  hwnd_->onCommand = [this](HWND control, int code) { OnCommand(control, code); };
  OpenMaps().push_back(this);
  if (ip_) ip_->AddRollupPage(hwnd_.get(), title_, rollout_.rollupFlags);
  Invalidate();
}

IParamMap2::~IParamMap2() {
  if (ip_ && pickMode_ && ip_->GetPickMode() == pickMode_.get()) ip_->EndPickMode();
  std::erase(OpenMaps(), this);
  if (ip_ && hwnd_) ip_->DeleteRollupPage(hwnd_.get());
}

bool IParamMap2::Fail(std::string message) {
  error_ = std::move(message);
  bindings_.clear();
  hwnd_.reset();
  return false;
}

bool IParamMap2::Build(const DialogTemplate& tmpl) {
  hwnd_.reset(CreateDialogWindow(tmpl.fontName ? tmpl.fontName : "", tmpl.fontPointSize, tmpl.cx, tmpl.cy));
  const std::string where = "dialog template " + std::to_string(tmpl.id) + " (rollout " + Quoted(title_) + ")";
  for (std::size_t k = 0; k < tmpl.controlCount; ++k) {
    const DialogControl& c = tmpl.controls[k];
    const std::string cls = c.className ? c.className : "";
    const bool known = IsSystemClass(cls) || IsCustomControlClassRegistered(hInst_, cls) ||
                       IsCommonControlClassRegistered(cls);
    if (!known) {
      const bool custom = std::find(std::begin(kCustomControlClasses), std::end(kCustomControlClasses), cls) !=
                          std::end(kCustomControlClasses);
      return Fail(where + ": control " + std::to_string(c.id) + " has the window class " + Quoted(cls) +
                  (custom ? ", which the module has not registered (InitCustomControls was not called for it)"
                          : ", which no one has registered"));
    }
    HWND h = CreateChildWindow(hwnd_.get(), cls, c.text ? c.text : "", c.id, c.style, c.exStyle,
                               RECT{c.x, c.y, c.x + c.cx, c.y + c.cy});
    h->textResourceId = c.textResourceId;
    AttachCustomControl(h);
  }
  return true;
}

bool IParamMap2::Bind() {
  const ParamBlockDesc2* desc = block_->GetDesc();
  const std::string where = "dialog template " + std::to_string(rollout_.dialogTemplate) + " (rollout " +
                            Quoted(title_) + ")";
  // Controls claimed by a parameter (the descriptor's parser already
  // refuses a control claimed twice).
  std::vector<HWND> owner;
  for (int k = 0; k < desc->Count(); ++k) {
    const ParamDef* def = desc->GetParamDefByIndex(k);
    if (!def->ui.HasControl() || def->ui.map != rollout_.map) continue;
    const std::string param = "parameter " + Quoted(def->internalName) + " (ID " + std::to_string(def->id) + ")";
    if (!KindFitsType(def->ui.control, def->type))
      return Fail(param + ": a " + ControlKindName(def->ui.control) + " cannot show a parameter of its type");
    Binding b{def, {}};
    for (std::size_t i = 0; i < def->ui.ctrlIDs.size(); ++i) {
      const int id = def->ui.ctrlIDs[i];
      const ControlRole role = RoleOf(def->ui.control, i);
      HWND h = GetDlgItem(hwnd_.get(), id);
      if (!h)
        return Fail(param + ": its " + role.name + " (control " + std::to_string(id) + ") is missing from " + where);
      if (!role.accepts(h))
        return Fail(param + ": its " + role.name + " is control " + std::to_string(id) + " of " + where +
                    ", which is " + Describe(h) + ", not " + role.expected);
      owner.push_back(h);
      b.controls.push_back(h);
    }
    bindings_.push_back(std::move(b));
  }
  for (const auto& child : hwnd_->children) {
    if (child->id == -1) continue;
    if (std::find(owner.begin(), owner.end(), child.get()) == owner.end())
      return Fail(where + ": control " + std::to_string(child->id) + " (" + Describe(child.get()) +
                  ") is bound to no parameter of block " + Quoted(desc->InternalName()));
  }
  return true;
}

void IParamMap2::SetUp(const Binding& b) {
  const ParamDef& def = *b.def;
  const NumericKind kind = static_cast<NumericKind>(def.ui.editType);
  float low = -1e30f, high = 1e30f;
  if (def.hasRange) {
    low = def.type == TYPE_FLOAT ? def.rangeLow.f : static_cast<float>(def.rangeLow.i);
    high = def.type == TYPE_FLOAT ? def.rangeHigh.f : static_cast<float>(def.rangeHigh.i);
  } else if (def.type == TYPE_INT) {
    low = -2147483648.0f;
    high = 2147483520.0f;  // the largest float below 2^31
  }
  const float reset = def.type == TYPE_FLOAT ? def.def.f : static_cast<float>(def.def.i);
  if (def.ui.control == TYPE_SPINNER) {
    ISpinnerControl* s = GetISpinner(b.controls[1]);
    s->SetLimits(low, high, FALSE);
    s->SetScale(def.ui.scale);
    s->SetResetValue(reset);
    s->LinkToEdit(b.controls[0], kind);
  } else if (def.ui.control == TYPE_SLIDER) {
    ISliderControl* s = GetISlider(b.controls[1]);
    s->SetLimits(low, high, FALSE);
    s->SetNumSegs(def.ui.ticks);
    s->SetResetValue(reset);
    s->LinkToEdit(b.controls[0], kind);
  }
}

bool IParamMap2::Enabled(const ParamDef& def) {
  const ParamBlockDesc2* desc = block_->GetDesc();
  for (int k = 0; k < desc->Count(); ++k) {
    const ParamDef* other = desc->GetParamDefByIndex(k);
    const auto& list = other->enableCtrls;
    if (std::find(list.begin(), list.end(), def.id) != list.end() && ReadInt(block_, other->id, time_) == 0)
      return false;
  }
  return true;
}

void IParamMap2::Show(const Binding& b) {
  const ParamDef& def = *b.def;
  Interval valid = FOREVER;
  switch (def.ui.control) {
    case TYPE_SPINNER:
    case TYPE_SLIDER: {
      INumericControl* n = def.ui.control == TYPE_SPINNER ? static_cast<INumericControl*>(GetISpinner(b.controls[1]))
                                                          : GetISlider(b.controls[1]);
      if (def.type == TYPE_FLOAT) {
        float v = 0.0f;
        block_->GetValue(def.id, time_, v, valid);
        n->SetValue(v, FALSE);
      } else {
        int v = 0;
        block_->GetValue(def.id, time_, v, valid);
        // An integer spinner keeps the fraction its clicks have built up
        // as long as it still rounds to the block's value.
        if (n->GetIVal() != v) n->SetValue(v, FALSE);
        else n->SetValue(n->GetFVal(), FALSE);
      }
      break;
    }
    case TYPE_SINGLECHEKBOX:
      b.controls[0]->checked = ReadInt(block_, def.id, time_) != 0 ? BST_CHECKED : BST_UNCHECKED;
      break;
    case TYPE_RADIO: {
      const int index = ReadInt(block_, def.id, time_);
      for (std::size_t i = 0; i < b.controls.size(); ++i)
        b.controls[i]->checked = static_cast<int>(i) == index ? BST_CHECKED : BST_UNCHECKED;
      break;
    }
    case TYPE_COLORSWATCH: {
      Color c;
      block_->GetValue(def.id, time_, c, valid);
      GetIColorSwatch(b.controls[0])->SetColor(c, FALSE);
      break;
    }
    case TYPE_PICKNODEBUTTON: {
      INode* node = nullptr;
      block_->GetValue(def.id, time_, node, valid);
      // Without a node the button keeps the caption of its template.
      const DialogTemplate* tmpl = FindDialogTemplate(ModuleResourcesOf(hInst_), rollout_.dialogTemplate);
      const DialogControl* c = FindDialogControl(tmpl, b.controls[0]->id);
      ICustButton* button = GetICustButton(b.controls[0]);
      button->SetText(node ? node->GetName() : (c && c->text ? c->text : ""));
      button->SetCheck(picking_ == b.controls[0]->id ? TRUE : FALSE);
      break;
    }
    case TYPE_EDITBOX: {
      const MCHAR* text = block_->GetStr(def.id, time_);
      GetICustEdit(b.controls[0])->SetText(text ? text : "");
      break;
    }
    case TYPE_FILEOPENBUTTON: {
      // The file's name; without one the button keeps its template caption.
      const MCHAR* text = block_->GetStr(def.id, time_);
      const DialogTemplate* tmpl = FindDialogTemplate(ModuleResourcesOf(hInst_), rollout_.dialogTemplate);
      const DialogControl* c = FindDialogControl(tmpl, b.controls[0]->id);
      GetICustButton(b.controls[0])->SetText(text && *text ? text : (c && c->text ? c->text : ""));
      break;
    }
  }
  const BOOL enabled = Enabled(def) ? TRUE : FALSE;
  for (HWND h : b.controls) EnableWindow(h, enabled);
  // A pick button that is switched off leaves its pick mode.
  if (!enabled && picking_ != 0 && picking_ == b.controls[0]->id && ip_) ip_->EndPickMode();
}

void IParamMap2::Invalidate() {
  for (const Binding& b : bindings_) Show(b);
}

void IParamMap2::Invalidate(ParamID id) {
  for (const Binding& b : bindings_)
    if (b.def->id == id) Show(b);
}

void IParamMap2::SetTime(TimeValue t) {
  time_ = t;
  Invalidate();
}

const ParamDef* IParamMap2::ParamOfControl(int ctrlID) const {
  for (const Binding& b : bindings_)
    for (HWND h : b.controls)
      if (h->id == ctrlID) return b.def;
  return nullptr;
}

void IParamMap2::WriteNumber(const Binding& b, float v) {
  const ParamDef& def = *b.def;
  if (def.type == TYPE_FLOAT) {
    if (def.hasRange) v = std::clamp(v, def.rangeLow.f, def.rangeHigh.f);
    block_->SetValue(def.id, time_, v);
  } else {
    // Whole numbers within the int range (the control's limits keep v there).
    long long i = std::llround(v);
    if (def.hasRange) i = std::clamp<long long>(i, def.rangeLow.i, def.rangeHigh.i);
    i = std::clamp<long long>(i, -2147483647LL - 1, 2147483647LL);
    block_->SetValue(def.id, time_, static_cast<int>(i));
  }
}

void IParamMap2::StartPick(const Binding& b) {
  if (!ip_) return;
  const int id = b.controls[0]->id;
  if (picking_ == id) {  // a second click leaves the pick mode
    ip_->EndPickMode();
    return;
  }
  ip_->EndPickMode();
  pickMode_ = std::make_unique<PickMode>(this, b);
  ip_->SetPickMode(pickMode_.get());
  picking_ = id;
  GetICustButton(b.controls[0])->SetCheck(TRUE);
}

void IParamMap2::OnCommand(HWND control, int code) {
  const Binding* found = nullptr;
  std::size_t index = 0;
  for (const Binding& b : bindings_)
    for (std::size_t i = 0; i < b.controls.size(); ++i)
      if (b.controls[i] == control) {
        found = &b;
        index = i;
      }
  if (!found) return;
  const Binding& b = *found;
  switch (b.def->ui.control) {
    case TYPE_SPINNER:
      if (code != CC_SPINNER_CHANGE) return;
      WriteNumber(b, GetISpinner(control)->GetFVal());
      break;
    case TYPE_SLIDER:
      if (code != CC_SLIDER_CHANGE) return;
      WriteNumber(b, GetISlider(control)->GetFVal());
      break;
    case TYPE_SINGLECHEKBOX:
      if (code != BN_CLICKED) return;
      block_->SetValue(b.def->id, time_, control->checked == BST_CHECKED ? 1 : 0);
      break;
    case TYPE_RADIO:
      if (code != BN_CLICKED) return;
      block_->SetValue(b.def->id, time_, static_cast<int>(index));
      break;
    case TYPE_COLORSWATCH:
      if (code != CC_COLOR_CHANGE) return;
      block_->SetValue(b.def->id, time_, GetIColorSwatch(control)->GetColor());
      break;
    case TYPE_PICKNODEBUTTON:
      if (code != BN_CLICKED) return;
      StartPick(b);
      return;
    case TYPE_EDITBOX:
      if (code != EN_CHANGE) return;
      block_->SetValue(b.def->id, time_, GetICustEdit(control)->GetText().c_str());
      break;
    case TYPE_FILEOPENBUTTON: {
      if (code != BN_CLICKED || !ip_) return;
      const MCHAR* current = block_->GetStr(b.def->id, time_);
      std::string chosen;
      if (!ip_->BrowseForFile(current ? current : "", chosen)) return;  // cancelled
      block_->SetValue(b.def->id, time_, chosen.c_str());
      break;
    }
  }
  // The owner of the block usually refreshes the panel on the change
  // message; the maps of this descriptor are set again here either way, so
  // that a clamped or rounded value and the enable states show at once.
  InvalidateParamMaps(block_->GetDesc());
}

// --- lookups ----------------------------------------------------------------------------------

void InvalidateParamMaps(const ParamBlockDesc2* desc) {
  const std::vector<IParamMap2*> maps = OpenMaps();
  for (IParamMap2* m : maps)
    if (m->GetParamBlock()->GetDesc() == desc) m->Invalidate();
}

IParamMap2* FindParamMap(const IParamBlock2* block, MapID id) {
  for (IParamMap2* m : OpenMaps())
    if (m->GetParamBlock() == block && m->GetMapID() == id) return m;
  return nullptr;
}

IParamMap2* IParamBlock2::GetMap(MapID id) { return FindParamMap(this, id); }

// --- the class descriptor's dialog ---------------------------------------------------------

IAutoEParamDlg* ClassDesc2::CreateParamDialogs(IRendParams* ip, ReferenceTarget* obj) {
  if (!ip || !obj) return nullptr;
  ip->SetLastError({});
  auto dlg = std::make_unique<IAutoEParamDlg>(ip, obj, ClassID());
  for (ParamBlockDesc2* desc : descs_) {
    if (!(desc->Flags() & P_AUTO_UI)) continue;
    const std::string block = "block " + Quoted(desc->InternalName());
    if (!desc->IsValid()) {
      ip->SetLastError(block + ": " + desc->ErrorMessage());
      return nullptr;
    }
    IParamBlock2* pb = obj->GetParamBlockByID(desc->ID());
    if (!pb || pb->GetDesc() != desc) {
      ip->SetLastError(block + ": the object has no block of this descriptor");
      return nullptr;
    }
    for (int r = 0; r < desc->NumRollouts(); ++r) {
      auto map = std::make_unique<IParamMap2>(pb, *desc->GetRollout(r), HInstance(), ip);
      if (!map->Error().empty()) {
        ip->SetLastError(map->Error());
        return nullptr;  // the maps built so far close with `dlg`
      }
      dlg->AddMap(std::move(map));
    }
  }
  if (dlg->NumMaps() == 0) return nullptr;
  return dlg.release();
}
