// The numbered steps of the two copy handlers. A failure dialog names the
// step it happened at ("... at line 112"), and users and support know a
// failure by that number, so every step keeps its value.
#pragma once

namespace corvane::transfer {

// "Send Table/s To Paradox" (Form2.PushButton3_Click).
namespace to_paradox_step {
inline constexpr int kNoTableSelected = 100;
inline constexpr int kBusyPointer = 108;
inline constexpr int kOpenStaging = 112;
inline constexpr int kOpenParadox = 116;
inline constexpr int kOpenPostgres = 124;  // also: the connection could not be had again
inline constexpr int kSharedTarget = 126;
inline constexpr int kTakeEntry = 130;
inline constexpr int kNameFits = 136;
inline constexpr int kCutName = 140;
inline constexpr int kSkipLongName = 142;
inline constexpr int kNameSkipped = 146;
inline constexpr int kNotInFolder = 148;  // and 152, where the name is new
inline constexpr int kAskOverwrite = 150;
inline constexpr int kSkipTable = 156;
inline constexpr int kDropForOverwrite = 160;
inline constexpr int kUnlistTarget = 162;
inline constexpr int kReadColumnTypes = 166;
inline constexpr int kOpenSource = 168;
inline constexpr int kCreateHead = 170;
inline constexpr int kCreateColumns = 172;  // also: a field name Paradox cannot hold
inline constexpr int kCreateEnd = 180;
inline constexpr int kFindStagingTable = 182;
inline constexpr int kDropStagingTable = 184;
inline constexpr int kCreateStagingTable = 188;
inline constexpr int kCountRows = 190;
inline constexpr int kServeWindow = 194;
inline constexpr int kShowProgress = 196;
inline constexpr int kReadRow = 198;
inline constexpr int kInsertRow = 200;
inline constexpr int kNextRow = 202;
inline constexpr int kIdlePointer = 206;
inline constexpr int kClearProgress = 208;
inline constexpr int kProgressText = 210;
inline constexpr int kCloseSource = 212;
inline constexpr int kExport = 214;
inline constexpr int kServeAfterExport = 216;
inline constexpr int kFindStagingAfter = 218;
inline constexpr int kDropStagingAfter = 220;
inline constexpr int kServeAfterDrop = 222;
inline constexpr int kListFolder = 230;
inline constexpr int kCloseStaging = 234;
inline constexpr int kClosePostgres = 236;
}  // namespace to_paradox_step

// "Send Table/s To PostgreSQL" (Form2.PushButton4_Click).
namespace to_postgres_step {
inline constexpr int kNoTableSelected = 102;
inline constexpr int kBusyPointer = 110;
inline constexpr int kOpenParadox = 114;
inline constexpr int kOpenPostgres = 122;
inline constexpr int kSharedTarget = 124;
inline constexpr int kCopyEntry = 126;
inline constexpr int kTakeEntry = 128;
inline constexpr int kWaitForTable = 130;
inline constexpr int kAskOverwrite = 146;
inline constexpr int kDropOld = 150;
inline constexpr int kOldKept = 152;
inline constexpr int kOpenSource = 156;
inline constexpr int kCreateHead = 158;
inline constexpr int kReadLayout = 166;
inline constexpr int kCreateEnd = 168;
inline constexpr int kCreate = 170;  // also: the names, the target and its swap
inline constexpr int kCountRows = 172;
inline constexpr int kShowProgress = 178;
inline constexpr int kInsertRow = 182;
inline constexpr int kReadRow = 184;
inline constexpr int kFinishTyped = 186;
inline constexpr int kIdlePointer = 188;
inline constexpr int kCloseSource = 194;
inline constexpr int kListTarget = 196;
inline constexpr int kEndPointer = 202;
}  // namespace to_postgres_step

}  // namespace corvane::transfer
