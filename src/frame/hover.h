// The hover cursor rule: one pointer setting per window, changed as the
// mouse moves over the window's surfaces. Push buttons show the hand, the
// listed surfaces the default pointer, anything else leaves the setting as
// it was, and nothing ever replaces the hourglass of running work.
#pragma once

#include <string_view>

#include "ui/surfaces.h"

namespace corvane::frame {

enum class HoverSurface {
  kPushButton,  // sets the hand cursor
  kPlain,       // sets the default pointer
  kNone,        // has no pointer handling: the setting stays
};

// What the control named `control` of window `window` ("Form1" or "Form2")
// is for the hover rule. The window's own name means its background.
HoverSurface HoverSurfaceOf(std::string_view window, std::string_view control);

// The window's new pointer setting when the mouse moves over `surface`.
ui::PointerShape HoverPointer(ui::PointerShape current, HoverSurface surface);

}  // namespace corvane::frame
