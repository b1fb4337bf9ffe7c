// The automatic user interface of parameter blocks: parameter maps
// (IParamMap2), the render-effects panel that holds their rollouts
// (IRendParams), and the dialog object an effect hands the host
// (EffectParamDlg, made by ClassDesc2::CreateParamDialogs).
//
// One parameter map per rollout of a block descriptor: the map owns the
// rollout's window, built from the module's dialog template, and binds each
// control of the template to the parameter whose p_ui names it:
//   spinner  edit field + spinner: limits from p_range, step from the scale
//   slider   edit field + slider: limits, tick segments, reset value (the
//            parameter's default until the plug-in sets another)
//   check box, colour swatch, pick button: the one control
//   radio    the buttons in index order; the value is the 0-based index
//   edit box the text of a string or file-name parameter, written when
//            entered
//   file button  shows the file name (its template caption while there is
//            none); a click asks the panel for a file (BrowseForFile)
// Controls show the block's values at the map's time. User input on a
// control is written into the block at that time (numbers clamped to the
// range), which sends the block's change message; InvalidateUI of the
// descriptor (or Invalidate of a map) sets every control from the block
// again. Enable lists: a parameter's controls are enabled while every
// parameter whose p_enable_ctrls names it holds a nonzero value (a check
// box that is on, a radio group with any but its first button selected).
//
// Building is all or nothing: a template that is missing, a control class
// the module did not register (InitCustomControls), a parameter whose
// control is missing from its template or is of the wrong class, and a
// template control (any control with an ID) bound to no parameter each stop
// the build; nothing stays open and IRendParams::LastError names what was
// wrong.
//
// The automatic UI runs on the host's UI thread; nothing here takes locks.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "custom_controls.h"
#include "iparamb2.h"

class Interface;
class INode;
class IParamMap2;
class ReferenceTarget;

// The host's pick mode: while it is on, a click on a scene node offers the
// node to Filter and, when accepted, to Pick.
class PickModeCallback {
 public:
  virtual ~PickModeCallback() = default;
  virtual BOOL Filter(INode* node) = 0;
  // TRUE ends the pick mode.
  virtual BOOL Pick(INode* node) = 0;
  virtual std::string Prompt() = 0;
  // The pick mode ended (picked, cancelled or replaced by another).
  virtual void EndPick() {}
};

// One rollout page of the panel.
struct RollupPage {
  HWND hwnd = nullptr;
  std::string title;
  DWORD rollupFlags = 0;  // APPENDROLL_CLOSED, DONTAUTOCLOSE
  bool open = true;
};

// The render-effects panel: the rollouts of the effect being edited, the
// time the panel shows, the scene nodes can be picked from, and the pick
// mode. It outlives the dialogs built in it.
class IRendParams {
 public:
  explicit IRendParams(Interface* scene = nullptr) : scene_(scene) {}
  virtual ~IRendParams();
  IRendParams(const IRendParams&) = delete;
  IRendParams& operator=(const IRendParams&) = delete;

  virtual TimeValue GetTime() { return time_; }
  void SetTime(TimeValue t) { time_ = t; }
  Interface* GetInterface() { return scene_; }

  // Appends a page; it opens rolled up when `rollupFlags` has
  // APPENDROLL_CLOSED. Returns its index.
  int AddRollupPage(HWND hwnd, const std::string& title, DWORD rollupFlags);
  void DeleteRollupPage(HWND hwnd);
  int NumRollups() const { return static_cast<int>(pages_.size()); }
  const RollupPage* GetRollup(int index) const;
  const RollupPage* FindRollup(HWND hwnd) const;
  bool IsRollupPanelOpen(HWND hwnd) const;
  void SetRollupPanelOpen(HWND hwnd, bool open);
  // The panel's close-all command: rolls up every page but those with
  // DONTAUTOCLOSE.
  void CloseAll();
  void OpenAll();

  // Pick mode. Setting one ends the previous one (its EndPick is called).
  void SetPickMode(PickModeCallback* cb);
  void EndPickMode();
  PickModeCallback* GetPickMode() const { return pick_; }
  // The scene's nodes (depth first, the root left out) that the pick mode's
  // filter accepts; empty without a pick mode or a scene.
  std::vector<INode*> PickCandidates();
  // Offers `node` to the pick mode: FALSE when there is none or its filter
  // refuses the node. A pick that ends the mode calls EndPick.
  BOOL PickNode(INode* node);

  // The host's file dialog for a file button: `current` is the parameter's
  // file name. True with the chosen name in `chosen`; false when the user
  // cancels, or the host has no file dialog (this one: a host that has
  // overrides it).
  virtual bool BrowseForFile(const std::string& current, std::string& chosen) {
    (void)current;
    (void)chosen;
    return false;
  }

