// The two windows of the program, each created once and kept until the end.
#pragma once

#include "windows/form1.h"
#include "windows/form2.h"
#include "windows/services.h"

namespace corvane::windows {

class Windows {
 public:
  explicit Windows(const WindowServices& services);
  Windows(const Windows&) = delete;
  Windows& operator=(const Windows&) = delete;

  // Runs the login window's load step and shows the login window, unless the
  // quick path already showed the tables window.
  void Start();
  Form1& form1() { return form1_; }
  Form2& form2() { return form2_; }

 private:
  Form1 form1_;
  Form2 form2_;
};

}  // namespace corvane::windows
