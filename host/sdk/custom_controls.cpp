#include "custom_controls.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "host/platform/resource_constants.h"

namespace {

// The window state of each custom control class.
template <class Interface>
class ControlExtra : public WindowExtra {
 public:
  explicit ControlExtra(HWND self) : control(self) {}
  Interface control;
};

template <class Interface>
Interface* Get(HWND hwnd, const char* className) {
  if (!hwnd || hwnd->className != className) return nullptr;
  if (!hwnd->extra) hwnd->extra = std::make_unique<ControlExtra<Interface>>(hwnd);
  auto* extra = dynamic_cast<ControlExtra<Interface>*>(hwnd->extra.get());
  return extra ? &extra->control : nullptr;
}

// Text of a number as an edit field reads it: the whole text must be a
// number (blanks around it allowed).
bool ParseNumber(const std::string& text, float& out) {
  std::size_t a = text.find_first_not_of(" \t");
  std::size_t b = text.find_last_not_of(" \t");
  if (a == std::string::npos) return false;
  const std::string s = text.substr(a, b - a + 1);
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(v)) return false;
  out = static_cast<float>(std::clamp(v, -3.4e38, 3.4e38));
  return true;
}

// The spinner or slider whose linked edit field is `edit`.
INumericControl* NumericOfEdit(HWND edit) {
  if (!edit || !edit->parent) return nullptr;
  for (const auto& sibling : edit->parent->children) {
    INumericControl* n = GetISpinner(sibling.get());
    if (!n) n = GetISlider(sibling.get());
    if (n && n->GetLinkedEdit() == edit) return n;
  }
  return nullptr;
}

}  // namespace

// --- numeric controls ------------------------------------------------------------

int INumericControl::GetIVal() const { return static_cast<int>(std::lround(value_)); }

void INumericControl::LinkToEdit(HWND edit, NumericKind kind) {
  edit_ = edit;
  kind_ = kind;
  if (ICustEdit* e = GetICustEdit(edit_)) e->SetText(FormatValue());
}

std::string INumericControl::FormatValue() const {
  char text[64];
  if (kind_ == NumericKind::Int) {
    std::snprintf(text, sizeof text, "%d", GetIVal());
  } else {
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(value_));
    if (std::string(text) == "-0.000") return "0.000";
  }
  return text;
}

void INumericControl::Store(float v, BOOL notify, int code) {
  value_ = std::clamp(v, low_, high_);
  if (ICustEdit* e = GetICustEdit(edit_)) e->SetText(FormatValue());
  if (notify) NotifyParent(self_, code);
}

void ISpinnerControl::SetLimits(float low, float high, BOOL limitCurrent) {
  low_ = std::min(low, high);
  high_ = std::max(low, high);
  if (limitCurrent) Store(value_, FALSE, CC_SPINNER_CHANGE);
}

void ISpinnerControl::SetValue(float v, BOOL notify) { Store(v, notify, CC_SPINNER_CHANGE); }

float ISpinnerControl::GetStep() const {
  if (scale_ >= 0.0f) return scale_;
  const float floor = kind_ == NumericKind::Int ? 1.0f : 0.01f;
  const float magnitude = std::fabs(value_);
  if (magnitude <= 0.0f) return floor;
  const float step = std::pow(10.0f, std::floor(std::log10(magnitude)) - 1.0f);
  return std::max(step, floor);
}

void ISliderControl::SetLimits(float low, float high, BOOL limitCurrent) {
  low_ = std::min(low, high);
  high_ = std::max(low, high);
  if (limitCurrent) Store(value_, FALSE, CC_SLIDER_CHANGE);
}

void ISliderControl::SetValue(float v, BOOL notify) { Store(v, notify, CC_SLIDER_CHANGE); }

// --- the other controls -----------------------------------------------------------

void ICustEdit::SetText(const std::string& text) { self_->text = text; }

std::string ICustEdit::GetText() const { return self_->text; }

void IColorSwatch::SetColor(Color c, BOOL notify) {
  color_ = c;
  if (notify) NotifyParent(self_, CC_COLOR_CHANGE);
}

