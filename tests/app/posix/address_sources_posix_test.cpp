// The Linux settings files as the program reads them: the machine's file
// before the user's, absent files skipped, unreadable ones refused.
#include "app/posix/address_sources_posix.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "common/text.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace parlex::app::posix {
namespace {

TEST(ConfFiles, MachineFileWinsOverTheUsersAndAbsentFilesAreSkipped) {
  test::TempDir dir("conf");
  ASSERT_TRUE(dir.Ok());
  const std::string machine = dir.Write("etc.conf", "ChatUrl=https://policy.example/\n").string();
  const std::string user =
      dir.Write("user.conf", "ChatUrl=http://user.example/\nUpdateUrl=http://user.example/up\n").string();
  const std::vector<SettingSource> sources =
      ReadConfFiles({dir.File("missing.conf").string(), machine, user});
  ASSERT_EQ(sources.size(), 2u);
  const AddressDecision d = DecideAddresses(sources, u"http://built.in/", u"http://built.in/up/");
  ASSERT_TRUE(d.addresses) << ToUtf8(d.error);
  EXPECT_EQ(d.addresses->chat.url, u"https://policy.example/");
  EXPECT_EQ(d.addresses->chat.source, FromUtf8(machine));
  EXPECT_EQ(d.addresses->update.url, u"http://user.example/up/");
  EXPECT_EQ(d.addresses->update.source, FromUtf8(user));
}

TEST(ConfFiles, AFileThatCannotBeReadStopsTheStart) {
  test::TempDir dir("conf");
  ASSERT_TRUE(dir.Ok());
  // A folder where the file should be: it exists, and it is no settings file.
  ASSERT_EQ(mkdir(dir.File("parlex.conf").c_str(), 0700), 0);
  const std::vector<SettingSource> sources = ReadConfFiles({dir.File("parlex.conf").string()});
  ASSERT_EQ(sources.size(), 1u);
  EXPECT_NE(sources[0].error.find(FromUtf8(dir.File("parlex.conf").string())), std::u16string::npos);
  EXPECT_FALSE(DecideAddresses(sources, u"http://a/", u"http://b/").addresses);
}

TEST(ConfFiles, TheUsersFileFollowsXdgConfigHome) {
  test::ScopedEnv config("XDG_CONFIG_HOME", "/srv/agent-config");
  EXPECT_EQ(UserConfPath(), "/srv/agent-config/parlex/parlex.conf");
  test::ScopedEnv relative("XDG_CONFIG_HOME", "relative/config");
  test::ScopedEnv home("HOME", "/home/agent");
  EXPECT_EQ(UserConfPath(), "/home/agent/.config/parlex/parlex.conf");
}

}  // namespace
}  // namespace parlex::app::posix
