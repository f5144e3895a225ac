// The rules of the dialog's number edit, without a window: which typed
// characters it takes, how a value is limited, formatted and read back
// from text. TNumberFilterEdit keeps a NumberEditModel in step with its
// window text.
#pragma once

#include <cstdint>
#include <string>

namespace orv {

// The typed character (its whole code, a UTF-16 unit or a code-page byte)
// reaches the edit (Enter never does, so the multi-line edit gets no line
// break). Only ASCII digits, signs, the period and control keys pass:
// full-width digits and signs do not.
bool NumberKeyAccepted(uint32_t c);

// Upper limit first, then the lower one, which therefore wins when the
// limits cross; a value that is not a number gives the lower limit.
float LimitValue(float v, float minValue, float maxValue);

// The whole text as a number (optional blanks, sign, digits with one
// decimal point, exponent). False for anything else, the empty text and a
// lone sign included.
bool ValueFromText(const std::string& text, double& value);

// The value in a float format pattern: sections for positive, negative and
// zero values separated by ";"; "0" a digit always shown, "#" one shown
// when significant, "." the decimal point; other characters are copied.
// Rounds half away from zero; no grouping.
std::string FormatFloat(const std::string& pattern, double value);

class NumberEditModel {
 public:
  NumberEditModel();

  float FloatValue() const { return value_; }
  const std::string& Text() const { return text_; }
  const std::string& NumberFilter() const { return filter_; }
  float MinFloatValue() const { return min_; }
  float MaxFloatValue() const { return max_; }

  // Limits, stores, and shows the value formatted; the text assignment
  // then reads the formatted text back.
  void SetFloatValue(float v);
  void SetNumberFilter(const std::string& f);
  void SetMinFloatValue(float v);
  void SetMaxFloatValue(float v);

  // A text set by program (WM_SETTEXT, for example an up-down writing its
  // position): "0" stays as it is; any other text is read and replaced by
  // the formatted value.
  void AssignText(const std::string& text);
  // The user edited the text: the value follows when the text is a
  // number; the text stays as typed.
  void Change(const std::string& text);
  // The focus leaves: value from the text, then the text formatted.
  void DoExit();

 private:
  void UpdateValueFromText();

  float value_ = 0;
  std::string filter_;
  float min_ = -1000;
  float max_ = 1000;
  std::string text_;
};

}  // namespace orv
