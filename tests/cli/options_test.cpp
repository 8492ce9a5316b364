// corvane-cli's command line: every spelling of every option, the parser's
// refusals, and the help, man page and completion made from one table.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "cli/cli_child.h"
#include "cli/option_table.h"
#include "support/pg_env.h"
#include "support/scoped_env.h"
#include "support/temp_folder.h"

namespace corvane::cli {
namespace {

struct Keys {
  std::set<std::string> valued, flags;
};

Keys AllKeys() {
  Keys k;
  for (const OptionSpec& o : OptionTable())
    if (o.commands != 0) (o.argument ? k.valued : k.flags).insert(o.key);
  return k;
}

Result<Options> Parse(std::vector<std::string> args, const Keys& keys = AllKeys()) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  return ParseOptions(static_cast<int>(argv.size()), argv.data(), keys.valued, keys.flags);
}

// key=value and flag words, then the operands, or the error.
std::string Shown(const Result<Options>& r) {
  if (!r.ok()) return "error: " + r.status().message();
  std::string out;
  for (const auto& [k, v] : r->values) out += k + "=" + v + " ";
  for (const std::string& f : r->flags) out += f + " ";
  for (const std::string& p : r->positional) out += "[" + p + "] ";
  return out;
}

TEST(Options, EverySpellingOfEveryOptionMeansIt) {
  for (const OptionSpec& o : OptionTable()) {
    if (o.commands == 0) continue;
    std::vector<std::vector<std::string>> forms;
    std::istringstream longs(o.long_names);
    for (std::string l; longs >> l;) {
      forms.push_back(o.argument ? std::vector<std::string>{"--" + l, "v 1"}
                                 : std::vector<std::string>{"--" + l});
      if (o.argument) forms.push_back({"--" + l + "=v 1"});
    }
    if (o.short_name) {
      const std::string s = std::string("-") + o.short_name;
      forms.push_back(o.argument ? std::vector<std::string>{s, "v 1"}
                                 : std::vector<std::string>{s});
      if (o.argument) forms.push_back({s + "v 1"});
    }
    for (const auto& form : forms) {
      const std::string expected =
          o.argument ? std::string(o.key) + "=v 1 " : std::string(o.key) + " ";
      EXPECT_EQ(Shown(Parse(form)), expected) << ::testing::PrintToString(form);
    }
  }
}

TEST(Options, CommandLinesAndTheirRefusals) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"T1", "-j", "2", "T2", "-qv"}, "jobs=2 quiet verbose [T1] [T2] "},
      {{"-U", "a", "--user", "b", "--username=c"}, "user=c "},
      {{"--", "-x", "--all"}, "[-x] [--all] "},
      {{"-d", "postgresql://u@h/db"}, "database=postgresql://u@h/db "},
      {{"--jobs"}, "error: --jobs needs a value"},
      {{"-j"}, "error: -j needs a value"},
      {{"--quiet=yes"}, "error: --quiet takes no value"},
      {{"--no-such"}, "error: unknown option --no-such"},
      {{"-Z"}, "error: unknown option -Z"},
      {{"-d", "host='open"},
       "error: --dbname: unterminated quoted string in connection info string"},
      {{"-d", "postgresql://h/db?nonsense=1"},
       "error: --dbname: invalid URI query parameter: \"nonsense\""},
  };
  for (const auto& [args, expected] : cases)
    EXPECT_EQ(Shown(Parse(args)), expected) << ::testing::PrintToString(args);
  Keys tables{LoginOptionNames(), {"postgres"}};
  EXPECT_FALSE(Parse({"--paradox", "f"}, tables)->reaches_postgres);
  EXPECT_TRUE(Parse({"--postgres"}, tables)->reaches_postgres);
  EXPECT_TRUE(Parse({}, Keys{LoginOptionNames(), {"all"}})->reaches_postgres);
  EXPECT_EQ(Parse({}, Keys{{"undescribed"}, {}}).status().code(), Status::Code::kInternal);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every option word --help or a COMMAND --help shows is in the man page and
