#include "windows/flow.h"

namespace corvane::windows {

Windows::Windows(const WindowServices& services) : form1_(services), form2_(services, form1_) {
  form1_.SetTablesWindow(&form2_);
}

void Windows::Start() {
  if (!form1_.Form_Load()) form1_.show();
}

}  // namespace corvane::windows
