// Parameter blocks: ParamBlockDesc2 (the static schema of a block, declared
// by one tagged-list constructor call) and IParamBlock2 (one object's values,
// possibly keyed over time).
//
// The descriptor's list, item by item:
//
//   block ID, internal name, local-name string ID, class descriptor, flags,
//   [P_AUTO_CONSTRUCT]  reference number,
//   [P_AUTO_UI + P_MULTIMAP]  rollout count, then per rollout:
//                       map ID, dialog template ID, title string ID,
//                       flag mask, rollup flags, dialog procedure (null),
//   [P_AUTO_UI alone]   one rollout without the map ID (it is map 0),
//   then per parameter: ID, internal name, type, flags, display-name string
//                       ID, tagged items (see ParamTags), p_end,
//   and a final p_end.
//
// The constructor captures every item with its C++ type (ParamItem) and
// parses the list into a typed schema (ParamDef per parameter). A malformed
// list marks the descriptor invalid with a message naming the block, the
// parameter and the fault; the descriptor still registers with its class
// descriptor so that the module loader can refuse the module with it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "classdesc.h"
#include "color.h"
#include "interval.h"
#include "max_types.h"
#include "ref.h"

class INode;  // scene nodes belong to the host; blocks keep raw pointers
class IParamMap2;

using ParamID = short;
using MapID = short;
using StringResID = int;

// --- numeric codes of the descriptor list (the host interface's values) ---

// Block flags.
inline constexpr DWORD P_AUTO_CONSTRUCT = 0x02;  // the host makes the block for each new object
inline constexpr DWORD P_AUTO_UI = 0x04;         // the host builds the rollouts
inline constexpr DWORD P_MULTIMAP = 0x20;        // several rollouts
// Parameter flags.
inline constexpr DWORD P_ANIMATABLE = 0x01;

enum ParamType2 : int {
  TYPE_FLOAT = 0,
  TYPE_INT = 1,
  TYPE_RGBA = 2,
  TYPE_BOOL = 4,             // an integer 0 or 1
  TYPE_STRING = 8,           // a text; never animatable
  TYPE_FILENAME = 9,         // a file name (a text the host resolves, see IFileService); never animatable
  TYPE_RADIOBTN_INDEX = 13,  // an integer: 0-based index of the selected radio button
  TYPE_INODE = 17,           // a scene node; never animatable
};

enum ControlType2 : int {
  TYPE_SPINNER = 0,
  TYPE_RADIO = 1,
  TYPE_SINGLECHEKBOX = 2,
  TYPE_COLORSWATCH = 4,
  TYPE_EDITBOX = 5,          // a text field: TYPE_STRING, TYPE_FILENAME
  TYPE_PICKNODEBUTTON = 7,
  TYPE_FILEOPENBUTTON = 11,  // a button that shows the file name and asks for a file: TYPE_FILENAME
  TYPE_SLIDER = 18,
};

enum EditSpinnerType : int {
  EDITTYPE_INT = 0,
  EDITTYPE_FLOAT = 1,
  EDITTYPE_UNIVERSE = 2,  // world units
};

// Tags of a parameter's items; each is followed by the items given.
enum ParamTags : std::uint32_t {
  p_default = 0xC0000000u,  // the value: integer, float, three floats (colour) or a string
  p_range = 0xC0000002u,    // low, high: integers or floats after the type
  p_ui = 0xC0000003u,       // map ID, control kind, then the control's items (ParamUI)
  p_sclassID = 0xC000000Cu,  // super class ID a pick button accepts
  p_enable_ctrls = 0xC000000Eu,  // count, then that many parameter IDs
  p_prompt = 0xC000000Fu,   // string ID shown while picking
  p_end = 0xC0000400u,      // closes a parameter, and the list
};

// Rollup flags of a rollout.
inline constexpr DWORD APPENDROLL_CLOSED = 1;  // opens rolled up
inline constexpr DWORD DONTAUTOCLOSE = 2;      // not rolled up by the host's close-all command

// Spinner scale item: let the host choose the step per click.
inline constexpr float SPIN_AUTOSCALE = -1.0f;

// --- captured items ---------------------------------------------------------

enum class ParamItemKind { Int, Float, String, Pointer, Null };

