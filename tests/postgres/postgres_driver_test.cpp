// The PostgreSQL driver against the throwaway server: opening, value forms
// and type codes, streaming with an exact count, and what is refused.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>

#include "postgres/pg_test_support.h"
#include "postgres/sql_state.h"

namespace corvane::testing {
namespace {

class PostgresDriverTest : public PgTableTest {
 protected:
  PostgresDriverTest() : PgTableTest("drv_") {}
};

// A loopback port nothing listens on: a stopped server.
std::string ClosedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), len);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return std::to_string(ntohs(a.sin_port));
}

TEST_F(PostgresDriverTest, OpeningFailsWithTheServersOrClientsWords) {
  ConnectionSettings wrong = settings_;
  wrong.password = "not the password";
  Connection c;
  Status st = c.Open(PostgresConnectionString(wrong));
  EXPECT_EQ(st.code(), Status::Code::kDatabase);
  EXPECT_NE(st.message().find("password authentication failed"), std::string::npos) << st.message();
  EXPECT_FALSE(c.is_open());

  ConnectionSettings stopped = settings_;
  stopped.port = ClosedPort();
  st = Connection().Open(PostgresConnectionString(stopped));
  EXPECT_NE(st.message().find("Connection refused"), std::string::npos) << st.message();

  // The database name is a name: connection keywords inside it do nothing.
  ConnectionSettings sneaky = settings_;
  sneaky.database = "dbname=" + settings_.database + " port=" + settings_.port;
  st = Connection().Open(PostgresConnectionString(sneaky));
  EXPECT_NE(st.message().find("does not exist"), std::string::npos) << st.message();
}

// The server checks passwords (scram-sha-256): a password holding the
// string's own characters logs in, and its "Port=1" reaches no other key.
TEST_F(PostgresDriverTest, APasswordWithTheStringsOwnCharactersLogsIn) {
  const std::string role = "drv_pw_" + std::to_string(::getpid());
  const std::string password = "p;Port=1;x}";
  Exec(*conn_, "DROP ROLE IF EXISTS " + role);
  Exec(*conn_, "CREATE ROLE " + role + " LOGIN PASSWORD 'p;Port=1;x}'");
  for (const std::string& pw : {password, std::string("p")}) {
    ConnectionSettings s = settings_;
    s.user = role;
    s.password = pw;
    Connection c;
    Status st = c.Open(PostgresConnectionString(s));
    EXPECT_EQ(st.ok(), pw == password) << pw << ": " << st.message();
    if (st.ok()) {
      EXPECT_EQ(Column(c, "select current_user"), std::vector<std::string>{role});
    }
  }
  Exec(*conn_, "DROP ROLE " + role);
}

TEST_F(PostgresDriverTest, SessionIsFixedWhateverTheServerDefaults) {
  // The time zone is the server's, or PGTZ's when set, as for psql.
  setenv("PGTZ", "Etc/GMT-3", 1);
  Connection zoned;
  const Status opened = zoned.Open(PostgresConnectionString(settings_));
  unsetenv("PGTZ");
  ASSERT_TRUE(opened.ok()) << opened.message();
  EXPECT_EQ(Column(zoned, "SHOW TimeZone"), std::vector<std::string>{"Etc/GMT-3"});
  EXPECT_EQ(Column(zoned, "SELECT '2024-01-01 12:00:00+02'::timestamptz"),
            std::vector<std::string>{"2024-01-01 13:00:00"});
  EXPECT_EQ(Column(*conn_, "SHOW DateStyle"), std::vector<std::string>{"ISO, MDY"});
  EXPECT_EQ(Column(*conn_, "SHOW client_encoding"), std::vector<std::string>{"UTF8"});
  EXPECT_EQ(Column(*conn_, "SHOW application_name"), std::vector<std::string>{"Corvane"});
  EXPECT_EQ(Column(*conn_, "SHOW IntervalStyle"), std::vector<std::string>{"postgres"});
  EXPECT_EQ(Column(*conn_, "SELECT 'a\\b'"), std::vector<std::string>{"a\\b"});
}

