#include "cli/options.h"

#include <getopt.h>

#include <algorithm>
#include <sstream>

#include "app/settings_store.h"
#include "cli/libpq_login.h"
#include "cli/option_table.h"
#include "connection/pg_login.h"

namespace corvane::cli {
namespace {

struct Spelling {
  const OptionSpec* spec;
  std::string long_name;
};

// getopt_long's view of the wanted keys: the short string and the long
// options, each long option's index standing for its spec.
struct GetoptTables {
  std::string shorts = ":";  // ':' first: a missing value is told apart
  std::vector<Spelling> spellings;
  std::vector<option> longs;
};

Result<GetoptTables> TablesFor(const std::set<std::string>& valued,
                               const std::set<std::string>& flag_names) {
  GetoptTables t;
  std::set<std::string> flags = flag_names;
  // Whoever takes a login may be asked for a password, or forbid it.
  if (valued.count("server")) flags.insert({"no-password", "prompt-password"});
  for (const std::set<std::string>* keys :
       {&valued, static_cast<const std::set<std::string>*>(&flags)}) {
    for (const std::string& key : *keys) {
      const OptionSpec* spec = FindOption(key);
      if (spec == nullptr || (spec->argument != nullptr) != (keys == &valued))
        return Status::Internal("option --" + key + " is not described in the option table");
      if (spec->short_name)
        t.shorts += std::string(1, spec->short_name) + (spec->argument ? ":" : "");
      std::istringstream names(spec->long_names);
      for (std::string n; names >> n;) t.spellings.push_back({spec, n});
    }
  }
  for (size_t i = 0; i < t.spellings.size(); ++i) {
    t.longs.push_back({t.spellings[i].long_name.c_str(),
                       t.spellings[i].spec->argument ? required_argument : no_argument, nullptr,
                       static_cast<int>(1000 + i)});
  }
  t.longs.push_back({nullptr, 0, nullptr, 0});
  return t;
}

const OptionSpec* ByShortName(const GetoptTables& t, int c) {
  for (const Spelling& s : t.spellings)
    if (s.spec->short_name == c) return s.spec;
  return nullptr;
}

// The option getopt stopped at, for a message: "--name" or "-x".
std::string Named(const GetoptTables& t, const std::string& word, int opt) {
  if (opt >= 1000) return "--" + t.spellings[static_cast<size_t>(opt - 1000)].long_name;
  if (opt > 0) return "-" + std::string(1, static_cast<char>(opt));
  return word.substr(0, word.find('='));
}

void Keep(Options& out, const OptionSpec& spec, const char* value) {
  if (spec.argument)
    out.values[spec.key] = value;
  else
    out.flags.insert(spec.key);
}

}  // namespace

std::optional<std::string> Options::Get(const std::string& name) const {
  auto it = values.find(name);
  if (it == values.end()) return std::nullopt;
  return it->second;
}

Result<Options> ParseOptions(int argc, char** argv, const std::set<std::string>& valued,
                             const std::set<std::string>& flag_names) {
  Result<GetoptTables> tables = TablesFor(valued, flag_names);
  if (!tables.ok()) return tables.status();
  GetoptTables& t = tables.value();
  // getopt wants the program's name first and may reorder what follows.
  std::vector<char*> args = {const_cast<char*>("corvane-cli")};
  args.insert(args.end(), argv, argv + argc);
  args.push_back(nullptr);
  const int count = argc + 1;
  Options out;
  ::optind = 0;  // start afresh: a test parses many command lines
  ::opterr = 0;
  for (;;) {
    ::optopt = 0;
    const int c = getopt_long(count, args.data(), t.shorts.c_str(), t.longs.data(), nullptr);
    if (c == -1) break;
    const std::string word = args[static_cast<size_t>(std::max(::optind - 1, 0))];
    if (c >= 1000) {
      Keep(out, *t.spellings[static_cast<size_t>(c - 1000)].spec, ::optarg);
    } else if (c == ':') {
      return Status::InvalidArgument(Named(t, word, ::optopt) + " needs a value");
    } else if (c == '?' && ::optopt >= 1000) {
      return Status::InvalidArgument(Named(t, word, ::optopt) + " takes no value");
    } else if (c == '?' && (::optopt != 0 || word.rfind("--", 0) == 0 || !ByShortName(t, '?'))) {
      return Status::InvalidArgument("unknown option " + Named(t, word, ::optopt));
    } else if (const OptionSpec* spec = ByShortName(t, c)) {
      Keep(out, *spec, ::optarg);  // -? arrives here too
    }
  }
  for (int i = ::optind; i < count; ++i) out.positional.push_back(args[static_cast<size_t>(i)]);
  if (auto db = out.Get("database"); db && IsConnectionString(*db)) {
    auto parsed = ParseLibpqConnectionString(*db);
    if (!parsed.ok()) return Status::InvalidArgument("--dbname: " + parsed.status().message());
  }
  out.reaches_postgres =
      valued.count("server") && (!flag_names.count("postgres") || out.Has("postgres"));
  return out;
}

const std::set<std::string>& LoginOptionNames() {
  static const std::set<std::string> kNames = {"server",   "port",     "user",
                                               "password", "database", "paradox"};
  return kNames;
}

ConnectionSettings SettingsFrom(const Options& options) {
  auto store = app::MakeIniSettingsStore(app::DefaultConfigRoot());
  const StoredLogin stored = ReadStoredLogin(*store);
  LoginPlan plan = PlanLogin(options, stored, LibpqEnvironmentLogin());
  if (options.reaches_postgres) CompleteLogin(options, plan);
  return plan.settings;
}

std::string ExportCodePageFrom(const Options& options) {
  if (auto given = options.Get("code-page")) return *given;
  auto store = app::MakeIniSettingsStore(app::DefaultConfigRoot());
  Result<std::string> r =
      store->Read(app::kApplication, app::kSection, app::kExportCodePageKey, "");
  return r.ok() ? r.value() : std::string();
}

}  // namespace corvane::cli