// One item of a descriptor list, with the kind of the C++ value it came from.
struct ParamItem {
  ParamItemKind kind = ParamItemKind::Null;
  std::int64_t i = 0;  // Int
  double f = 0.0;      // Float
  std::string s;       // String
  const void* p = nullptr;          // Pointer (may itself be null)
  ClassDesc2* classDesc = nullptr;  // Pointer to a class descriptor, typed

  static ParamItem Int(std::int64_t v) { return {ParamItemKind::Int, v, 0.0, {}, nullptr, nullptr}; }
  static ParamItem Float(double v) { return {ParamItemKind::Float, 0, v, {}, nullptr, nullptr}; }
  static ParamItem String(std::string v) { return {ParamItemKind::String, 0, 0.0, std::move(v), nullptr, nullptr}; }
  static ParamItem Pointer(const void* v, ClassDesc2* cd = nullptr) {
    return {ParamItemKind::Pointer, 0, 0.0, {}, v, cd};
  }
  static ParamItem Null() { return {}; }
};

template <typename T>
inline constexpr bool kUnsupportedParamItem = false;

// The item for one constructor argument.
template <typename T>
ParamItem MakeParamItem(const T& v) {
  using D = std::decay_t<T>;
  if constexpr (std::is_same_v<D, std::nullptr_t>) {
    return ParamItem::Null();
  } else if constexpr (std::is_integral_v<D> || std::is_enum_v<D>) {
    return ParamItem::Int(static_cast<std::int64_t>(v));
  } else if constexpr (std::is_floating_point_v<D>) {
    return ParamItem::Float(static_cast<double>(v));
  } else if constexpr (std::is_same_v<D, const char*> || std::is_same_v<D, char*>) {
    const char* s = v;  // arrays decay here
    return s ? ParamItem::String(s) : ParamItem::Null();
  } else if constexpr (std::is_same_v<D, std::string> || std::is_same_v<D, std::string_view>) {
    return ParamItem::String(std::string(v));
  } else if constexpr (std::is_pointer_v<D> && std::is_function_v<std::remove_pointer_t<D>>) {
    return ParamItem::Pointer(reinterpret_cast<const void*>(v));
  } else if constexpr (std::is_pointer_v<D> && std::is_convertible_v<D, ClassDesc2*>) {
    return ParamItem::Pointer(static_cast<const void*>(v), static_cast<ClassDesc2*>(v));
  } else if constexpr (std::is_pointer_v<D>) {
    return ParamItem::Pointer(static_cast<const void*>(v));
  } else {
    static_assert(kUnsupportedParamItem<T>, "a descriptor item is an integer, a float, a string or a pointer");
  }
}

template <typename... Args>
std::vector<ParamItem> CaptureParamItems(const Args&... args) {
  std::vector<ParamItem> items;
  items.reserve(sizeof...(Args));
  (items.push_back(MakeParamItem(args)), ...);
  return items;
}

// --- the typed schema -------------------------------------------------------

// A value of any parameter type; only the member of the type is meaningful.
struct ParamValue {
  int i = 0;  // TYPE_INT, TYPE_BOOL, TYPE_RADIOBTN_INDEX
  float f = 0.0f;
  Color c;
  INode* node = nullptr;
  std::string s;  // TYPE_STRING, TYPE_FILENAME (no NUL inside)

  bool operator==(const ParamValue&) const = default;
};

// The control a parameter is bound to in its rollout.
struct ParamUI {
  MapID map = -1;  // -1: the parameter has no control
  ControlType2 control = TYPE_SPINNER;
  EditSpinnerType editType = EDITTYPE_INT;  // spinners and sliders
  // Spinner: edit field, spinner. Slider: edit field, slider. Check box,
  // colour swatch, pick button: the control. Radio: the buttons in index order.
  std::vector<int> ctrlIDs;
  float scale = 0.0f;  // spinner step per click; SPIN_AUTOSCALE lets the host choose
  int ticks = 0;       // slider tick segments

  bool HasControl() const { return map >= 0; }
};