TEST_F(PostgresDriverTest, TypeCodesAndValueForms) {
  // A timestamptz reads in the session's zone, which is the server's.
  const std::string wall_time = Column(
      *conn_, "SELECT to_char('2024-01-01 12:00:00+02'::timestamptz, 'YYYY-MM-DD HH24:MI:SS')")[0];
  Exec(*conn_, "CREATE TABLE " + Q() +
                   "(s int2, i int4, b int8, r float4, d float8, n numeric, m money, l bool,"
                   " c char(4), v varchar(9), nm name, t text, dt date, tm time, ts timestamp,"
                   " tz timestamptz, by bytea, u uuid, iv interval)");
  Exec(*conn_, "INSERT INTO " + Q() +
                   " VALUES (-32768, 2147483647, -9223372036854775808, 0.1, 1.2345678901234568e+17,"
                   " 12345678901234567890.000000000001, -1234567.5, true, 'ab', 'Zoë', 'nm',"
                   " 'line1\nline2 \\ ''q''', '0044-03-15 BC', '23:59:59.999999',"
                   " '2024-02-29 12:00:00.000001', '2024-01-01 12:00:00+02', '\\x00ff10',"
                   " 'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11', '1 year 2 mons 3 days 04:05:06')");
  Exec(*conn_, "INSERT INTO " + Q() + " (l, t, by) VALUES (false, '', '')");
  auto r = conn_->Execute("SELECT * FROM " + Q());
  ASSERT_TRUE(r.ok()) << r.status().message();
  RecordSet& rs = *r.value();
  const std::vector<int> codes = {2,   3,   20,  4,   5,   131, 6,   11, 130, 202,
                                  202, 203, 133, 134, 135, 135, 205, 72, 203};
  ASSERT_EQ(rs.FieldCount(), static_cast<int>(codes.size()));
  for (int i = 0; i < rs.FieldCount(); ++i) EXPECT_EQ(rs.FieldType(i), codes[i]) << i;
  EXPECT_EQ(rs.FieldName(9), "v");
  EXPECT_EQ(rs.RecordCount(), 2);
  const std::vector<std::string> first = {"-32768",
                                          "2147483647",
                                          "-9223372036854775808",
                                          "0.1",
                                          "123456789012345680",
                                          "12345678901234567890.000000000001",
                                          "-1234567.50",
                                          "True",
                                          "ab  ",
                                          "Zoë",
                                          "nm",
                                          "line1\nline2 \\ 'q'",
                                          "0044-03-15 BC",
                                          "23:59:59.999999",
                                          "2024-02-29 12:00:00.000001",
                                          wall_time,
                                          "\\x00ff10",
                                          "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11",
                                          "1 year 2 mons 3 days 04:05:06"};
  for (int i = 0; i < rs.FieldCount(); ++i) EXPECT_EQ(rs.FieldValue(i).text(), first[i]) << i;
  ASSERT_TRUE(rs.MoveNext().ok());
  EXPECT_TRUE(rs.FieldValue(0).is_null());
  EXPECT_EQ(rs.FieldValue(7).text(), "False");
  // The empty text and empty binary are values, not null.
  EXPECT_FALSE(rs.FieldValue(11).is_null());
  EXPECT_EQ(rs.FieldValue(11).text(), "");
  EXPECT_EQ(rs.FieldValue(16).text(), "\\x");
  ASSERT_TRUE(rs.MoveNext().ok());
  EXPECT_TRUE(rs.Eof());
  EXPECT_FALSE(rs.MoveNext().ok());
}

