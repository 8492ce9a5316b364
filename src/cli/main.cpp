// corvane-cli: the window's operations without a window.
#include <cstring>
#include <iostream>
#include <string>

namespace {

constexpr const char* kUsage =
    "Usage: corvane-cli <command> [options]\n"
    "\n"
    "Copies tables between a folder of Paradox tables and PostgreSQL.\n"
    "\n"
    "Options:\n"
    "  --help      show this text\n"
    "  --version   show the version\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::cout << kUsage;
    return argc < 2 ? 2 : 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::cout << "corvane-cli " << CORVANE_VERSION << "\n";
    return 0;
  }
  std::cerr << "corvane-cli: unknown command '" << argv[1] << "' (see --help)\n";
  return 2;
}
