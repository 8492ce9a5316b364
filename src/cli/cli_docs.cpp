// Writes corvane-cli's man page and bash completion from its option table
// at build time:
//   corvane-cli-docs man TEMPLATE VERSION OUT
//   corvane-cli-docs completion OUT
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "cli/option_table.h"

namespace {

bool Write(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.close();
  if (out) return true;
  std::cerr << "corvane-cli-docs: cannot write " << path << "\n";
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "man" && argc == 5) {
    std::ifstream in(argv[2], std::ios::binary);
    std::stringstream page;
    page << in.rdbuf();
    if (!in) {
      std::cerr << "corvane-cli-docs: cannot read " << argv[2] << "\n";
      return 1;
    }
    return Write(argv[4], corvane::cli::ManPage(page.str(), argv[3])) ? 0 : 1;
  }
  if (what == "completion" && argc == 3) {
    return Write(argv[2], corvane::cli::BashCompletion()) ? 0 : 1;
  }
  std::cerr << "usage: corvane-cli-docs man TEMPLATE VERSION OUT | completion OUT\n";
  return 2;
}
