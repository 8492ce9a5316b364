// A tables window made of in-memory surfaces, for driving the handlers.
#pragma once

#include <string>
#include <vector>

#include "ui/memory_surfaces.h"
#include "ui/windows.h"

namespace corvane::testing {

// Records, with every dialog, the pointer shape it was shown under.
class PointerAwareDialogs : public ui::ScriptedDialogs {
 public:
  explicit PointerAwareDialogs(const ui::Pointer& pointer) : pointer_(pointer) {}
  void Message(const std::string& text, std::optional<std::string> title,
               ui::MessageIcon icon) override {
    pointers.push_back(pointer_.Get());
    ScriptedDialogs::Message(text, title, icon);
  }
  std::vector<ui::PointerShape> pointers;  // one per message, in order

 private:
  const ui::Pointer& pointer_;
};

struct FakeTablesWindow {
  ui::MemoryTableList postgres, paradox;
  ui::MemoryProgressBar progress;
  ui::MemoryPointer pointer;
  PointerAwareDialogs dialogs{pointer};
  ui::CountingPump pump;
  ui::FixedSettings settings;
  ui::TablesWindow window{postgres, paradox, progress, dialogs, pointer, pump, settings, ""};

  static void Fill(ui::MemoryTableList& list, const std::vector<std::string>& names) {
    for (const auto& n : names) list.Add(n);
  }
  // The texts of the plain messages (not failure dialogs), in order.
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const auto& s : dialogs.shown) {
      if (s.kind == "message" && s.title.empty()) out.push_back(s.text);
    }
    return out;
  }
};

}  // namespace corvane::testing