// A query with a bytea column is copied in the binary format, its other
// columns as text their types print: every value must read as it does
// from the text format, a null composite's fields and all, and the bytea
// (a large one with every byte value too) as its hex.
TEST_F(PostgresDriverTest, ABinaryCopyGivesTheValuesATextCopyGives) {
  const std::string pair = "drv_pair_" + std::to_string(::getpid());
  Exec(*conn_, "DROP TYPE IF EXISTS " + pair + " CASCADE");
  Exec(*conn_, "CREATE TYPE " + pair + " AS (x int, y text)");
  Exec(*conn_, "CREATE TABLE " + Q() +
                   "(i int4, f float8, m money, l bool, c char(3), t text, tz timestamptz,"
                   " iv interval, j jsonb, a text[], p point, ip inet, rc " + pair + ", by bytea)");
  Exec(*conn_, "INSERT INTO " + Q() +
                   " VALUES (-7, 1e-300, -0.5, true, 'x', E'a\\tb\\n\\\\c\\u00e9\\r', "
                   "'2024-02-29 12:00:00.5+02', '-1 day 02:00', '{\"k\": [1, \"é\"]}', "
                   "'{\"a b\",NULL,\"\\\\\"}', '(1.5,2)', '10.0.0.1', ROW(NULL, NULL), "
                   "decode(repeat((SELECT string_agg(lpad(to_hex(b), 2, '0'), '') "
                   "FROM generate_series(0, 255) b), 3000), 'hex'))");
  Exec(*conn_, "INSERT INTO " + Q() + " (i, t, rc, by) VALUES (NULL, '', ROW(1, 'y'), '')");
  Exec(*conn_, "INSERT INTO " + Q() + " (i) VALUES (3)");
  const std::string others = "i, f, m, l, c, t, tz, iv, j, a, p, ip, rc";
  const auto text = Rows(*conn_, "SELECT " + others + ", encode(by, 'hex') FROM " + Q());
  const auto binary = Rows(*conn_, "SELECT " + others + ", by FROM " + Q());
  ASSERT_EQ(binary.size(), 3u);
  ASSERT_EQ(text.size(), 3u);
  for (size_t r = 0; r < 3; ++r) {
    for (size_t c = 0; c + 1 < text[r].size(); ++c) {
      EXPECT_EQ(binary[r][c], text[r][c]) << r << " " << c;
    }
    const std::string hex = text[r].back() == "<null>" ? "<null>" : "\\x" + text[r].back();
    EXPECT_TRUE(binary[r].back() == hex) << r;
  }
  EXPECT_EQ(binary[0][12], "(,)");
  Exec(*conn_, "DROP TABLE " + Q());
  Exec(*conn_, "DROP TYPE " + pair);
}

TEST_F(PostgresDriverTest, RowsStreamWithTheirCountKnownFirst) {
  Exec(*conn_, "CREATE TABLE " + Q() + " AS SELECT g AS n FROM generate_series(1, 2500) g");
  auto r = conn_->Execute("SELECT n FROM " + Q() + " ORDER BY n;");
  ASSERT_TRUE(r.ok()) << r.status().message();
  RecordSet& rs = *r.value();
  ASSERT_EQ(rs.RecordCount(), 2500);
  // Another session's insert after the set opened is not among its rows.
  auto other = OpenPg(settings_);
  Exec(*other, "INSERT INTO " + Q() + " VALUES (0)");
  for (int i = 1; i <= 2500; ++i) {
    ASSERT_FALSE(rs.Eof());
    ASSERT_EQ(rs.FieldValue(0).text(), std::to_string(i));
    ASSERT_TRUE(rs.MoveNext().ok());
  }
  EXPECT_TRUE(rs.Eof());
}

TEST_F(PostgresDriverTest, AQueryWithoutRows) {
  Exec(*conn_, "CREATE TABLE " + Q() + " (a int, \"B c\" text)");
  auto r = conn_->Execute("SELECT * FROM " + Q());
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value()->RecordCount(), 0);
  EXPECT_TRUE(r.value()->Eof());
  EXPECT_EQ(r.value()->FieldCount(), 2);
  EXPECT_EQ(r.value()->FieldName(1), "B c");
}

// Autocommit holds after a set: another session sees a later insert at once,
// whether the set was read to its end, closed early, or dropped unclosed
// (enough rows that the server is still sending when it is).
TEST_F(PostgresDriverTest, NoTransactionOutlivesARecordSet) {
  Exec(*conn_, "CREATE TABLE " + Q() + " AS SELECT g AS n FROM generate_series(1, 300000) g");
  auto other = OpenPg(settings_);
  for (int how = 0; how < 3; ++how) {
    {
      auto r = conn_->Execute("SELECT * FROM " + Q());
      ASSERT_TRUE(r.ok());
      // An open set keeps the connection: a second statement is refused, not run.
      auto refused = conn_->Execute("INSERT INTO " + Q() + " VALUES (-1)");
      EXPECT_FALSE(refused.ok());
      EXPECT_NE(refused.status().message().find("still being read"), std::string::npos);
      if (how == 0) {
        while (!r.value()->Eof()) ASSERT_TRUE(r.value()->MoveNext().ok());
      } else if (how == 1) {
        r.value()->Close();
      }
    }
    Exec(*conn_, "INSERT INTO " + Q() + " VALUES (" + std::to_string(1000000 + how) + ")");
    EXPECT_EQ(Column(*other, "SELECT count(*) FROM " + Q() + " WHERE n >= 1000000"),
              std::vector<std::string>{std::to_string(how + 1)});
  }
  EXPECT_EQ(Column(*other, "SELECT count(*) FROM " + Q() + " WHERE n = -1"),
            std::vector<std::string>{"0"});
}

