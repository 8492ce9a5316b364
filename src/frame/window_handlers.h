// The frame of the two windows as core code: the login window's buttons and
// load step, the two ways into the tables window, and the tables window's
// load step. Each runs as numbered steps through ui::Procedure; the windows
// only wire their widgets to these calls.
//
// What a load step does to the window itself (colours, caption, icon,
// cursor, field texts) goes through the small LoginFrame / TablesFrame
// interfaces, which the Qt windows and the tests implement.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "base/status.h"
#include "ui/procedure.h"
#include "ui/windows.h"

namespace corvane::frame {

inline constexpr const char* kCaption = "Corvane";
inline constexpr const char* kConnectionSuccessful = "Connection successful.";
inline constexpr const char* kCouldNotConnect = "Could not connect.";
inline constexpr const char* kCouldNotConnectLogin =
    "Could not connect. Please check with your administrator.";
inline constexpr const char* kChooseFolderTitle = "Please select folder:";
inline constexpr const char* kPgAdminDownload = "https://www.postgresql.org/ftp/pgadmin/pgadmin3/";
inline constexpr const char* kContactPage = "https://www.vantorel.com/contact";
inline constexpr const char* kHandCursorFile = "/HAND-M.CUR";
inline constexpr const char* kSamplesFolder = "/Samples";
inline constexpr const char* kLastFolderKey = "LastFolderDot";

// The six login fields Text1..Text6: their settings keys and read defaults.
inline constexpr int kFieldCount = 6;
inline constexpr const char* kFieldKeys[kFieldCount] = {"ParadoxFolder", "Server",   "Port",
                                                        "User",          "Password", "Database"};
inline constexpr const char* kFieldDefaults[kFieldCount] = {"", "localhost", "5432", "", "", ""};

std::string LoginHelpText();
std::string TablesHelpText();

// The settings store as the handlers see it (application and section fixed).
using ReadSetting =
    std::function<Result<std::string>(const std::string& key, const std::string& fallback)>;
using WriteSetting = std::function<Status(const std::string& key, const std::string& value)>;

// The login window as its load step and "Next >" drive it.
class LoginFrame {
 public:
  virtual ~LoginFrame() = default;
  // Skin and colours when the skin file is there; plain white otherwise.
  virtual Status ApplySkin() = 0;
  virtual Status SetCaption(const std::string& caption) = 0;
  virtual Status SetIcon() = 0;
  virtual Status SetApplicationTitle(const std::string& title) = 0;
  // Loads the file as the window's hand cursor; an unreadable picture fails.
  virtual Status LoadHandCursor(const std::string& path) = 0;
  // Assigns field Text<number> (1..6); its change handling stores the text.
  virtual void SetField(int number, const std::string& text) = 0;
  // Runs the tables window's load step (its failures are its own).
  virtual void LoadTablesWindow() = 0;
  // Shows the tables window and hides the login window.
  virtual Status ShowTablesWindow() = 0;
};

// The tables window as its load step drives it.
class TablesFrame {
 public:
  virtual ~TablesFrame() = default;
  virtual Status ApplyWindowColours() = 0;
  virtual Status SetIcon() = 0;
  virtual Status LoadHandCursor(const std::string& path) = 0;
  virtual Status SetCaption(const std::string& caption) = 0;
  // The window's outer height in twips; the width stays as designed.
  virtual Status SetHeight(int twips) = 0;
};

// Form1.Form_Load: skin, caption, icon, title, hand cursor, the six fields
// from the store in order, then the quick path into the tables window.
// Returns true when the quick path was taken.
bool LoadLoginWindow(LoginFrame& frame, ui::LoginWindow& window, const ReadSetting& read);

// Form1.PushButton2_Click ("Next >"): hourglass, both tests, then the tables
// window's load step, show it and hide this one; pointer back to default.
// Returns true when the tables window was entered.
bool NextPage(LoginFrame& frame, ui::LoginWindow& window);

// Form1.PushButton1_Click: opens a PostgreSQL connection with the fields now.
void TestLogin(ui::LoginWindow& window);
// Form1.PushButton3_Click: looks for tables in the folder of Text1.
void TestFolder(ui::LoginWindow& window);
// The sample tables folder in the program folder (program folder + /Samples).
std::string SampleFolder(const std::string& program_folder);
// Form1.PushButton4_Click: the text Text1 takes. An installed program first
// copies the samples to a folder of the user's; when that fails the failure
// is shown and the program folder's samples are offered (readable still).
std::string SampleFolderForUser(ui::Dialogs& dialogs, const std::string& program_folder);
// Form1.PushButton5_Click: the folder chosen for Text1, or nullopt when the
// user cancelled (Text1 then keeps its text).
std::optional<std::string> ChooseParadoxFolder(ui::Dialogs& dialogs, const ReadSetting& read);
// Form1.PushButton6_Click and Form2.PushButton12_Click.
void ShowLoginHelp(ui::Dialogs& dialogs);
void ShowTablesHelp(ui::Dialogs& dialogs);

// Form2.Form_Load: colours, icon, cursor, caption, both lists afresh, height.
// A failing catalog is reported and the other list still fills.
void LoadTablesWindow(TablesFrame& frame, ui::TablesWindow& window);

// Twips of the tables window's outer height: "< Back" top + height + 580.
inline constexpr int kTablesWindowHeightTwips = 4980 + 405 + 580;

// Writes each change of a login field to its key. A failing write leaves the
// field as typed and is reported once; after a write succeeds again a new
// failure is reported again.
class FieldStore {
 public:
  FieldStore(WriteSetting write, ui::Dialogs& dialogs)
      : write_(std::move(write)), dialogs_(dialogs) {}
  // `number` is 1..6 (Text1..Text6).
  void Changed(int number, const std::string& text);

 private:
  WriteSetting write_;
  ui::Dialogs& dialogs_;
  bool failure_reported_ = false;
};

}  // namespace corvane::frame
