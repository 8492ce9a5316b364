// What one table's figures are made of (the handler's progress values,
// dialogs and questions, and what the destination holds), the JSON a
// script reads, and the run options.
#include "cli/table_runs.h"

#include <gtest/gtest.h>

#include "cli/printable.h"
#include "ui/procedure.h"

namespace corvane::cli {
namespace {

std::string Failure(int line) {
  return ui::FailureText("it failed", ui::kTagPrefix, "Form2.X", line, nullptr);
}

// Names reach the terminal escaped: controls and bytes that are not UTF-8
// (also overlong forms and surrogates) as escapes, letters of any script kept.
TEST(PrintableTest, ControlsAndBrokenUtf8BecomeEscapes) {
  const std::pair<std::string, std::string> kCases[] = {
      {"Grüße Мир 表", "Grüße Мир 表"},
      {"a\tb\nc\\d\re", "a\\tb\\nc\\\\d\\re"},
      {"\x1b[31mred", "\\x1b[31mred"},
      {"del\x7f", "del\\x7f"},
      {"c1\xc2\x9b", "c1\\xc2\\x9b"},
      {"latin1 \xe9t\xe9", "latin1 \\xe9t\\xe9"},
      {"overlong \xc0\xaf \xe0\x80\xaf", "overlong \\xc0\\xaf \\xe0\\x80\\xaf"},
      {"surrogate \xed\xa0\x80", "surrogate \\xed\\xa0\\x80"},
      {"past \xf4\x90\x80\x80", "past \\xf4\\x90\\x80\\x80"},
      {"cut \xe2\x82", "cut \\xe2\\x82"},
  };
  for (const auto& [in, want] : kCases) EXPECT_EQ(Printable(in), want) << want;
  EXPECT_EQ(SafeForTerminal("line\n\tC:\\x \x1b]0;t\x07"), "line\n\tC:\\x \\x1b]0;t\\x07");
}

TEST(TableWatchTest, TheFiguresFollowFromWhatTheHandlerShowedAndTheDestinationHolds) {
  struct Case {
    const char* what;
    int rows, reached;               // rows in all; rows the handler reached
    bool fail_before, fail_in_rows;  // a failure dialog before the rows / in them
    bool walk_failure;               // the folder walk after the table failed
    bool declined;                   // "Overwrite?" answered No (then nothing runs)
    std::optional<int64_t> stored;
    TableState state;
    int64_t read, refused;
  };
  const Case cases[] = {
      {"whole", 5, 5, false, false, false, false, 5, TableState::kCopied, 5, 0},
      {"a refused row", 5, 5, false, true, false, false, 4, TableState::kCopied, 5, 1},
      {"broken off", 5, 3, false, true, false, false, std::nullopt, TableState::kFailed, 3, 1},
      {"not created", 5, 5, true, false, false, false, 5, TableState::kFailed, 5, 0},
      {"empty table", 0, 0, false, false, false, false, 0, TableState::kCopied, 0, 0},
      {"declined", 0, 0, false, false, false, true, std::nullopt, TableState::kSkipped, 0, 0},
      {"walk failed after", 2, 2, false, false, true, false, 2, TableState::kCopied, 2, 0},
  };
  for (const Case& c : cases) {
    Terminal terminal(/*quiet=*/true, false);
    TableWatch watch(terminal, 0, "T", Policy::kNo, Policy::kNo);
    if (c.declined) {
      EXPECT_EQ(watch.Question("Would you like to overwrite T?", "Overwrite?"), ui::Answer::kNo);
    }
    if (c.fail_before) watch.Message(Failure(170), ui::kFailureTitle, ui::MessageIcon::kExclamation);
    for (int r = 0; r < c.reached; ++r) {
      watch.SetValue((r + 1) * 100.0 / c.rows);
      if (c.fail_in_rows && r == 1) {
        watch.Message(Failure(182), ui::kFailureTitle, ui::MessageIcon::kExclamation);
      }
    }
    if (!c.declined) watch.SetValue(0);
    if (c.walk_failure) {
      watch.Message(ui::FailureText("no", ui::kWalkTagPrefix, "Main.Walk", 5, nullptr),
                    ui::kFailureTitle, ui::MessageIcon::kExclamation);
    }
    const TableFigures f = watch.Finish(c.stored, "nothing written");
    EXPECT_EQ(f.state, c.state) << c.what << ": " << f.note;
    EXPECT_EQ(f.rows_read, c.read) << c.what;
    EXPECT_EQ(f.rows_refused, c.refused) << c.what;
    EXPECT_EQ(f.rows_total, c.declined ? 0 : c.rows) << c.what;
    EXPECT_EQ(terminal.walk_failures(), c.walk_failure ? 1 : 0) << c.what;
  }
}

TEST(TerminalTest, AFailingStatementIsShortenedUnlessVerbose) {
  const std::string statement = "INSERT INTO \"NOTES\" VALUES (1, '" + std::string(300000, 'm') + "')";
  const std::string text =
      ui::FailureText("value too long", ui::kTagPrefix, "Form2.PushButton4_Click", 118, &statement);
  for (bool verbose : {false, true}) {
    Terminal terminal(/*quiet=*/false, false, verbose);
    TableWatch watch(terminal, 0, "NOTES", Policy::kNo, Policy::kNo);
    ::testing::internal::CaptureStderr();
    watch.SetValue(100);
    watch.Message(text, ui::kFailureTitle, ui::MessageIcon::kExclamation);
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find("value too long\nin Corvane2021/08/31.Form2.PushButton4_Click"),
              std::string::npos);
    EXPECT_NE(printed.find("m')"), std::string::npos);
    if (verbose) {
      EXPECT_NE(printed.find(statement), std::string::npos);
    } else {
      EXPECT_LT(printed.size(), 1000u);
      EXPECT_NE(printed.find("characters left out"), std::string::npos);
    }
  }
}

TEST(SummaryJsonTest, AnyNameGivesValidJson) {
  const std::pair<std::string, std::string> cases[] = {
      {"Zoë", "\"Zoë\""},
      {"a\"b\\c", R"("a\"b\\c")"},
      {"new\nline\x1b", R"("new\u000aline\u001b")"},
      {"bad \xff byte", R"("bad \ufffd byte")"},
  };
  for (const auto& [name, json] : cases) {
    TableFigures f;
    f.table = name;
    f.state = TableState::kNotFound;
    const std::string text = SummaryJson("to-postgres", {f}, 0, 1);
    EXPECT_NE(text.find("{\"table\": " + json + ", \"state\": \"not found\""), std::string::npos)
        << text;
    // The text summary shows the name without its control characters.
    EXPECT_EQ(SummaryText({f}, 0).find('\x1b'), std::string::npos);
  }
}

TEST(RunOptionsTest, BadValuesAndAllBesideNamesAreRefused) {
  struct Case {
    std::vector<std::string> words;
    bool ok;
    int jobs;
  };
  const Case cases[] = {
      {{"T"}, true, 1},           {{"--all"}, true, 1},          {{"--jobs", "4", "T"}, true, 4},
      {{}, false, 0},             {{"--all", "T"}, false, 0},    {{"--jobs", "0", "T"}, false, 0},
      {{"--jobs=2x", "T"}, false, 0}, {{"--jobs", "65", "T"}, false, 0},
      {{"--report", "/no/such/folder/r.json", "T"}, false, 0},
  };
  for (const Case& c : cases) {
    std::vector<char*> argv;
    std::vector<std::string> words = c.words;
    for (std::string& w : words) argv.push_back(w.data());
    auto options = ParseOptions(static_cast<int>(argv.size()), argv.data(),
                                RunValuedOptionNames(), RunFlagNames());
    ASSERT_TRUE(options.ok());
    Result<RunOptions> run = RunOptionsFrom(*options);
    EXPECT_EQ(run.ok(), c.ok) << ::testing::PrintToString(c.words);
    if (run.ok()) {
      EXPECT_EQ(run->jobs, c.jobs);
    }
  }
}

}  // namespace
}  // namespace corvane::cli
