#include "frame/window_handlers.h"

#include <memory>

#include "app/program_folder.h"
#include "catalog/paradox_catalog.h"
#include "catalog/postgres_catalog.h"
#include "connection/connection.h"
#include "connection/connection_strings.h"
#include "ui/pump.h"
#include "ui/step_names.h"

namespace corvane::frame {
namespace {

using ui::PointerShape;
using ui::Procedure;

Result<bool> FolderHoldsTables(const ui::SettingsSource& settings) {
  return catalog::TestParadoxFolder(settings.Current().paradox_folder);
}

Result<bool> LoginOpens(const ui::SettingsSource& settings, ui::EventPump& pump) {
  return catalog::TestPostgreSQLConnection(settings.Current(), ui::ServeWith(pump));
}

// Both ways into the tables window make the same two tests in this order;
// the PostgreSQL test runs only after the folder test passed (or failed with
// an error, which counts as passed).
bool BothSidesReachable(Procedure& proc, int folder_line, ui::LoginWindow& window) {
  const ui::SettingsSource& settings = window.settings;
  if (!proc.Test(folder_line, [&] { return FolderHoldsTables(settings); })) return false;
  return proc.Test(folder_line + steps::kNextStep, [&] { return LoginOpens(settings, window.pump); });
}

void LoadHandCursorIfPresent(Procedure& proc, int line, const std::string& program_folder,
                             const std::function<Status(const std::string&)>& load) {
  const std::string path = program_folder + kHandCursorFile;
  if (proc.Test(line, [&]() -> Result<bool> { return app::FileExists(path); })) {
    proc.Step(line + steps::kNextStep, [&] { return load(path); });
  }
}

}  // namespace

std::string LoginHelpText() {
  return std::string("If you can not connect, please try downloading pgAdmin III. ") +
         "If you can not connect with that software, you know the login information you are "
         "providing here is incorrect." +
         "\r\n\r\n" + kPgAdminDownload;
}

std::string TablesHelpText() {
  return std::string("Questions? Please contact Team Vantorel at ") + kContactPage;
}

bool LoadLoginWindow(LoginFrame& frame, ui::LoginWindow& window, const ReadSetting& read) {
  namespace step = steps::login_load;
  Procedure proc(window.dialogs, "Form1.Form_Load");
  proc.Step(step::kApplySkin, [&] { return frame.ApplySkin(); });
  proc.Step(step::kSetCaption, [&] { return frame.SetCaption(kCaption); });
  proc.Step(step::kSetIcon, [&] { return frame.SetIcon(); });
  proc.Step(step::kSetApplicationTitle,
            [&] { return frame.SetApplicationTitle(app::ApplicationTitleFor(kCaption)); });
  LoadHandCursorIfPresent(proc, step::kTestHandCursor, window.program_folder,
                          [&](const std::string& p) { return frame.LoadHandCursor(p); });
  for (int i = 0; i < kFieldCount; ++i) {
    // A failed read leaves its field as it was (empty at start-up).
    std::optional<std::string> text =
        proc.Get<std::string>(step::kReadFirstField + step::kFieldStride * i,
                              [&] { return read(kFieldKeys[i], kFieldDefaults[i]); });
    if (text) frame.SetField(i + 1, *text);
  }
  if (!BothSidesReachable(proc, step::kTestFolder, window)) return false;
  proc.Step(step::kShowTablesWindow, [&] { return frame.ShowTablesWindow(); });
  return true;
}

bool NextPage(LoginFrame& frame, ui::LoginWindow& window) {
  Procedure proc(window.dialogs, "Form1.PushButton2_Click");
  window.pointer.Set(PointerShape::kHourglass);
  bool entered = BothSidesReachable(proc, steps::login_next::kTestFolder, window);
  if (entered) {
    frame.LoadTablesWindow();
    proc.Step(steps::login_next::kShowTablesWindow, [&] { return frame.ShowTablesWindow(); });
  }
  window.pointer.Set(PointerShape::kDefault);
  return entered;
}

void TestLogin(ui::LoginWindow& window) {
  // A failed open goes to this handler's own message, never to the
  // failure dialog; no SQL is run.
  auto connection = std::make_unique<Connection>();
  connection->options().serve = ui::ServeWith(window.pump);
  window.pointer.Set(PointerShape::kHourglass);
  Status opened = connection->Open(PostgresConnectionString(window.settings.Current()));
  if (opened.ok()) {
    window.dialogs.Message(kConnectionSuccessful);
  } else {
    window.dialogs.Message(kCouldNotConnectLogin);
  }
  window.pointer.Set(PointerShape::kDefault);
  connection->Close();
}

void TestFolder(ui::LoginWindow& window) {
  Procedure proc(window.dialogs, "Form1.PushButton3_Click");
  window.pointer.Set(PointerShape::kHourglass);
  if (proc.Test(steps::login_test_folder::kTestFolder,
                [&] { return FolderHoldsTables(window.settings); })) {
    window.dialogs.Message(kConnectionSuccessful);
  } else {
    window.dialogs.Message(kCouldNotConnect);
  }
  window.pointer.Set(PointerShape::kDefault);
}

std::string SampleFolder(const std::string& program_folder) {
  // At the root the folder already ends in "/".
  if (!program_folder.empty() && program_folder.back() == '/')
    return program_folder + (kSamplesFolder + 1);
  return program_folder + kSamplesFolder;
}

std::string SampleFolderForUser(ui::Dialogs& dialogs, const std::string& program_folder) {
  Procedure proc(dialogs, "Form1.PushButton4_Click");
  return proc
      .Get<std::string>(steps::login_samples::kSampleFolder,
                        [&] { return app::UserSampleFolder(program_folder); })
      .value_or(SampleFolder(program_folder));
}

std::optional<std::string> ChooseParadoxFolder(ui::Dialogs& dialogs, const ReadSetting& read) {
  Procedure proc(dialogs, "Form1.PushButton5_Click");
  std::string start =
      proc.Get<std::string>(steps::login_choose_folder::kReadLastFolder, [&] {
            return read(kLastFolderKey, "");
          }).value_or(std::string());
  std::string chosen = dialogs.ChooseFolder(kChooseFolderTitle, start);
  if (chosen.empty()) return std::nullopt;
  return chosen;
}

void ShowLoginHelp(ui::Dialogs& dialogs) { dialogs.Message(LoginHelpText()); }

void ShowTablesHelp(ui::Dialogs& dialogs) { dialogs.Message(TablesHelpText()); }

void LoadTablesWindow(TablesFrame& frame, ui::TablesWindow& window) {
  namespace step = steps::tables_load;
  Procedure proc(window.dialogs, "Form2.Form_Load");
  proc.Step(step::kApplyColours, [&] { return frame.ApplyWindowColours(); });
  proc.Step(step::kSetIcon, [&] { return frame.SetIcon(); });
  LoadHandCursorIfPresent(proc, step::kTestHandCursor, window.program_folder,
                          [&](const std::string& p) { return frame.LoadHandCursor(p); });
  proc.Step(step::kSetCaption, [&] { return frame.SetCaption(kCaption); });
  window.postgres_list.Clear();
  window.paradox_list.Clear();
  proc.Step(step::kListPostgres, [&] {
    return catalog::ListPostgreSQLTables(window.settings.Current(), window.postgres_list,
                                         window.pump);
  });
  proc.Step(step::kListParadox, [&] {
    return catalog::ListParadoxTables(window.settings.Current().paradox_folder, window.paradox_list,
                                      window.pump, window.dialogs);
  });
  proc.Step(step::kSetHeight, [&] { return frame.SetHeight(kTablesWindowHeightTwips); });
}

void FieldStore::Changed(int number, const std::string& text) {
  if (number < 1 || number > kFieldCount) return;
  Status written = write_(kFieldKeys[number - 1], text);
  if (written.ok()) {
    failure_reported_ = false;
    return;
  }
  if (failure_reported_) return;
  failure_reported_ = true;
  dialogs_.Message("The login values cannot be saved: " + written.message() +
                       "\r\nThe fields keep what you type, but it will not be remembered at the "
                       "next start.",
                   std::nullopt, ui::MessageIcon::kExclamation);
}

}  // namespace corvane::frame
