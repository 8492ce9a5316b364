#include "frame/hover.h"

#include <array>

namespace corvane::frame {
namespace {

bool IsPushButton(std::string_view control) {
  return control.substr(0, 10) == "PushButton" && control.size() > 10;
}

template <size_t N>
bool OneOf(std::string_view control, const std::array<std::string_view, N>& names) {
  for (std::string_view n : names) {
    if (n == control) return true;
  }
  return false;
}

}  // namespace

HoverSurface HoverSurfaceOf(std::string_view window, std::string_view control) {
  static constexpr std::array<std::string_view, 9> kLoginPlain = {
      "Form1", "Text1", "Text2", "Text3", "Text4", "Text5", "Text6", "Frame1", "Frame2"};
  // List1 and the progress bar have no pointer handling of their own.
  static constexpr std::array<std::string_view, 4> kTablesPlain = {"Form2", "List2", "Frame1",
                                                                   "Frame2"};
  if (window != "Form1" && window != "Form2") return HoverSurface::kNone;
  if (IsPushButton(control)) return HoverSurface::kPushButton;
  bool plain = window == "Form1" ? OneOf(control, kLoginPlain) : OneOf(control, kTablesPlain);
  return plain ? HoverSurface::kPlain : HoverSurface::kNone;
}

ui::PointerShape HoverPointer(ui::PointerShape current, HoverSurface surface) {
  if (current == ui::PointerShape::kHourglass) return current;
  switch (surface) {
    case HoverSurface::kPushButton:
      return ui::PointerShape::kCustom;
    case HoverSurface::kPlain:
      return ui::PointerShape::kDefault;
    case HoverSurface::kNone:
      break;
  }
  return current;
}

}  // namespace corvane::frame