// in the completion, and the completion offers it in bash.
TEST(Options, ManPageAndCompletionListEveryOptionHelpLists) {
  std::string help = testing::RunCliDetached({"--help"}).output;
  for (const CommandSpec& c : CommandTable())
    help += testing::RunCliDetached({"help", c.name}).output;
  std::set<std::string> words;
  const std::regex option(R"((^|[\s,])(--?[A-Za-z?][A-Za-z-]*))");
  for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it)
    words.insert((*it)[2]);
  ASSERT_GT(words.size(), 30u) << help;
  std::string man = ReadFile(CORVANE_PACKAGING_DIR "/corvane-cli.1");
  for (size_t at; (at = man.find("\\-")) != std::string::npos;) man.replace(at, 2, "-");
  const std::string completion = ReadFile(CORVANE_PACKAGING_DIR "/corvane-cli.bash-completion");
  for (const std::string& w : words) {
    EXPECT_TRUE(std::regex_search(
        man, std::regex("(^|[^-\\w])" + std::regex_replace(w, std::regex(R"([?])"), R"(\?)") +
                        "($|[^-\\w])")))
        << w << " is not in the man page";
    EXPECT_NE(completion.find(" " + w), std::string::npos) << w << " is not in the completion";
  }
  EXPECT_EQ(man.find('@'), man.find("@vantorel")) << "a template marker was left";
  // bash-completion's own helpers where installed, else the little of them
  // the function needs.
  const char* kHelpers = "/usr/share/bash-completion/bash_completion";
  const std::string helpers =
      std::filesystem::exists(kHelpers)
          ? ". " + std::string(kHelpers) + "\n"
          : "_init_completion() { words=(\"${COMP_WORDS[@]}\"); cword=$COMP_CWORD;\n"
            "  cur=${words[cword]}; prev=${words[cword-1]}; split=false; }\n";
  testing::TempFolder folder("corvane-completion");
  const std::string script = (folder.path() / "try.sh").string();
  std::ofstream(script) << helpers
                        << ". '" CORVANE_PACKAGING_DIR
                           "/corvane-cli.bash-completion'\n"
                           "COMP_LINE='corvane-cli to-paradox --code'\n"
                           "COMP_WORDS=(corvane-cli to-paradox --code)\n"
                           "COMP_CWORD=2 COMP_POINT=${#COMP_LINE}\n"
                           "_corvane_cli\n"
                           "echo \"${COMPREPLY[*]}\"\n";
  FILE* p = ::popen(("bash " + script + " 2>&1").c_str(), "r");
  ASSERT_NE(p, nullptr);
  char buf[256] = {};
  const size_t n = std::fread(buf, 1, sizeof buf - 1, p);
  ::pclose(p);
  EXPECT_EQ(std::string(buf, n), "--code-page\n");
}

// The exit status each command's help and man page give for a table name
// that means no table is the one it returns.
TEST(Options, UnknownTableExitStatusIsAsDocumented) {
  CORVANE_REQUIRE_POSTGRES(pg);
  testing::TempFolder folder("corvane-unknown-table");
  testing::ScopedEnv env;
  env.Set("XDG_CONFIG_HOME", (folder.path() / "config").string());
  env.Set("XDG_CACHE_HOME", (folder.path() / "cache").string());
  const std::vector<std::string> login = {
      "-h",    pg.server, "-p",        pg.port,     "-U",
      pg.user, "-d",      pg.database, "--paradox", folder.path().string()};
  for (const CommandSpec& c : CommandTable()) {
    if (c.unknown_table_status == 0) continue;
    std::vector<std::string> args = {c.name};
    args.insert(args.end(), login.begin(), login.end());
    if (!(c.bit & kCopies)) args.push_back("--postgres");
    args.push_back("no_such_table_xq");
    if (c.bit & kRename) args.push_back("no_such_either");
    const testing::ChildRun run = testing::RunCliDetached(args, {"PGPASSWORD=" + pg.password});
    EXPECT_EQ(run.status, c.unknown_table_status) << c.name << "\n" << run.output;
  }
}

}  // namespace
}  // namespace corvane::cli

namespace corvane::cli {
namespace {

// corvane answers --help and --version before Qt starts: with no display
// and a platform that would need one, it still answers.
TEST(Options, WindowProgramAnswersWithoutADisplay) {
  const std::string gui = std::filesystem::path(testing::CliPath()).parent_path() / "corvane";
  if (!std::filesystem::exists(gui)) GTEST_SKIP() << "the window program is not built";
  for (const char* word : {"--help", "--version", "-V"}) {
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb " + gui +
                                " " + word + " 2>&1 </dev/null";
    FILE* p = ::popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[512];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    const int status = ::pclose(p);
    EXPECT_EQ(status, 0) << word << "\n" << out;
    EXPECT_EQ(out.rfind(std::string(word) == "--help" ? "Usage: corvane" : "corvane ", 0), 0u)
        << out;
  }
}

}  // namespace
}  // namespace corvane::cli