struct ParamDef {
  ParamID id = 0;
  std::string internalName;  // script and scene-file name
  ParamType2 type = TYPE_INT;
  DWORD flags = 0;              // P_ANIMATABLE
  StringResID localName = 0;    // display-name string ID
  ParamValue def;               // default (zero, black or none when not given)
  bool hasRange = false;
  ParamValue rangeLow, rangeHigh;  // i for integer types, f for floats
  ParamUI ui;
  // Parameters whose controls follow this one's: enabled while this
  // parameter's value is nonzero (a check box that is on, or a radio group
  // with any button but the first selected), disabled otherwise.
  std::vector<ParamID> enableCtrls;
  StringResID prompt = 0;   // pick buttons: prompt string ID, 0 for none
  SClass_ID sclassID = 0;   // pick buttons: the super class accepted, 0 for any node

  bool Animatable() const { return (flags & P_ANIMATABLE) != 0; }
  // Integer-valued types (read and written as int).
  bool IsIntType() const { return type == TYPE_INT || type == TYPE_BOOL || type == TYPE_RADIOBTN_INDEX; }
  // Text-valued types (read and written as const MCHAR*).
  bool IsStringType() const { return type == TYPE_STRING || type == TYPE_FILENAME; }
};

struct RolloutDef {
  MapID map = 0;
  int dialogTemplate = 0;
  StringResID title = 0;
  DWORD flagMask = 0;
  DWORD rollupFlags = 0;       // APPENDROLL_CLOSED, DONTAUTOCLOSE
  const void* dlgProc = nullptr;  // the plug-in's dialog procedure, null for the host's handling
};

struct ParamBlockSchema {
  BlockID id = 0;
  std::string internalName;
  StringResID localName = 0;
  ClassDesc2* classDesc = nullptr;
  DWORD flags = 0;
  int refNo = -1;  // P_AUTO_CONSTRUCT: the owner's reference number of the block
  std::vector<RolloutDef> rollouts;
  std::vector<ParamDef> params;  // in declaration order
};

struct ParamBlockParse {
  ParamBlockSchema schema;  // as far as parsed when invalid
  bool valid = false;
  std::string error;  // empty when valid
};

// Parses a descriptor list. Total over arbitrary item sequences: it never
// reads past the span, never dereferences an item's pointer and always
// ends; the first fault makes the result invalid with a message.
ParamBlockParse ParseParamBlockItems(std::span<const ParamItem> items);

// --- the descriptor -----------------------------------------------------------

class ParamBlockDesc2 {
 public:
  // One tagged list, item by item (see the top of this file).
  template <typename First, typename... Rest>
    requires(!std::is_same_v<std::remove_cvref_t<First>, ParamBlockDesc2> &&
             !std::is_same_v<std::remove_cvref_t<First>, std::vector<ParamItem>>)
  explicit ParamBlockDesc2(const First& first, const Rest&... rest) {
    Init(CaptureParamItems(first, rest...));
  }
  // From items captured elsewhere.
  explicit ParamBlockDesc2(std::vector<ParamItem> items) { Init(std::move(items)); }
  // Leaves its class descriptor's registry.
  ~ParamBlockDesc2();
  ParamBlockDesc2(const ParamBlockDesc2&) = delete;
  ParamBlockDesc2& operator=(const ParamBlockDesc2&) = delete;

  bool IsValid() const { return valid_; }
  // Names the block, the parameter and the fault; empty when valid.
  const std::string& ErrorMessage() const { return error_; }

  BlockID ID() const { return schema_.id; }
  const std::string& InternalName() const { return schema_.internalName; }
  StringResID LocalName() const { return schema_.localName; }
  ClassDesc2* ClassDescriptor() const { return owner_; }
  DWORD Flags() const { return schema_.flags; }
  int RefNo() const { return schema_.refNo; }

  int NumRollouts() const { return static_cast<int>(schema_.rollouts.size()); }
  const RolloutDef* GetRollout(int i) const;
  const RolloutDef* GetRolloutByMap(MapID map) const;

  int Count() const { return static_cast<int>(schema_.params.size()); }
  // Index in declaration order of parameter `id`, or -1.
  int IDtoIndex(ParamID id) const;
  // ID of the parameter at `index`, or -1.
  ParamID IndexToID(int index) const;
  // Index of the parameter with that internal name (exact match), or -1.
  int FindByName(std::string_view name) const;
  // Null for an unknown ID or index.
  const ParamDef* GetParamDef(ParamID id) const;
  const ParamDef* GetParamDefByIndex(int index) const;

