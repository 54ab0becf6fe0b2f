// The file fields' history lists: load, add, save and the combo box's
// selection and edit text.
#include <gtest/gtest.h>

#include "ombra/frontend/history_list.h"
#include "scratch.h"

using namespace ombra::frontend;
using namespace ombra::frontend::test;

namespace {

const std::string kSettingsKey = "Software\\Tarvik\\Ombra\\Settings";
const char* const kPrefix = "MRU_IMAGE_FILE";

std::string key(int i) { return kPrefix + std::to_string(i); }

void storeHistory(int count)
{
    for (int i = 0; i < count; ++i)
        setText(HKEY_CURRENT_USER, kSettingsKey, key(i), "/img/" + std::to_string(i) + ".bin");
}

std::vector<std::string> images(std::initializer_list<int> numbers)
{
    std::vector<std::string> out;
    for (int n : numbers)
        out.push_back("/img/" + std::to_string(n) + ".bin");
    return out;
}

}  // namespace

TEST(HistoryList, LoadReadsUpToTheFirstGapAndTheMaximum)
{
    Scratch scratch;
    AppProfile profile("Tarvik", "Ombra");
    storeHistory(12);
    HistoryList list;
    list.load(profile, "Settings", kPrefix);
    EXPECT_EQ(list.entries(), images({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(list.selected(), -1);

    setText(HKEY_CURRENT_USER, kSettingsKey, key(3), "");
    HistoryList gap;
    gap.load(profile, "Settings", kPrefix);
    EXPECT_EQ(gap.entries(), images({0, 1, 2}));

    HistoryList small;
    small.setMaximum(2);
    EXPECT_EQ(small.load(profile, "Settings", kPrefix, false), "/img/1.bin") << "the last text read";
    EXPECT_EQ(small.entries(), images({0, 1}));

    HistoryList none;
    EXPECT_EQ(none.load(profile, "", kPrefix), "");
    EXPECT_EQ(none.load(profile, "Settings", ""), "");
    EXPECT_TRUE(none.entries().empty());
}

TEST(HistoryList, RememberedTextSelectsItsEntryOrFillsTheEditField)
{
    Scratch scratch;
    AppProfile profile("Tarvik", "Ombra");
    storeHistory(3);

    setText(HKEY_CURRENT_USER, kSettingsKey, kPrefix, "/IMG/1.BIN");
    HistoryList list;
    EXPECT_EQ(list.load(profile, "Settings", kPrefix), "/IMG/1.BIN");
    EXPECT_EQ(list.selected(), 1) << "found by the case-insensitive exact search";
    EXPECT_EQ(list.editText(), "/img/1.bin");
    EXPECT_EQ(list.selectedText(), "/img/1.bin");

    setText(HKEY_CURRENT_USER, kSettingsKey, kPrefix, "/elsewhere.bin");
    HistoryList other;
    other.load(profile, "Settings", kPrefix);
    EXPECT_EQ(other.selected(), -1);
    EXPECT_EQ(other.editText(), "/elsewhere.bin");
    EXPECT_EQ(other.selectedText(), "");

    HistoryList forgetful;
    forgetful.load(profile, "Settings", kPrefix, false);
    EXPECT_EQ(forgetful.selected(), -1);
    EXPECT_EQ(forgetful.editText(), "");

    setText(HKEY_CURRENT_USER, kSettingsKey, "Current", "/img/2.bin");
    HistoryList keyed;
    keyed.load(profile, "Settings", kPrefix, true, "Current");
    EXPECT_EQ(keyed.selected(), 2);
}

TEST(HistoryList, AddMovesToTopAndDropsTheOldest)
{
    Scratch scratch;
    AppProfile profile("Tarvik", "Ombra");
    storeHistory(10);
    HistoryList list;
    list.load(profile, "Settings", kPrefix);

    list.add("  /img/new.bin  ");
    ASSERT_EQ(list.entries().size(), 10u);
    EXPECT_EQ(list.entries().front(), "/img/new.bin");
    EXPECT_EQ(list.entries().back(), "/img/8.bin") << "the eleventh entry drops the oldest";
    EXPECT_EQ(list.selected(), 0);
    EXPECT_EQ(list.editText(), "/img/new.bin");

    list.add("/IMG/5.BIN");
    ASSERT_EQ(list.entries().size(), 10u);
    EXPECT_EQ(list.entries()[0], "/IMG/5.BIN");
    EXPECT_EQ(list.entries()[1], "/img/new.bin");
    EXPECT_EQ(std::count(list.entries().begin(), list.entries().end(), "/img/5.bin"), 0);
    EXPECT_EQ(list.entries().back(), "/img/8.bin") << "nothing else dropped";

    // Without a section the text is only appended, untrimmed.
    HistoryList loose;
    loose.add(" a ");
    loose.add(" a ");
    EXPECT_EQ(loose.entries(), (std::vector<std::string>{" a ", " a "}));
    EXPECT_EQ(loose.selected(), -1);
}

TEST(HistoryList, SaveWritesTheEntriesAndRemovesTheKeysPastThem)
{
    Scratch scratch;
    AppProfile profile("Tarvik", "Ombra");
    storeHistory(10);
    HistoryList list;
    list.load(profile, "Settings", kPrefix);
    list.setMaximum(3);
    EXPECT_EQ(list.entries(), images({0, 1, 2}));
    list.setEditText("\t/img/typed.bin \n");
    list.save(profile, true);

    EXPECT_EQ(profile.getString("Settings", key(0), ""), "/img/typed.bin");
    EXPECT_EQ(profile.getString("Settings", key(1), ""), "/img/0.bin");
    EXPECT_EQ(profile.getString("Settings", key(2), ""), "/img/1.bin");
    for (int i = 3; i <= 9; ++i)
        EXPECT_FALSE(readValue(HKEY_CURRENT_USER, kSettingsKey, key(i))) << key(i);
    EXPECT_EQ(profile.getString("Settings", kPrefix, ""), "/img/typed.bin") << "remember-last";

    HistoryList reloaded;
    reloaded.setMaximum(3);
    reloaded.load(profile, "Settings", kPrefix);
    EXPECT_EQ(reloaded.entries(), list.entries());
    EXPECT_EQ(reloaded.selected(), 0);
}

TEST(HistoryList, SaveStopsClearingAtTheFirstGap)
{
    Scratch scratch;
    AppProfile profile("Tarvik", "Ombra");
    storeHistory(2);
    setText(HKEY_CURRENT_USER, kSettingsKey, key(5), "stray");
    HistoryList list;
    list.load(profile, "Settings", kPrefix);
    list.setMaximum(1);
    list.save(profile, false);
    EXPECT_TRUE(readValue(HKEY_CURRENT_USER, kSettingsKey, key(0)));
    EXPECT_FALSE(readValue(HKEY_CURRENT_USER, kSettingsKey, key(1)));
    EXPECT_EQ(profile.getString("Settings", key(5), ""), "stray");

    // An empty edit field adds nothing; a blank one neither.
    list.setEditText("   ");
    list.save(profile, true);
    EXPECT_EQ(list.entries().size(), 1u);
}

TEST(HistoryList, SelectionFollowsTheComboBoxRules)
{
    Scratch scratch;
    AppProfile profile("Tarvik", "Ombra");
    storeHistory(4);
    HistoryList list;
    list.load(profile, "Settings", kPrefix, false);

    list.select(2);
    EXPECT_EQ(list.editText(), "/img/2.bin");
    list.setEditText("typed");
    EXPECT_EQ(list.selected(), 2) << "typing leaves the selection";
    EXPECT_EQ(list.selectedText(), "/img/2.bin");
    list.select(7);
    EXPECT_EQ(list.selected(), -1);
    EXPECT_EQ(list.editText(), "");

    list.select(3);
    list.setMaximum(3);  // the selected entry goes
    EXPECT_EQ(list.selected(), -1);
    EXPECT_EQ(list.editText(), "/img/3.bin");
    list.select(1);
    list.setMaximum(-4);
    EXPECT_EQ(list.maximum(), 0);
    EXPECT_TRUE(list.entries().empty());
}
