// The host's custom controls as a dialog holds them: edit fields
// ("CustEdit"), spinners ("SpinnerControl"), sliders ("SliderControl"),
// colour swatches ("ColorSwatch") and buttons ("CustButton"), with the
// interfaces through which code sets them up and reads them.
//
// GetISpinner, GetISlider, GetICustEdit, GetIColorSwatch and GetICustButton
// give the interface of a control window of that class (null for a null
// window or one of another class). The interface belongs to its window and
// lives as long as the window does; the Release functions are accepted for
// symmetry with code written for hosts whose interfaces are counted, and do
// nothing here, so an interface that is never released leaks nothing.
//
// The second half of this header is the input side: what the window system
// does when the user acts on a control (types into an edit field, clicks a
// spinner arrow, drags or resets a slider, picks a colour, clicks a
// button). Each changes the control and notifies its dialog, which is how
// the parameter maps learn of edits. Input to a disabled control is
// refused (false) and changes nothing.
#pragma once

#include <string>

#include "color.h"
#include "custcont.h"
#include "host/platform/winuser.h"

// Edit types of numeric controls (the host's EDITTYPE_* values).
enum class NumericKind { Int = 0, Float = 1, Universe = 2 };

// What spinners and sliders share: a value within limits, its edit field,
// and a reset value that the reset action restores.
class INumericControl {
 public:
  virtual ~INumericControl() = default;
  // Limits; the value is clamped into them. `limitCurrent` clamps the
  // present value at once.
  virtual void SetLimits(float low, float high, BOOL limitCurrent = TRUE) = 0;
  float GetLow() const { return low_; }
  float GetHigh() const { return high_; }
  virtual void SetValue(float v, BOOL notify) = 0;
  void SetValue(int v, BOOL notify) { SetValue(static_cast<float>(v), notify); }
  float GetFVal() const { return value_; }
  // The value rounded to the nearest integer (halves away from zero).
  int GetIVal() const;
  void SetEditKind(NumericKind kind) { kind_ = kind; }
  NumericKind GetEditKind() const { return kind_; }
  // The edit field that shows the value (its text is kept in step).
  void LinkToEdit(HWND edit, NumericKind kind);
  HWND GetLinkedEdit() const { return edit_; }
  void SetResetValue(float v) { resetValue_ = v; }
  float GetResetValue() const { return resetValue_; }
  // The value's text as the edit field shows it: integers plain, floats
  // with three decimals.
  std::string FormatValue() const;

 protected:
  explicit INumericControl(HWND self) : self_(self) {}
  void Store(float v, BOOL notify, int code);

  HWND self_;
  HWND edit_ = nullptr;
  NumericKind kind_ = NumericKind::Float;
  float low_ = 0.0f;
  float high_ = 100.0f;
  float value_ = 0.0f;
  float resetValue_ = 0.0f;
};

class ISpinnerControl : public INumericControl {
 public:
  explicit ISpinnerControl(HWND self) : INumericControl(self) {}
  void SetLimits(float low, float high, BOOL limitCurrent = TRUE) override;
  void SetValue(float v, BOOL notify) override;
  using INumericControl::SetValue;
  // Value change per arrow click; SPIN_AUTOSCALE (-1) lets the spinner
  // choose it from the value (see GetStep).
  void SetScale(float s) { scale_ = s; }
  float GetScale() const { return scale_; }
  void SetAutoScale(BOOL on) { scale_ = on ? -1.0f : 1.0f; }
  // The step of one click at the present value: the scale, or for
  // SPIN_AUTOSCALE a tenth of the power of ten at or below the value's
  // magnitude (10000 steps by 1000, 2.5 by 0.1), at least 1 for integers
  // and 0.01 for floats.
  float GetStep() const;

 private:
  float scale_ = 1.0f;
};

class ISliderControl : public INumericControl {
 public:
  explicit ISliderControl(HWND self) : INumericControl(self) {}
  void SetLimits(float low, float high, BOOL limitCurrent = TRUE) override;
  void SetValue(float v, BOOL notify) override;
  using INumericControl::SetValue;
  // Tick segments drawn along the slider.
  void SetNumSegs(int n) { segments_ = n; }
  int GetNumSegs() const { return segments_; }

 private:
  int segments_ = 0;
};

class ICustEdit {
 public:
  explicit ICustEdit(HWND self) : self_(self) {}
  void SetText(const std::string& text);
  std::string GetText() const;

 private:
  HWND self_;
};

class IColorSwatch {
 public:
  explicit IColorSwatch(HWND self) : self_(self) {}
  void SetColor(Color c, BOOL notify = FALSE);
  Color GetColor() const { return color_; }

 private:
  HWND self_;
  Color color_;
};

// A push button; pick buttons are check-type buttons that stay pressed
// while the host is in their pick mode.
class ICustButton {
 public:
  explicit ICustButton(HWND self) : self_(self) {}
  void SetText(const std::string& text);
  std::string GetText() const;
  void SetCheck(BOOL on) { checked_ = on != FALSE; }
  BOOL IsChecked() const { return checked_ ? TRUE : FALSE; }

 private:
  HWND self_;
  bool checked_ = false;
};

ISpinnerControl* GetISpinner(HWND hwnd);
ISliderControl* GetISlider(HWND hwnd);
ICustEdit* GetICustEdit(HWND hwnd);
IColorSwatch* GetIColorSwatch(HWND hwnd);
ICustButton* GetICustButton(HWND hwnd);
inline void ReleaseISpinner(ISpinnerControl*) {}
inline void ReleaseISlider(ISliderControl*) {}
inline void ReleaseICustEdit(ICustEdit*) {}
inline void ReleaseIColorSwatch(IColorSwatch*) {}
inline void ReleaseICustButton(ICustButton*) {}

// Gives a control window of a custom class its state; called when the
// window is created. False for a class that is not a custom control class.
bool AttachCustomControl(HWND hwnd);

// --- input: the user acting on a control --------------------------------------

// Text typed into an edit field and entered.
bool UserEnterText(HWND edit, const std::string& text);
// `clicks` arrow clicks on a spinner (negative: down).
bool UserSpin(HWND spinner, int clicks);
// A slider dragged to `value` (clamped to its limits).
bool UserSetSlider(HWND slider, float value);
// The reset action of a spinner or slider (a right click): its reset value.
bool UserReset(HWND control);
// A colour chosen in a swatch's colour picker.
bool UserSetColor(HWND swatch, Color c);
// A click on a button: check boxes toggle, radio buttons select themselves
// and clear the others of their group, push and pick buttons just report.
bool UserClick(HWND button);
