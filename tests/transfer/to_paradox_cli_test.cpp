// corvane-cli to-paradox end to end: the real binary, the test server, and
// the test's own program folder (CORVANE_PROGRAM_DIR) for dbtemp.mdb.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "to_paradox_fixture.h"

namespace corvane::testing {
namespace {

class ToParadoxCliTest : public ToParadoxTest {
 protected:
  // Exit status and everything printed; stdin is no terminal, so questions
  // without an option are answered No.
  std::pair<int, std::string> Cli(const std::string& args) {
    const char* bin = std::getenv("CORVANE_PROGRAM_DIR");
    const ConnectionSettings& s = fake_.settings.settings;
    const std::string cmd = "CORVANE_PROGRAM_DIR='" + program_.string() + "' " +
                            std::string(bin ? bin : "bin") + "/corvane-cli to-paradox --paradox '" +
                            folder_.string() + "' --server " + s.server + " --port " + s.port +
                            " --user " + s.user + " --password '" + s.password + "' --database " +
                            s.database + " " + args + " </dev/null 2>&1";
    std::string output;
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return {-1, output};
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) output.append(buf, n);
    const int status = pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
  }
  std::string FileText(const std::string& name) {
    std::stringstream s;
    s << std::ifstream(folder_ / name, std::ios::binary).rdbuf();
    return s.str();
  }
};

TEST_F(ToParadoxCliTest, OptionsAnswerTheQuestionsAndTheExitStatusTellsFailures) {
  MakePgTable("tx_cli_customers", "id int4, name text", {"1, 'Zoë'", "2, NULL"});
  EXPECT_EQ(Cli("--overwrite --skip-existing tx_cli_customers").first, 2);
  auto [status, out] = Cli("no_such_table");
  EXPECT_EQ(status, 2);
  EXPECT_NE(out.find("no PostgreSQL table no_such_table"), std::string::npos) << out;

  std::tie(status, out) = Cli("tx_cli_customers");  // the long name is not agreed to
  EXPECT_EQ(status, 0) << out;
  EXPECT_TRUE(TableFilesInFolder().empty());

  std::tie(status, out) = Cli("--trim-long-names TX_CLI_CUSTOMERS");
  EXPECT_EQ(status, 0) << out;
  const ReadTable t = ReadOurs((folder_ / "tx_cli_c.db").string());
  using Cells = std::vector<std::optional<std::string>>;
  EXPECT_EQ(t.rows, (std::vector<Cells>{{"1", "Zoë"}, {"2", std::nullopt}}));
  const std::string written = FileText("tx_cli_c.db");

  std::tie(status, out) = Cli("--trim-long-names --skip-existing tx_cli_customers");
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Would you like to overwrite tx_cli_c? No"), std::string::npos) << out;
  EXPECT_EQ(FileText("tx_cli_c.db"), written);

  // A code page is forced only to one Paradox's drivers cover; a value it
  // lacks fails its row, naming the column and the character.
  std::tie(status, out) = Cli("--code-page 65001 tx_cli_customers");
  EXPECT_EQ(status, 2);
  EXPECT_NE(out.find("1252, 1250"), std::string::npos) << out;
  std::tie(status, out) = Cli("--trim-long-names --overwrite --code-page 866 tx_cli_customers");
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("`name`"), std::string::npos) << out;
  EXPECT_NE(out.find("U+00EB"), std::string::npos) << out;

  std::filesystem::remove(program_ / "dbtemp.mdb");
  std::tie(status, out) = Cli("--trim-long-names --overwrite tx_cli_customers");
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("dbtemp.mdb"), std::string::npos) << out;
  EXPECT_NE(out.find("Form2.PushButton3_Click at line 112"), std::string::npos) << out;
}

}  // namespace
}  // namespace corvane::testing
