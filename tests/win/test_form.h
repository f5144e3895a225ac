// A visible pop-up form of a given size for the tests of the toolkit and
// the slideshow's components.
#pragma once

#include "toolkit/Forms.h"

namespace orvtest {

class TestForm : public tk::TForm {
 public:
  explicit TestForm(int width = 300, int height = 200) : width_(width), height_(height) {}

 protected:
  const char* ClassName() const override { return "OrvTestForm"; }
  void CreateParams(tk::TCreateParams& p) override {
    tk::TForm::CreateParams(p);
    p.Style = WS_POPUP | WS_VISIBLE;
    p.Width = width_;
    p.Height = height_;
  }

 private:
  int width_, height_;
};

}  // namespace orvtest