void ICustButton::SetText(const std::string& text) { self_->text = text; }

std::string ICustButton::GetText() const { return self_->text; }

ISpinnerControl* GetISpinner(HWND hwnd) { return Get<ISpinnerControl>(hwnd, "SpinnerControl"); }
ISliderControl* GetISlider(HWND hwnd) { return Get<ISliderControl>(hwnd, "SliderControl"); }
ICustEdit* GetICustEdit(HWND hwnd) { return Get<ICustEdit>(hwnd, "CustEdit"); }
IColorSwatch* GetIColorSwatch(HWND hwnd) { return Get<IColorSwatch>(hwnd, "ColorSwatch"); }
ICustButton* GetICustButton(HWND hwnd) { return Get<ICustButton>(hwnd, "CustButton"); }

bool AttachCustomControl(HWND hwnd) {
  if (!hwnd) return false;
  return GetISpinner(hwnd) || GetISlider(hwnd) || GetICustEdit(hwnd) || GetIColorSwatch(hwnd) ||
         GetICustButton(hwnd) || hwnd->className == "CustStatus" || hwnd->className == "CustImage";
}

// --- input -------------------------------------------------------------------------

bool UserEnterText(HWND edit, const std::string& text) {
  ICustEdit* e = GetICustEdit(edit);
  if (!e || !edit->enabled) return false;
  INumericControl* n = NumericOfEdit(edit);
  if (!n) {
    e->SetText(text);
    NotifyParent(edit, EN_CHANGE);
    return true;
  }
  float v = 0.0f;
  if (!ParseNumber(text, v)) {
    e->SetText(n->FormatValue());  // the field shows the value it had
    return false;
  }
  // The field's text is the number typed: an integer field takes it rounded.
  if (n->GetEditKind() == NumericKind::Int) v = std::round(v);
  n->SetValue(v, TRUE);
  return true;
}

bool UserSpin(HWND spinner, int clicks) {
  ISpinnerControl* s = GetISpinner(spinner);
  if (!s || !spinner->enabled) return false;
  s->SetValue(s->GetFVal() + static_cast<float>(clicks) * s->GetStep(), TRUE);
  return true;
}

bool UserSetSlider(HWND slider, float value) {
  ISliderControl* s = GetISlider(slider);
  if (!s || !slider->enabled || !std::isfinite(value)) return false;
  s->SetValue(value, TRUE);
  return true;
}

bool UserReset(HWND control) {
  if (!control || !control->enabled) return false;
  if (ISliderControl* s = GetISlider(control)) {
    s->SetValue(s->GetResetValue(), TRUE);
    return true;
  }
  if (ISpinnerControl* s = GetISpinner(control)) {
    s->SetValue(s->GetResetValue(), TRUE);
    return true;
  }
  return false;
}

bool UserSetColor(HWND swatch, Color c) {
  IColorSwatch* s = GetIColorSwatch(swatch);
  if (!s || !swatch->enabled) return false;
  s->SetColor(c, TRUE);
  return true;
}

bool UserClick(HWND button) {
  if (!button || !button->enabled) return false;
  if (GetICustButton(button)) {
    NotifyParent(button, BN_CLICKED);
    return true;
  }
  if (button->className != "BUTTON") return false;
  if (IsCheckBox(button)) {
    button->checked = button->checked == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
  } else if (IsRadioButton(button)) {
    // The group runs from the button with WS_GROUP at or before this one to
    // the next button that starts a group.
    auto& kids = button->parent->children;
    std::size_t self = 0;
    while (kids[self].get() != button) ++self;
    std::size_t first = self;
    while (first > 0 && !(kids[first]->style & WS_GROUP)) --first;
    for (std::size_t k = first; k < kids.size(); ++k) {
      if (k > first && (kids[k]->style & WS_GROUP)) break;
      if (IsRadioButton(kids[k].get())) kids[k]->checked = BST_UNCHECKED;
    }
    button->checked = BST_CHECKED;
  } else if ((button->style & BS_TYPEMASK) == BS_GROUPBOX) {
    return false;
  }
  NotifyParent(button, BN_CLICKED);
  return true;
}
