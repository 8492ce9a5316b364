// What one table's figures are made of (the handler's progress values,
// dialogs and questions, and what the destination holds), the JSON a
// script reads, and the run options.
#include "cli/table_runs.h"

#include <gtest/gtest.h>

#include <sstream>

#include "cli/printable.h"
#include "ui/procedure.h"

namespace corvane::cli {
namespace {

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

// The figures are the handler's report; what the CLI adds is a table the
// handler never reached and an existing table met without a choice.
TEST(TableWatchTest, TheFiguresAreTheHandlersReport) {
  using transfer::TableOutcome;
  struct Case {
    const char* what;
    std::optional<TableOutcome> outcome;  // nullopt: no report for the table
    int64_t total, read, stored, refused;
    Policy overwrite;  // how an "exists" question is answered (none is asked when kYes)
    TableState state;
    const char* note;
    bool needs_choice;
  };
  const Case cases[] = {
      {"whole", TableOutcome::kCopied, 5, 5, 5, 0, Policy::kYes, TableState::kCopied, "", false},
      {"refused rows", TableOutcome::kCopied, 5, 5, 3, 2, Policy::kYes, TableState::kCopied,
       "2 rows refused", false},
      {"broken off", TableOutcome::kFailed, 5, 3, 0, 1, Policy::kYes, TableState::kFailed, "why",
       false},
      {"skipped by choice", TableOutcome::kSkipped, 0, 0, 0, 0, Policy::kNo, TableState::kSkipped,
       "why", false},
      {"skipped, no choice", TableOutcome::kSkipped, 0, 0, 0, 0, Policy::kAsk,
       TableState::kSkipped, "exists; give --overwrite or --skip-existing", true},
      {"never reached", std::nullopt, 0, 0, 0, 0, Policy::kYes, TableState::kFailed,
       "password authentication failed", false},
  };
  for (const Case& c : cases) {
    Terminal terminal(/*quiet=*/true, false);
    TableWatch watch(terminal, 0, "T", c.overwrite, Policy::kNo);
    transfer::TableEvents events = watch.Events();
    if (c.overwrite != Policy::kYes) {  // stdin is no terminal here
      EXPECT_EQ(events.ask(transfer::Question::kOverwrite, "Would you like to overwrite T?"),
                ui::Answer::kNo);
    }
    transfer::TransferOutcome outcome;
    outcome.failure = "password authentication failed";
    if (c.outcome) {
      transfer::TableReport r;
      r.table = "T";
      r.outcome = *c.outcome;
      r.why = *c.outcome == TableOutcome::kCopied ? "" : "why";
      r.rows_total = c.total;
      r.rows_read = c.read;
      r.rows_stored = c.stored;
      for (int64_t k = 0; k < c.refused; ++k) r.refused.push_back({k + 1, "", "bad", {}});
      outcome.tables = {transfer::TableReport(), r};
      outcome.tables[0].table = "other";
    }
    const TableFigures f = watch.Finish(outcome);
    EXPECT_EQ(f.state, c.state) << c.what;
    EXPECT_EQ(f.note, c.note) << c.what;
    EXPECT_EQ(f.needs_choice, c.needs_choice) << c.what;
    EXPECT_EQ(std::vector<int64_t>({f.rows_total, f.rows_read, f.rows_stored, f.rows_refused}),
              std::vector<int64_t>({c.total, c.read, c.stored, c.refused}))
        << c.what;
  }
}

// Terminal columns: wide characters take two, combining marks none; the
// summary's columns line up whatever the names.
TEST(DisplayWidthTest, WideAndCombiningCharacters) {
  const std::pair<std::string, size_t> kCases[] = {
      {"CUSTOMER", 8}, {"表格", 4}, {"ｶﾀｶﾅ", 4}, {"Ｆｕｌｌ", 8}, {"e\u0301t\u00e9", 3}, {"", 0},
  };
  for (const auto& [text, width] : kCases) EXPECT_EQ(DisplayWidth(text), width) << text;
  TableFigures wide, narrow;
  wide.table = "顧客表";
  narrow.table = "ORDERS";
  wide.state = narrow.state = TableState::kFailed;
  std::istringstream lines(SummaryText({wide, narrow}, 0));
  std::vector<size_t> result_column;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Total", 0) == 0) continue;  // its result is a sentence, not a column
    const size_t at = line.find("failed") != std::string::npos ? line.find("failed")
                                                                 : line.find("Result");
    if (at != std::string::npos) result_column.push_back(DisplayWidth(line.substr(0, at)));
  }
  ASSERT_EQ(result_column.size(), 3u);
  EXPECT_EQ(result_column[0], result_column[1]);
  EXPECT_EQ(result_column[1], result_column[2]);
}

TEST(RejectsCsvTest, ReasonsAndValuesSurviveQuotingAndNullStaysApartFromEmpty) {
  TableFigures f;
  f.table = "T,1";
  f.refused.push_back({7, "name", "bad \"quote\"", {"a,b", std::nullopt, "", "line\nbreak"}});
  f.refused.push_back({9, "", "unreadable", {}});
  EXPECT_EQ(RejectsCsv({f}),
            "table,row,column,reason,values\r\n"
            "\"T,1\",7,name,\"bad \"\"quote\"\"\",\"a,b\",,\"\",\"line\nbreak\"\r\n"
            "\"T,1\",9,,unreadable\r\n");
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
