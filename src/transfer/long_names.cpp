#include "transfer/long_names.h"

namespace corvane::transfer {

std::string TrimQuestionText(const std::string& name) {
  return UpperCase(name) + " is more than 8 characters. It will be trimmed into " +
         UpperCase(FirstUtf16Units(name, kParadoxNameUnits)) + ". Continue?";
}

}  // namespace corvane::transfer
