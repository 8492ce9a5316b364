// The step numbers of every handler, by name.
//
// A failure dialog quotes the number of the step that failed, and users
// quote it back to support, so each number is fixed: a step keeps its
// number even when code moves around it. One namespace per procedure tag;
// a step that a handler repeats for each item (a field, a table) is a first
// number plus a stride.
#pragma once

namespace corvane::steps {

// "Form1.Form_Load"
namespace login_load {
inline constexpr int kApplySkin = 100;
inline constexpr int kSetCaption = 102;
inline constexpr int kSetIcon = 104;
inline constexpr int kSetApplicationTitle = 106;
inline constexpr int kTestHandCursor = 108;  // and 110, loading it
inline constexpr int kReadFirstField = 114;  // then 116, 118, ... one per field
inline constexpr int kFieldStride = 2;
inline constexpr int kTestFolder = 126;  // and 128, the login
inline constexpr int kShowTablesWindow = 130;
}  // namespace login_load

// "Form1.PushButton2_Click"
namespace login_next {
inline constexpr int kTestFolder = 102;  // and 104, the login
inline constexpr int kShowTablesWindow = 108;
}  // namespace login_next

// "Form1.PushButton3_Click"
namespace login_test_folder {
inline constexpr int kTestFolder = 102;
}

// "Form1.PushButton4_Click"
namespace login_samples {
inline constexpr int kSampleFolder = 100;
}

// "Form1.PushButton5_Click"
namespace login_choose_folder {
inline constexpr int kReadLastFolder = 100;
}

// "Form2.Form_Load"
namespace tables_load {
inline constexpr int kApplyColours = 100;
inline constexpr int kSetIcon = 102;
inline constexpr int kTestHandCursor = 104;  // and 106, loading it
inline constexpr int kSetCaption = 110;
inline constexpr int kListPostgres = 116;
inline constexpr int kListParadox = 118;
inline constexpr int kSetHeight = 120;
}  // namespace tables_load

// A test and the step it guards are numbered one after the other.
inline constexpr int kNextStep = 2;

// "Form2.PushButton1_Click" and "Form2.PushButton6_Click": delete and
// rename of PostgreSQL tables.
namespace postgres_maintenance {
inline constexpr int kOpen = 104;
inline constexpr int kDrop = 114;
inline constexpr int kRename = 118;
}  // namespace postgres_maintenance

// "Form2.PushButton5_Click": delete of Paradox tables.
namespace paradox_delete {
inline constexpr int kDelete = 106;
}

// "Form2.PushButton7_Click": rename of a Paradox table.
namespace paradox_rename {
inline constexpr int kCheckName = 112;
inline constexpr int kRename = 114;
}  // namespace paradox_rename

// "Main.RenameFile"
namespace rename_file {
inline constexpr int kMove = 100;
inline constexpr int kMoveBack = 102;
}  // namespace rename_file

// "AddFolder.GetSubDirectories2016"
namespace folder_walk {
inline constexpr int kTestFolder = 108;
inline constexpr int kTestFound = 122;
}  // namespace folder_walk

}  // namespace corvane::steps
