// The history of a file field (an editable combo box) over a plain list:
// its entries, the selected one and the edit field's text, loaded from and
// saved to the application profile as "<prefix>0", "<prefix>1", ... The
// widget only mirrors it. As in a combo box, selecting an entry sets the
// edit text to it; setting the edit text leaves the selection alone.
#pragma once

#include <string>
#include <vector>

#include "ombra/frontend/profile.h"

namespace ombra::frontend {

class HistoryList {
public:
    // Stores n (a negative n counts as 0) and deletes the entries past it.
    void setMaximum(int n);
    int maximum() const { return maximum_; }

    // Does nothing and gives "" when `section` or `prefix` is empty.
    // Otherwise appends "<prefix>0", "<prefix>1", ... up to the first empty
    // or missing one or the maximum; with `rememberLast` reads the text under
    // `lastKey` (else the prefix, else "Last") and selects the entry equal to
    // it (case-insensitive) or, with none, puts it into the edit field.
    // Gives the last text read.
    std::string load(const AppProfile& profile, const std::string& section, const std::string& prefix,
                     bool rememberLast = true, const std::string& lastKey = "");
    // Without a section or prefix the text is only appended. Otherwise the
    // text without surrounding spaces goes to the top, an equal entry below
    // it (case-insensitive) is removed, the list is cut to the maximum and
    // the top entry selected.
    void add(const std::string& text);
    // With a section: optionally adds the edit text (trimmed, when not
    // empty); writes the entries (at most maximum + 1); deletes the keys that
    // follow, up to "<prefix>999", stopping at the first one without text;
    // with remember-last writes the edit text under the last key.
    void save(AppProfile& profile, bool addCurrent);

    const std::vector<std::string>& entries() const { return entries_; }
    int selected() const { return selected_; }
    // An index outside the list selects nothing and clears the edit text.
    void select(int index);
    std::string editText() const { return editText_; }
    void setEditText(const std::string& text) { editText_ = text; }
    std::string selectedText() const;  // "" when none

    const std::string& section() const { return section_; }
    const std::string& prefix() const { return prefix_; }

private:
    std::string lastKeyName() const;
    void removeAt(std::size_t index);

    std::vector<std::string> entries_;
    int selected_ = -1;
    std::string editText_;
    std::string section_;
    std::string prefix_;
    std::string lastKey_;
    bool rememberLast_ = true;
    int maximum_ = 10;
};

}  // namespace ombra::frontend