  // Refreshes the controls of the open rollouts of this descriptor's blocks
  // (iparamm2.h); the calls are counted.
  void InvalidateUI();
  int InvalidateUICount() const { return invalidateUICount_; }

  const ParamBlockSchema& Schema() const { return schema_; }
  // The list as captured.
  const std::vector<ParamItem>& Items() const { return items_; }

 private:
  friend class ClassDesc2;
  void Init(std::vector<ParamItem> items);

  std::vector<ParamItem> items_;
  ParamBlockSchema schema_;
  bool valid_ = false;
  std::string error_;
  std::vector<std::pair<ParamID, int>> byId_;  // sorted by ID
  ClassDesc2* owner_ = nullptr;
  int invalidateUICount_ = 0;
};

// --- one object's values -----------------------------------------------------

template <typename T>
struct ParamKey {
  TimeValue t;
  T value;
};

// A parameter block: one value per parameter of its descriptor, each either
// constant or keyed. Floats and colours interpolate linearly between keys;
// integers, booleans and radio indices hold the value of the last key at or
// before t. Before the first key and after the last the end keys' values
// hold. Nothing is clamped to the ranges (ranges bind the controls and the
// scene-file loader). Every successful change sends REFMSG_CHANGE to the
// block's dependents.
class IParamBlock2 : public ReferenceTarget {
 public:
  // A block of the descriptor's defaults, without keys. `desc` is not null
  // and outlives the block (descriptors are static objects of a module).
  explicit IParamBlock2(ParamBlockDesc2* desc);

  ParamBlockDesc2* GetDesc() const { return desc_; }
  BlockID ID() const { return desc_->ID(); }
  int NumParams() const { return desc_->Count(); }
  int IDtoIndex(ParamID id) const { return desc_->IDtoIndex(id); }
  ParamID IndexToID(int index) const { return desc_->IndexToID(index); }
  // Index of the parameter with that internal name, or -1.
  int FindParamByName(std::string_view name) const { return desc_->FindByName(name); }

  // The value at t. FALSE (and `v` and `valid` untouched) for an unknown ID,
  // a destination of another type than the parameter's, or a tabIndex other
  // than 0. `valid` is narrowed to the interval over which the value holds.
  // TYPE_INT, TYPE_BOOL and TYPE_RADIOBTN_INDEX are read as int;
  // TYPE_STRING and TYPE_FILENAME as text: the pointer stays valid until the
  // parameter's value is next set (or the block is loaded or deleted).
  BOOL GetValue(ParamID id, TimeValue t, int& v, Interval& valid, int tabIndex = 0);
  BOOL GetValue(ParamID id, TimeValue t, float& v, Interval& valid, int tabIndex = 0);
  BOOL GetValue(ParamID id, TimeValue t, Color& v, Interval& valid, int tabIndex = 0);
  BOOL GetValue(ParamID id, TimeValue t, INode*& v, Interval& valid, int tabIndex = 0);
  BOOL GetValue(ParamID id, TimeValue t, const MCHAR*& v, Interval& valid, int tabIndex = 0);
  // The text of a string parameter at t, or null for an unknown ID or a
  // parameter of another type (valid as GetValue's).
  const MCHAR* GetStr(ParamID id, TimeValue t = 0, int tabIndex = 0);

  // Sets the constant value, or, when the parameter has keys, sets the key
  // at t or adds one there. FALSE (and no message) on the faults of GetValue.
  BOOL SetValue(ParamID id, TimeValue t, int v, int tabIndex = 0);
  BOOL SetValue(ParamID id, TimeValue t, float v, int tabIndex = 0);
  BOOL SetValue(ParamID id, TimeValue t, Color v, int tabIndex = 0);
  BOOL SetValue(ParamID id, TimeValue t, INode* v, int tabIndex = 0);
  // Text parameters hold one value at every time (they cannot be keyed);
  // null sets the empty text.
  BOOL SetValue(ParamID id, TimeValue t, const MCHAR* v, int tabIndex = 0);