TEST_F(PostgresDriverTest, RefusedStatementsChangeNothing) {
  Exec(*conn_, "CREATE TABLE " + Q() + " (k int PRIMARY KEY)");
  Exec(*conn_, "INSERT INTO " + Q() + " VALUES (1)");
  // Two statements: refused before anything runs.
  auto two = conn_->Execute("INSERT INTO " + Q() + " VALUES (2); DROP TABLE " + Q());
  EXPECT_EQ(two.status().code(), Status::Code::kInvalidArgument);
  // The server's refusal: its primary message and SQLSTATE.
  auto dup = conn_->Execute("INSERT INTO " + Q() + " VALUES (1)");
  EXPECT_EQ(dup.status().code(), Status::Code::kDatabase);
  EXPECT_EQ(dup.status().sqlstate(), "23505");
  EXPECT_EQ(dup.status().message().rfind("duplicate key value violates unique constraint", 0), 0u)
      << dup.status().message();
  auto missing = conn_->Execute("SELECT * FROM \"no such table\"");
  EXPECT_EQ(missing.status().message(), "relation \"no such table\" does not exist");
  EXPECT_EQ(missing.status().sqlstate(), "42P01");
  auto bad = conn_->Execute("SELEC 1");
  EXPECT_EQ(bad.status().sqlstate(), "42601");
  EXPECT_EQ(Column(*conn_, "SELECT k FROM " + Q()), std::vector<std::string>{"1"});
  // What the driver made of each, for callers that act on it.
  EXPECT_EQ(dup.status().fault(), SqlFault::kRulesBroken);
  EXPECT_EQ(missing.status().fault(), SqlFault::kMisfit);
  EXPECT_EQ(bad.status().fault(), SqlFault::kSyntax);
  Exec(*conn_, "CREATE TEMP TABLE parent (v int)");
  auto no_parent = conn_->Execute("CREATE TEMP TABLE child (v int REFERENCES parent (v))");
  EXPECT_EQ(no_parent.status().fault(), SqlFault::kNoUniqueParent) << no_parent.status().sqlstate();
  Exec(*conn_, "BEGIN READ ONLY");
  auto read_only = conn_->Execute("INSERT INTO " + Q() + " VALUES (3)");
  EXPECT_EQ(read_only.status().fault(), SqlFault::kReadOnly) << read_only.status().sqlstate();
  Exec(*conn_, "ROLLBACK");
  EXPECT_FALSE(IsConnectionLost(read_only.status()));
}

// Codes next to each other in one class mean different things.
TEST(SqlStateTest, ClassifiesByCodeThenClass) {
  const std::pair<const char*, SqlFault> kCases[] = {
      {"08006", SqlFault::kConnectionLost}, {"08P01", SqlFault::kConnectionLost},
      {"57P01", SqlFault::kConnectionLost}, {"57014", SqlFault::kCanceled},
      {"53100", SqlFault::kServerStorage},  {"58030", SqlFault::kServerStorage},
      {"53200", SqlFault::kNone},           {"23505", SqlFault::kRulesBroken},
      {"23503", SqlFault::kRulesBroken},    {"42830", SqlFault::kNoUniqueParent},
      {"42601", SqlFault::kSyntax},         {"42P01", SqlFault::kMisfit},
      {"42501", SqlFault::kMisfit},         {"25006", SqlFault::kReadOnly},
      {"25P02", SqlFault::kNone},           {"0A000", SqlFault::kNotSupported},
      {"22P02", SqlFault::kNone},           {"", SqlFault::kNone},
  };
  for (const auto& [state, fault] : kCases) EXPECT_EQ(ClassifySqlState(state), fault) << state;
  EXPECT_TRUE(IsConnectionLost(PgStatus("gone", "57P03")));
  EXPECT_TRUE(IsServerStorageFailure(PgStatus("full", "53100").Reworded("told otherwise")));
}

