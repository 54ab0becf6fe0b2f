// The history save's clean-up at its far end: a thousand registry writes.
#include <gtest/gtest.h>

#include <fstream>

#include "ombra/frontend/history_list.h"
#include "scratch.h"

using namespace ombra::frontend;
using namespace ombra::frontend::test;

TEST(HistoryListSlow, SaveClearsKeysUpToNineHundredNinetyNine)
{
    Scratch scratch;
    AppProfile profile("Tarvik", "Ombra");
    const std::string settings = "Software\\Tarvik\\Ombra\\Settings";
    {
        // The hive written whole, as a hand-edited one: a thousand separate
        // writes would each rewrite the growing file.
        std::ofstream hive(scratch.path("registry/HKEY_CURRENT_USER.reg"), std::ios::binary);
        hive << "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\" << settings << "]\r\n";
        for (int i = 0; i <= 1000; ++i)
            hive << "\"MRU_C_BUS_FILE" << i << "\"=\"/cbus/" << i << "\"\r\n";
        hive << "\r\n";
    }
    ASSERT_EQ(profile.getString("Settings", "MRU_C_BUS_FILE1000", ""), "/cbus/1000");
    HistoryList list;
    list.setMaximum(2);
    list.load(profile, "Settings", "MRU_C_BUS_FILE", false);
    list.save(profile, false);
    EXPECT_EQ(profile.getString("Settings", "MRU_C_BUS_FILE1", ""), "/cbus/1");
    EXPECT_FALSE(readValue(HKEY_CURRENT_USER, settings, "MRU_C_BUS_FILE2"));
    EXPECT_FALSE(readValue(HKEY_CURRENT_USER, settings, "MRU_C_BUS_FILE999"));
    EXPECT_EQ(profile.getString("Settings", "MRU_C_BUS_FILE1000", ""), "/cbus/1000");
}