  // Replaces the parameter's keys (any order; times must differ). An empty
  // list removes the keys and the constant value applies again. FALSE for an
  // unknown ID, a type mismatch, a parameter that is not animatable or two
  // keys at one time.
  BOOL SetKeys(ParamID id, std::span<const ParamKey<int>> keys);
  BOOL SetKeys(ParamID id, std::span<const ParamKey<float>> keys);
  BOOL SetKeys(ParamID id, std::span<const ParamKey<Color>> keys);
  // Number of keys (0 for constant parameters and unknown IDs) and the time
  // of key i in time order (0 when out of range).
  int NumKeys(ParamID id) const;
  TimeValue GetKeyTime(ParamID id, int i) const;

  // The parameter map (open rollout) of map `id`, or null while none is
  // open (see iparamm2.h).
  IParamMap2* GetMap(MapID id = 0);

  // --- persistence ---
  // The block's chunks, written by Save and read back by Load (all numbers
  // little-endian, floats as their IEEE-754 single-precision bits):
  //
  //   0x0001 header     block ID (int16), number of parameters (int32)
  //   0x0010 parameter  one per parameter, in declaration order:
  //                     parameter ID (int16), type (int32, ParamType2),
  //                     the constant value, key count (int32), then per key
  //                     its time (int32) and value, times ascending
  //
  // A value is an int32 for the integer types, a float for TYPE_FLOAT,
  // three floats (r, g, b) for TYPE_RGBA, the text with its terminating NUL
  // for TYPE_STRING and TYPE_FILENAME, and for TYPE_INODE one byte (0:
  // no node, 1: a node) followed, for a node, by the node's name as a
  // terminated string. Nodes belong to the scene, not to the block, so a
  // node is stored by its name and found again by name in the stream's
  // scene (GetInterface): Save refuses a node that its name would not find
  // again (a stream without a scene, a node outside the scene, or an
  // earlier node of the same name), and Load refuses a name the scene does
  // not hold. Either way the stream's Error() names the parameter and node.
  //
  // Load takes every parameter chunk whose ID the descriptor knows (others
  // are skipped: they belong to a later revision of the block); parameters
  // the stream does not mention keep their values. It refuses, leaving the
  // block unchanged, a missing header, another block's ID, a parameter of
  // another type, keys on a parameter that cannot have them, key times out
  // of order, and anything cut short. A successful load sends REFMSG_CHANGE.
  static constexpr USHORT kHeaderChunk = 0x0001;
  static constexpr USHORT kParamChunk = 0x0010;
  IOResult Save(ISave* isave) override;
  IOResult Load(ILoad* iload) override;

  // --- reference system ---
  SClass_ID SuperClassID() override { return PARAMETER_BLOCK2_CLASS_ID; }
  void GetClassName(std::string& s) override { s = "ParamBlock2"; }
  // A block of the same descriptor with the same values and keys (node
  // parameters point at the same nodes).
  ReferenceTarget* Clone(RemapDir& remap) override;
  RefResult NotifyRefChanged(Interval, RefTargetHandle, PartID&, RefMessage) override { return REF_DONTCARE; }

 private:
  struct Slot {
    ParamValue value;  // the constant value
    std::vector<TimeValue> keyTimes;  // ascending
    std::vector<ParamValue> keyValues;
  };

  // The slot and definition of `id` when it exists and its type is one of
  // the types the caller's value kind may address.
  Slot* Find(ParamID id, int tabIndex, const ParamDef*& def);
  ParamValue Evaluate(const ParamDef& def, const Slot& slot, TimeValue t, Interval& valid) const;
  BOOL Store(ParamID id, TimeValue t, int tabIndex, bool (*accepts)(const ParamDef&), const ParamValue& v);
  template <typename T>
  BOOL StoreKeys(ParamID id, std::span<const ParamKey<T>> keys, bool (*accepts)(const ParamDef&),
                 void (*put)(ParamValue&, const T&));

  // Persistence of one parameter (paramblock_io.cpp).
  IOResult SaveParam(ISave* isave, const ParamDef& def, const Slot& slot);
  IOResult LoadParam(ILoad* iload, std::vector<Slot>& staged);

  ParamBlockDesc2* desc_;
  std::vector<Slot> slots_;  // in the descriptor's index order
};