TEST_F(PostgresDriverTest, QueriesACursorCannotHoldStillRun) {
  Exec(*conn_, "SELECT 7 AS a INTO " + Q());
  auto r = conn_->Execute("WITH d AS (DELETE FROM " + Q() + " RETURNING a) SELECT a FROM d");
  ASSERT_TRUE(r.ok()) << r.status().message();
  EXPECT_EQ(r.value()->RecordCount(), 1);
  EXPECT_EQ(r.value()->FieldValue(0).text(), "7");
  EXPECT_EQ(Column(*conn_, "SELECT count(*) FROM " + Q()), std::vector<std::string>{"0"});
}

TEST_F(PostgresDriverTest, CommandTimeoutStopsALongStatement) {
  auto c = OpenPg(settings_, 1);
  auto r = c->Execute("SELECT pg_sleep(5)");
  EXPECT_EQ(r.status().sqlstate(), "57014");
  EXPECT_EQ(r.status().fault(), SqlFault::kCanceled);
  EXPECT_TRUE(c->Execute("SELECT 1").ok());  // the connection goes on
}

TEST_F(PostgresDriverTest, ASetOutlivingItsConnectionFailsCleanly) {
  Exec(*conn_, "CREATE TABLE " + Q() + " AS SELECT g AS n FROM generate_series(1, 1200) g");
  auto r = conn_->Execute("SELECT * FROM " + Q());
  ASSERT_TRUE(r.ok());
  conn_->Close();
  Status st = Status::Ok();
  for (int i = 0; i < 1200 && st.ok(); ++i) st = r.value()->MoveNext();
  EXPECT_FALSE(st.ok());
  EXPECT_FALSE(conn_->Execute("SELECT 1").ok());
  conn_ = OpenPg(settings_);
}

// Ends the server process behind `c`, as an administrator or a restart
// would, and waits until it is gone.
void TerminateBackend(const ConnectionSettings& s, Connection& c) {
  const std::string pid = Column(c, "SELECT pg_backend_pid()").at(0);
  Exec(*OpenPg(s), "DO $$BEGIN PERFORM pg_terminate_backend(" + pid + ", 10000); END$$");
}

// Each way of meeting a connection that died under us must say so, in every
// operation a transfer uses; a refused value must not.
TEST_F(PostgresDriverTest, ALostConnectionIsToldFromARefusedStatement) {
  Exec(*conn_, "CREATE TABLE " + Q() + "(n NUMERIC, t TEXT)");
  using Op = std::function<Status(Connection&)>;
  const std::vector<Value> row = {Value::Text("1"), Value::Text(std::string(1000, 'x'))};
  const std::vector<std::pair<const char*, Op>> after_loss = {
      {"execute", [](Connection& c) { return c.Execute("SELECT 1").status(); }},
      {"execute each",
       [&](Connection& c) {
         return c.ExecuteEach({"INSERT INTO " + Q() + " VALUES(1,'a')"}).at(0);
       }},
      {"copy",
       [&](Connection& c) {
         auto copy = c.BeginCopy(Q(), 2, CopyEmpty::kNull);
         if (!copy.ok()) return copy.status();
         for (int i = 0; i < 1000; ++i) CORVANE_RETURN_IF_ERROR(copy.value()->Add(row));
         return copy.value()->End(nullptr);
       }},
  };
  for (const auto& [what, op] : after_loss) {
    SCOPED_TRACE(what);
    auto c = OpenPg(settings_);
    TerminateBackend(settings_, *c);
    Status st = op(*c);
    EXPECT_TRUE(IsConnectionLost(st)) << what << ": " << st.sqlstate() << " " << st.message();
  }
  // Lost while a copy is open and while a cursor still has rows to fetch.
  {
    auto c = OpenPg(settings_);
    const std::string pid = Column(*c, "SELECT pg_backend_pid()").at(0);
    auto copy = c->BeginCopy(Q(), 2, CopyEmpty::kNull);
    ASSERT_TRUE(copy.ok());
    EXPECT_TRUE(copy.value()->Add(row).ok());
    Exec(*conn_, "DO $$BEGIN PERFORM pg_terminate_backend(" + pid + ", 10000); END$$");
    Status st = Status::Ok();
    for (int i = 0; i < 1000 && st.ok(); ++i) st = copy.value()->Add(row);
    if (st.ok()) st = copy.value()->End(nullptr);
    EXPECT_TRUE(IsConnectionLost(st)) << st.sqlstate() << " " << st.message();
  }
  {
    auto c = OpenPg(settings_);
    const std::string pid = Column(*c, "SELECT pg_backend_pid()").at(0);
    auto r = c->Execute("SELECT g, repeat('x', 60) FROM generate_series(1, 400000) g");
    ASSERT_TRUE(r.ok());
    Exec(*conn_, "DO $$BEGIN PERFORM pg_terminate_backend(" + pid + ", 10000); END$$");
    Status st = Status::Ok();
    while (st.ok() && !r.value()->Eof()) st = r.value()->MoveNext();
    EXPECT_TRUE(IsConnectionLost(st)) << st.sqlstate() << " " << st.message();
  }
  ConnectionSettings stopped = settings_;
  stopped.port = ClosedPort();
  EXPECT_TRUE(IsConnectionLost(Connection().Open(PostgresConnectionString(stopped))));
  // Refusals leave the connection serving.
  EXPECT_FALSE(IsConnectionLost(conn_->Execute("INSERT INTO " + Q() + " VALUES('x','a')").status()));
  EXPECT_FALSE(IsConnectionLost(conn_->ExecuteEach({"SELECT 1/0"}).at(0)));
  EXPECT_FALSE(IsConnectionLost(
      conn_->CopyRows(Q(), 2, std::vector<std::vector<Value>>{{Value::Text("x"), Value::Text("")}},
                      CopyEmpty::kNull)));
  EXPECT_TRUE(conn_->Execute("SELECT 1").ok());
}

