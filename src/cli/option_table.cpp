#include "cli/option_table.h"

#include <sstream>

namespace corvane::cli {
namespace {

constexpr const char* kLoginNote =
    "A login value not given is left to libpq, as psql leaves it: PGSERVICE, "
    "PGHOST, PGPORT, PGUSER, PGDATABASE, PGPASSWORD, ~/.pgpass and its defaults "
    "(the local socket, the system user). What the login window stored fills the "
    "values nothing else gives, and only when they name the server it was stored "
    "for; its password goes to nobody but the server, port, user and database it "
    "was stored with.";

const std::vector<OptionSpec> kOptions = {
    {"paradox", 0, "paradox", "FOLDER", kLogins,
     "The folder of Paradox tables (else the one the login window stored).", Completes::kFolder},
    {"postgres", 0, "postgres", nullptr, kDrop | kRename | kTables, "Work on the PostgreSQL side."},
    {"server", 'h', "host server", "HOST", kLogins,
     "The PostgreSQL server: a host name, an address, or the folder of its socket.",
     Completes::kHost},
    {"port", 'p', "port", "PORT", kLogins, "The server's port."},
    {"user", 'U', "username user", "NAME", kLogins, "The user name to log in as.",
     Completes::kUser},
    {"database", 'd', "dbname database", "DBNAME", kLogins,
     "The database, or a connection string as psql takes it (postgresql://... or "
     "key=value ...); values it holds stand over -h, -p and -U."},
    {"password", 0, "password", "PW", kLogins,
     "The password. Others can read it in the process list: PGPASSWORD, ~/.pgpass "
     "or the prompt keep it hidden."},
    {"no-password", 'w', "no-password", nullptr, kLogins,
     "Never ask for a password; a server that wants one nobody gave refuses the login."},
    {"prompt-password", 'W', "prompt-password", nullptr, kLogins,
     "Ask for the password on the terminal before connecting (without this it is "
     "asked when the server wants one nobody gave)."},
    {"overwrite", 0, "overwrite", nullptr, kCopies,
     "Replace a table of the same name on the other side."},
    {"skip-existing", 0, "skip-existing", nullptr, kCopies,
     "Skip a table whose name the other side already has."},
    {"system", 0, "system", nullptr, kTables,
     "With --postgres, list PostgreSQL's own tables too (pg_catalog, information_schema, "
     "pg_toast, pg_temp)."},
    {"trim-long-names", 0, "trim-long-names", nullptr, kToParadox,
     "Cut a name longer than 8 characters to 8 for Paradox, and make a column name "
     "Paradox cannot hold valid and unique (the new name is said)."},
    {"skip-long-names", 0, "skip-long-names", nullptr, kToParadox,
     "Skip a table whose name is longer than 8 characters."},
    {"missing-memos-as-null", 0, "missing-memos-as-null", nullptr, kToPostgres,
     "Copy a table whose .MB file is missing with the values kept there as NULL (and "
     "say how many), instead of failing it."},
    {"code-page", 0, "code-page", "N", kToParadox,
     "Write the text of new Paradox tables in code page N (else ExportCodePage of the "
     "settings, else 1252 where the text fits and the first code page that holds it "
     "otherwise)."},
    {"keep-types", 0, "keep-types", nullptr, kCopies,
     "Give each column or field the type that holds it (date, boolean, bytea ...) "
     "and a keyed table its primary key, instead of text."},
    {"all", 0, "all", nullptr, kCopies,
     "Copy every table: of the Paradox folder for to-postgres, of the database outside "
     "PostgreSQL's own schemas for to-paradox. Not with table names."},
    {"dry-run", 0, "dry-run", nullptr, kCopies,
     "Change nothing: tell for each table whether it would be created, replaced, skipped "
     "or refused, and the column or field types it would get. To Paradox the rows are "
     "read and written to a scratch folder, which goes afterwards, so that the fields "
     "and any refused rows are those a copy would meet."},
    {"jobs", 'j', "jobs", "N", kCopies,
     "Copy N tables at a time (1 to 64; 1 by default), each over its own connections "
     "and, for to-paradox, its own staging file. Tables that end up under one name go "
     "one after the other."},
    {"quiet", 'q', "quiet", nullptr, kCopies, "Print only failures."},
    {"verbose", 'v', "verbose", nullptr, kCopies | kDrop | kRename,
     "Show a failing statement or failure text whole, not by its start and end."},
    {"report", 0, "report", "FILE", kCopies,
     "Write the end-of-run summary as JSON to FILE: per table its name, state, rows in "
     "all, read, stored and refused, seconds and a note (with --dry-run also the columns "
     "or fields it would get), then the totals and the exit status.",
     Completes::kJsonFile},
    {"rejects", 0, "rejects", "FILE", kCopies,
     "Write every refused row to FILE as CSV: table, row number, column, reason, then "
     "the row's values (NULL as an empty field, the empty text as \"\").",
     Completes::kFile},
    {"help", '?', "help", nullptr, kEvery,
     "Show this help (corvane-cli help COMMAND: that command's)."},
    {"version", 'V', "version", nullptr, 0, "Show the version."},
};

const std::vector<CommandSpec> kCommands = {
    {"tables", kTables, "(--postgres [login] | --paradox FOLDER)", "list the tables of one side",
     "Prints the tables of one side, one name per line, as the table list shows them: "
     "PostgreSQL user tables, by bare name in the first schema of the search path and "
     "as SCHEMA.TABLE in any other (a part holding a dot in double quotes), PostgreSQL's "
     "own only with --system; Paradox tables of the folder and all its "
     "sub-folders, upper-cased without \".DB\". Control characters and backslashes in "
     "names are shown as escapes (\\n, \\t, \\xNN, \\\\).",
     0},
    {"to-postgres", kToPostgres, "--paradox FOLDER [login] [OPTION]... (TABLE... | --all)",
     "send Paradox tables to PostgreSQL",
     "Copies the named Paradox tables (as the table list shows them), or every table of "
     "the folder, into PostgreSQL. Without --overwrite or --skip-existing an existing "
     "table is asked about on a terminal; with no terminal it is skipped and the run "
     "fails. Each refused row is one line (table, row, column, reason). At the end one "
     "line per table gives the rows read, stored and refused, and a total.",
     1},
    {"to-paradox", kToParadox, "--paradox FOLDER [login] [OPTION]... (TABLE... | --all)",
     "send PostgreSQL tables to Paradox",
     "Copies the named PostgreSQL tables (as the table list shows them), or every table "
     "outside PostgreSQL's own schemas, into the Paradox folder. A long name and an "
     "existing table are asked about on a terminal unless an option answers; with no "
     "terminal a long name is skipped, and an existing table is skipped and the run "
     "fails. Each refused row is one line (table, row, column, reason). At the end one "
     "line per table gives the rows read, stored and refused, and a total.",
     1},
    {"drop", kDrop, "(--postgres | --paradox FOLDER) [login] [-v] TABLE...", "delete tables",
     "Deletes the named tables. A Paradox name means the table file spelled so, else the "
     "one table whose name matches ignoring case; the table goes with its memo, index, "
     "form, report and other family files. A name that means several tables, or none, is "
     "refused and nothing is deleted; a table another program has open is left alone.",
     2},
    {"rename", kRename, "(--postgres | --paradox FOLDER) [login] [-v] OLD NEW", "rename a table",
     "Renames one table; a Paradox table takes its family files along. A name another "
     "table already has is refused, as is a table another program has open.",
     2},
    {"dump", kDump, "FILE.db", "print a Paradox table's rows as CSV",
     "Prints every row of the Paradox table as CSV, a header line first.", 0},
    {"schema", kSchema, "FILE.db", "print a Paradox table's layout",
     "Prints the Paradox table's version, code page, blocks and fields, and checks its "
     "primary index.",
     0},
};

std::vector<std::string> Words(const char* text) {
  std::vector<std::string> out;
  std::istringstream in(text ? text : "");
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// `text` broken into lines of at most `width` columns after `indent`.
std::string Wrap(const std::string& text, size_t indent, size_t width = 79) {
  std::string out, line;
  for (const std::string& w : Words(text.c_str())) {
    if (!line.empty() && indent + line.size() + 1 + w.size() > width) {
      out += std::string(indent, ' ') + line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + w;
  }
  if (!line.empty()) out += std::string(indent, ' ') + line + "\n";
  return out;
}

// "-h, --host HOST, --server HOST"
std::string Spelling(const OptionSpec& o, const std::string& dash, const std::string& arg_before,
                     const std::string& arg_after) {
  std::string out;
  auto with_arg = [&](const std::string& name) {
    return o.argument ? name + " " + arg_before + o.argument + arg_after : name;
  };
  if (o.short_name) out = with_arg(dash + std::string(1, o.short_name));
  for (const std::string& l : Words(o.long_names))
    out += (out.empty() ? "" : ", ") + with_arg(dash + dash + l);
  return out;
}

// The commands that take `o`, as "(to-postgres, to-paradox)"; "" for all.
std::string Takers(const OptionSpec& o) {
  if (o.commands == kEvery) return "";
  if (o.commands == 0) return "(without a command)";
  std::string out;
  for (const CommandSpec& c : kCommands)
    if (o.commands & c.bit) out += std::string(out.empty() ? "(" : ", ") + c.name;
  return out + ")";
}

// One entry per option; with `takers`, each says which commands take it.
std::string OptionLines(const std::vector<const OptionSpec*>& options, bool takers) {
  std::string out;
  for (const OptionSpec* o : options) {
    const std::string help = takers ? std::string(o->help) + " " + Takers(*o) : o->help;
    out += "  " + Spelling(*o, "-", "", "") + "\n" + Wrap(help, 8);
  }
  return out;
}

constexpr const char* kExitStatus =
    "Exit status: 0 all done, 1 something failed or was refused, 2 wrong usage\n"
    "(nothing done).\n";

std::string UnknownTableLine(const CommandSpec& c) {
  if (c.unknown_table_status == 1)
    return "A table name no table has ends it with exit status 1, after the other tables are "
           "copied.\n";
  if (c.unknown_table_status == 2)
    return "A table name that means no table or several ends it with exit status 2, and nothing "
           "is changed.\n";
  return "";
}

// roff: hyphens as minus signs, backslashes escaped, no line starting a request.
std::string Roff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '-')
      out += "\\-";
    else if (c == '\\')
      out += "\\e";
    else
      out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
  return out;
}

std::string ManSynopsis() {
  std::string out;
  for (const CommandSpec& c : kCommands)
    out += ".B corvane\\-cli " + Roff(c.name) + "\n" + Roff(c.operands) + "\n.br\n";
  return out + ".B corvane\\-cli help\n.RI [ COMMAND ]\n";
}

std::string ManCommands() {
  std::string out;
  for (const CommandSpec& c : kCommands) {
    out += ".TP\n.B " + Roff(c.name) + "\n" + Roff(c.help) + "\n";
    if (const std::string line = UnknownTableLine(c); !line.empty()) out += Roff(line);
  }
  return out + ".TP\n.BI help \" COMMAND\"\nShows the help of the program or of one command.\n";
}

std::string ManOptions() {
  std::string out = Roff(kLoginNote) + "\n";
  for (const OptionSpec& o : kOptions) {
    out += ".TP\n" + Spelling(o, "\\-", "\\fI", "\\fR") + "\n" + Roff(o.help) + "\n";
    if (const std::string takers = Takers(o); !takers.empty()) out += Roff(takers) + "\n";
  }
  return out;
}

std::string ManExitStatus() {
  std::string copies, refusing;
  for (const CommandSpec& c : kCommands) {
    std::string& list = c.unknown_table_status == 1 ? copies : refusing;
    if (c.unknown_table_status) list += std::string(list.empty() ? "" : ", ") + Roff(c.name);
  }
  return ".TP\n.B 0\nEverything was done.\n"
         ".TP\n.B 1\nA failure was reported (a row, a table, the login, a connection), or " +
         copies + " was given a table name no table has (the other tables were copied).\n" +
         ".TP\n.B 2\nThe command line was wrong, or " + refusing +
         " was given a table name that means no table or several; nothing was done.\n";
}

std::string Replace(std::string text, const std::string& marker, const std::string& by) {
  for (size_t at; (at = text.find(marker)) != std::string::npos;)
    text.replace(at, marker.size(), by);
  return text;
}

}  // namespace

const std::vector<OptionSpec>& OptionTable() { return kOptions; }
const std::vector<CommandSpec>& CommandTable() { return kCommands; }

const CommandSpec* FindCommand(const std::string& name) {
  for (const CommandSpec& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

const OptionSpec* FindOption(const std::string& key) {
  for (const OptionSpec& o : kOptions)
    if (key == o.key) return &o;
  return nullptr;
}

std::vector<const OptionSpec*> OptionsOf(unsigned command) {
  std::vector<const OptionSpec*> out;
  for (const OptionSpec& o : kOptions)
    if (command == 0 ? (o.commands == 0 || o.key == std::string("help")) : (o.commands & command))
      out.push_back(&o);
  return out;
}

std::string ProgramHelp() {
  std::string out =
      "Usage: corvane-cli COMMAND [OPTION]...\n\n"
      "Copies tables between a folder of Paradox tables and PostgreSQL.\n\nCommands:\n";
  for (const CommandSpec& c : kCommands) {
    std::string name = std::string(c.name) + "            ";
    out += "  " + name.substr(0, 13) + c.summary + "\n";
  }
  std::vector<const OptionSpec*> all;
  for (const OptionSpec& o : kOptions) all.push_back(&o);
  out += "  help COMMAND show a command's options\n\nOptions:\n" + OptionLines(all, true) + "\n" +
         Wrap(kLoginNote, 0) + "\n" + kExitStatus;
  return out;
}

std::string CommandHelp(const CommandSpec& c) {
  return "Usage: corvane-cli " + std::string(c.name) + " " + c.operands + "\n" + Wrap(c.help, 0) +
         "\nOptions:\n" + OptionLines(OptionsOf(c.bit), false) +
         ((c.bit & kLogins) ? "\n" + Wrap(kLoginNote, 0) : "") + "\n" + kExitStatus +
         UnknownTableLine(c);
}

std::string ManPage(const std::string& page, const std::string& version) {
  std::string out = Replace(page, "@PROJECT_VERSION@", version);
  out = Replace(out, "@SYNOPSIS@\n", ManSynopsis());
  out = Replace(out, "@COMMANDS@\n", ManCommands());
  out = Replace(out, "@OPTIONS@\n", ManOptions());
  return Replace(out, "@EXIT_STATUS@\n", ManExitStatus());
}

std::string BashCompletion() {
  std::string commands, valued, plain;
  for (const CommandSpec& c : kCommands)
    commands += std::string(commands.empty() ? "" : " ") + c.name;
  std::string out =
      "# bash completion for corvane-cli, made from its option table\n\n"
      "_corvane_cli() {\n"
      "    local cur prev words cword split\n"
      "    _init_completion -s || return\n\n"
      "    local commands=\"" +
      commands +
      "\"\n"
      "    local command=\"\" i\n"
      "    for ((i = 1; i < cword; i++)); do\n"
      "        if [[ \" $commands help \" == *\" ${words[i]} \"* ]]; then\n"
      "            command=${words[i]}\n"
      "            break\n"
      "        fi\n"
      "    done\n\n"
      "    case $prev in\n";
  for (const OptionSpec& o : kOptions) {
    if (!o.argument) continue;
    std::string names = o.short_name ? "-" + std::string(1, o.short_name) : "";
    for (const std::string& l : Words(o.long_names)) names += (names.empty() ? "--" : " | --") + l;
    std::string action;
    switch (o.completes) {
      case Completes::kFolder:
        action = "_filedir -d";
        break;
      case Completes::kHost:
        action = "_known_hosts_real -- \"$cur\"";
        break;
      case Completes::kUser:
        action = "mapfile -t COMPREPLY < <(compgen -u -- \"$cur\")";
        break;
      case Completes::kJsonFile:
        action = "_filedir json";
        break;
      case Completes::kFile:
        action = "_filedir";
        break;
      case Completes::kNothing:
        action = ":";
        break;
    }
    out +=
        "        " + names + ")\n            " + action + "\n            return\n            ;;\n";
  }
  out += "    esac\n    $split && return\n\n    local options\n    case $command in\n";
  auto words_of = [](unsigned bit) {
    std::string w;
    for (const OptionSpec* o : OptionsOf(bit)) {
      if (o->short_name) w += std::string(w.empty() ? "" : " ") + "-" + o->short_name;
      for (const std::string& l : Words(o->long_names)) w += (w.empty() ? "--" : " --") + l;
    }
    return w;
  };
  out += "        \"\")\n            mapfile -t COMPREPLY < <(compgen -W \"$commands help " +
         words_of(0) + "\" -- \"$cur\")\n            return\n            ;;\n";
  out +=
      "        help)\n            mapfile -t COMPREPLY < <(compgen -W \"$commands\" -- "
      "\"$cur\")\n            return\n            ;;\n";
  for (const CommandSpec& c : kCommands)
    out += "        " + std::string(c.name) + ") options=\"" + words_of(c.bit) + "\" ;;\n";
  out +=
      "    esac\n"
      "    if [[ $cur == -* ]]; then\n"
      "        mapfile -t COMPREPLY < <(compgen -W \"$options\" -- \"$cur\")\n"
      "    elif [[ $command == dump || $command == schema ]]; then\n"
      "        _filedir '@(db|DB)'\n"
      "    fi\n"
      "} &&\n"
      "    complete -F _corvane_cli corvane-cli\n";
  return out;
}

}  // namespace corvane::cli
