// SPDX-License-Identifier: Apache-2.0
#include "homeenv.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using tsy::test::HomeEnv;

TEST(InstallationDirectory, ComesFromTheClearCaseVariablesInOrder) {
    HomeEnv env;
    HomeEnv::set("CLEARCASEHOME", QStringLiteral("/cc/home/"));
    HomeEnv::set("ATRIAHOME", QStringLiteral("/atria"));
    EXPECT_EQ(plat::clearcase_home(),
              std::optional<std::string>("/cc/home/")); // trailing separator kept
    HomeEnv::unset("CLEARCASEHOME");
    EXPECT_EQ(plat::clearcase_home(), std::optional<std::string>("/atria"));
    // A variable set to nothing counts as unset.
    HomeEnv::set("CLEARCASEHOME", QString());
    EXPECT_EQ(plat::clearcase_home(), std::optional<std::string>("/atria"));
    HomeEnv::set("ATRIAHOME", QString());
    EXPECT_EQ(plat::clearcase_home(), std::optional<std::string>("/opt/rational/clearcase"));
    HomeEnv::unset("CLEARCASEHOME");
    HomeEnv::unset("ATRIAHOME");
    EXPECT_EQ(plat::clearcase_home(), std::optional<std::string>("/opt/rational/clearcase"));
    // The whole value, however long: no fixed buffer cuts it.
    HomeEnv::set("CLEARCASEHOME", QString(1100, u'a'));
    EXPECT_EQ(plat::clearcase_home(), std::optional<std::string>(std::string(1100, 'a')));
}
