// Where the program's own files live, the files of each user that change,
// and the small file test of the original Main module.
#pragma once

#include <string>

#include "base/status.h"

namespace corvane::app {

// The folder of the program's files (cursor, skin, samples, the empty
// staging database), without a trailing "/" except for the root. In a build
// folder that is the executable's folder; an installed program finds them in
// <prefix>/share/corvane beside its <prefix>/bin. CORVANE_PROGRAM_DIR
// overrides both (tests run from elsewhere).
std::string ProgramFolder();

// A file the install puts in the program folder: the folder belongs to the
// package and every user of the machine, so no run writes into it.
inline constexpr const char* kSharedMarkerFile = "/installed";

// True when the program's changing files must not be written into `folder`:
// it carries the marker, or this user cannot write it.
bool ProgramFolderIsShared(const std::string& folder);

// ${XDG_CACHE_HOME:-~/.cache}/corvane and ${XDG_DATA_HOME:-~/.local/share}/corvane.
// Relative XDG values are ignored, as the base-directory rules say. Fails
// only when no home folder can be found.
Result<std::string> UserCacheFolder();
Result<std::string> UserDataFolder();

// The staging database file a transfer to Paradox opens. Normally
// <program folder>/dbtemp.mdb, which is left alone when missing (the
// transfer reports it). When the program folder is shared, the user's own
// copy in the cache folder, copied from the program folder's empty one the
// first time; two programs starting together end with one intact copy.
Result<std::string> StagingDatabaseFile(const std::string& program_folder);

// The folder the sample button points at. Normally <program folder>/Samples.
// When the program folder is shared, the user's copy in the data folder,
// copied whole the first time (never half: a failed copy leaves nothing);
// an existing copy is the user's own and stays as it is. Without samples in
// the program folder the answer is the program folder's path anyway.
Result<std::string> UserSampleFolder(const std::string& program_folder);

// True when the modification time of the path can be read; never throws.
bool FileExists(const std::string& path);

// The product name cut as the title rule says: at least one cut at the last
// blank, repeated while longer than 40 characters. A name that runs out of
// blanks keeps what it has (a one-word name keeps its whole text).
std::string ApplicationTitleFor(const std::string& product_name);

inline constexpr const char* kProductName = "Corvane";

}  // namespace corvane::app