// The server going away while it sends rows is an error of the read that
// meets it, never the end of the rows.
TEST_F(PostgresDriverTest, AServerGoneMidStreamIsAFailureNotTheEnd) {
  Exec(*conn_, "CREATE TABLE " + Q() +
                   " AS SELECT g AS n, repeat('x', 60) AS pad FROM generate_series(1, 400000) g");
  auto r = conn_->Execute("SELECT * FROM " + Q());
  ASSERT_TRUE(r.ok()) << r.status().message();
  auto other = OpenPg(settings_);
  Exec(*other,
       "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = "
       "'Corvane' AND pid <> pg_backend_pid() AND query LIKE 'COPY%" +
           Q() + "%'");
  Status st = Status::Ok();
  int64_t read = 0;
  while (st.ok() && !r.value()->Eof()) {
    st = r.value()->MoveNext();
    ++read;
  }
  EXPECT_FALSE(st.ok());
  EXPECT_LT(read, 400000);
  conn_ = OpenPg(settings_);
}

// A caller kept waiting (a window) is served often, whatever it waits for:
// a server that takes the connection but never answers, a slow statement,
// a slow statement inside a pipelined run.
TEST_F(PostgresDriverTest, AWaitingCallerIsServedEveryFewMilliseconds) {
  // Listens, never accepts: the connection hangs until its time-out.
  int mute = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(mute, reinterpret_cast<sockaddr*>(&a), len), 0);
  ASSERT_EQ(listen(mute, 4), 0);
  getsockname(mute, reinterpret_cast<sockaddr*>(&a), &len);
  ConnectionSettings silent = settings_;
  silent.port = std::to_string(ntohs(a.sin_port));

  using Clock = std::chrono::steady_clock;
  struct Case {
    const char* what;
    std::function<bool(Connection&)> run;  // true when it succeeded
    bool succeeds;
  };
  const Case cases[] = {
      {"silent server",
       [&](Connection& c) {
         c.options().connection_timeout_s = 1;
         return c.Open(PostgresConnectionString(silent)).ok();
       },
       false},
      {"slow statement",
       [&](Connection& c) {
         return c.Open(PostgresConnectionString(settings_)).ok() &&
                c.Execute("SELECT pg_sleep(0.3)").ok();
       },
       true},
      {"slow pipelined run",
       [&](Connection& c) {
         if (!c.Open(PostgresConnectionString(settings_)).ok()) return false;
         auto done = c.ExecuteEach({"SELECT 1", "SELECT pg_sleep(0.3)", "SELECT 2"});
         return std::all_of(done.begin(), done.end(), [](const Status& s) { return s.ok(); });
       },
       true},
  };
  for (const Case& k : cases) {
    Connection c;
    long calls = 0;
    c.options().serve = [&] { ++calls; };
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(k.run(c), k.succeeds) << k.what;
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(250)) << k.what;
    // How often is the bench's to measure; a wait that served only at its
    // ends would call twice.
    EXPECT_GE(calls, 10) << k.what;
  }
  close(mute);
}

}  // namespace
}  // namespace corvane::testing