  // Why the last CreateParamDialogs with this panel built nothing; empty
  // after a successful build.
  const std::string& LastError() const { return error_; }
  void SetLastError(std::string message) { error_ = std::move(message); }

 private:
  Interface* scene_;
  TimeValue time_ = 0;
  std::vector<RollupPage> pages_;
  PickModeCallback* pick_ = nullptr;
  std::string error_;
};

// The host's dialog object for an effect's panel.
class EffectParamDlg {
 public:
  virtual ~EffectParamDlg() = default;
  virtual Class_ID ClassID() = 0;
  virtual ReferenceTarget* GetThing() = 0;
  // Shows the values at t; later edits are made at t.
  virtual void SetTime(TimeValue t) = 0;
  // Closes the rollouts and frees the object. The host calls it before the
  // effect or its block goes away.
  virtual void DeleteThis() = 0;
};

// The dialog object of an automatic UI: the parameter maps of the effect's
// blocks, one per rollout, in rollout order.
class IAutoEParamDlg : public EffectParamDlg {
 public:
  IAutoEParamDlg(IRendParams* ip, ReferenceTarget* thing, Class_ID classID);
  ~IAutoEParamDlg() override;
  Class_ID ClassID() override { return classID_; }
  ReferenceTarget* GetThing() override { return thing_; }
  void SetTime(TimeValue t) override;
  void DeleteThis() override { delete this; }

  int NumMaps() const { return static_cast<int>(maps_.size()); }
  IParamMap2* GetMap(int index) const;
  void AddMap(std::unique_ptr<IParamMap2> map);
  IRendParams* GetRendParams() const { return ip_; }

 private:
  IRendParams* ip_;
  ReferenceTarget* thing_;
  Class_ID classID_;
  std::vector<std::unique_ptr<IParamMap2>> maps_;
};

// One rollout bound to a block.
class IParamMap2 {
 public:
  // Builds the rollout window from `rollout`'s template in module `hInst`
  // and binds its controls. Check Error() afterwards: a map whose build
  // failed has no window.
  IParamMap2(IParamBlock2* block, const RolloutDef& rollout, HINSTANCE hInst, IRendParams* ip);
  ~IParamMap2();
  IParamMap2(const IParamMap2&) = delete;
  IParamMap2& operator=(const IParamMap2&) = delete;

  const std::string& Error() const { return error_; }

  IParamBlock2* GetParamBlock() const { return block_; }
  MapID GetMapID() const { return rollout_.map; }
  const RolloutDef& Rollout() const { return rollout_; }
  int TemplateID() const { return rollout_.dialogTemplate; }
  HWND GetHWnd() const { return hwnd_.get(); }
  const std::string& Title() const { return title_; }
  HINSTANCE Instance() const { return hInst_; }

  TimeValue GetTime() const { return time_; }
  void SetTime(TimeValue t);
  // Sets every control from the block at the map's time, and the enable
  // states from the enable lists.
  void Invalidate();
  // The same for the controls of one parameter.
  void Invalidate(ParamID id);

  // The parameter bound to control `ctrlID` of this rollout, or null.
  const ParamDef* ParamOfControl(int ctrlID) const;
  // The pick button whose pick mode is on, or 0.
  int PickingControl() const { return picking_; }

 private:
  struct Binding {
    const ParamDef* def;
    std::vector<HWND> controls;  // as ParamUI::ctrlIDs
  };
  class PickMode;

  bool Build(const DialogTemplate& tmpl);
  bool Bind();
  bool Fail(std::string message);
  void SetUp(const Binding& b);
  void Show(const Binding& b);
  bool Enabled(const ParamDef& def);
  void OnCommand(HWND control, int code);
  void WriteNumber(const Binding& b, float v);
  void StartPick(const Binding& b);

  IParamBlock2* block_;
  RolloutDef rollout_;
  HINSTANCE hInst_;
  IRendParams* ip_;
  std::string title_;
  std::string error_;
  TimeValue time_ = 0;
  std::unique_ptr<HWND__> hwnd_;
  std::vector<Binding> bindings_;
  std::unique_ptr<PickMode> pickMode_;
  int picking_ = 0;
};

// Refreshes every open map of blocks of `desc` (ParamBlockDesc2::InvalidateUI).
void InvalidateParamMaps(const ParamBlockDesc2* desc);
// The open map `id` of `block`, or null.
IParamMap2* FindParamMap(const IParamBlock2* block, MapID id);
