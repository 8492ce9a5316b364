#include "app/settings_store.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "app/program_folder.h"
#include "support/temp_folder.h"

namespace corvane::app {
namespace {

class IniStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_.path() / "settings";  // made by the store, not here
  }
  std::string Read(SettingsStore& s, const char* key, const char* def) {
    auto r = s.Read(kApplication, kSection, key, def);
    EXPECT_TRUE(r.ok());
    return r.ok() ? r.value() : "";
  }
  testing::TempFolder temp_{"corvane-settings"};
  std::filesystem::path root_;
};

TEST_F(IniStoreTest, AbsentStoreGivesDefaultsAndCreatesNothing) {
  auto store = MakeIniSettingsStore(root_.string());
  EXPECT_EQ(Read(*store, "Server", "localhost"), "localhost");
  EXPECT_EQ(Read(*store, "User", ""), "");
  EXPECT_FALSE(std::filesystem::exists(root_));
}

TEST_F(IniStoreTest, EmptyValueStaysEmptyAndTextIsKeptExactly) {
  auto store = MakeIniSettingsStore(root_.string());
  ASSERT_TRUE(store->Write(kApplication, kSection, "Server", "").ok());
  ASSERT_TRUE(store->Write(kApplication, kSection, "Password", "a;b=c\\n [x]\r\nend").ok());
  auto again = MakeIniSettingsStore(root_.string());
  EXPECT_EQ(Read(*again, "Server", "localhost"), "");
  EXPECT_EQ(Read(*again, "Password", ""), "a;b=c\\n [x]\r\nend");
}

TEST_F(IniStoreTest, FileIsPrivateAndKeysKeepTheirOwnValues) {
  auto store = MakeIniSettingsStore(root_.string());
  for (const char* typed : {"b", "bo", "bob"}) {
    ASSERT_TRUE(store->Write(kApplication, kSection, "User", typed).ok());
  }
  ASSERT_TRUE(store->Write(kApplication, kSection, "Port", "5432").ok());
  EXPECT_EQ(Read(*store, "User", ""), "bob");
  EXPECT_EQ(Read(*store, "Port", ""), "5432");
  struct stat st {};
  ASSERT_EQ(::stat((root_ / "Vantorel" / "settings.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(IniStoreTest, UnwritableFolderIsAnErrorNotACrash) {
  std::filesystem::create_directories(root_);
  std::ofstream(root_ / "Vantorel") << "a file where the folder should be";
  auto store = MakeIniSettingsStore(root_.string());
  Status s = store->Write(kApplication, kSection, "User", "x");
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("settings"), std::string::npos);
}

TEST(ApplicationTitle, CutsAtTheLastBlankAtLeastOnce) {
  EXPECT_EQ(ApplicationTitleFor("Corvane"), "Corvane");  // one word keeps its text
  EXPECT_EQ(ApplicationTitleFor("Corvane Table Copier"), "Corvane Table");
  std::string forty(40, 'x');
  EXPECT_EQ(ApplicationTitleFor(forty + " abcd"), forty);  // 45 characters, cut once
  EXPECT_EQ(ApplicationTitleFor(std::string(30, 'y') + " a " + std::string(20, 'z')),
            std::string(30, 'y') + " a");
}

TEST(FileExistsTest, AnswersWithoutRaising) {
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FileExists("/no/such/file/anywhere"));
  const testing::TempFolder temp("corvane-file-exists");
  auto p = temp.path() / "probe";
  std::ofstream(p) << "x";
  EXPECT_TRUE(FileExists(p.string()));
}

TEST(ProgramFolderTest, HasNoTrailingSlash) {
  std::string f = ProgramFolder();
  ASSERT_FALSE(f.empty());
  if (f != "/") {
    EXPECT_NE(f.back(), '/');
  }
}

}  // namespace
}  // namespace corvane::app
