#include "ombra/frontend/history_list.h"

#include <cctype>

#include "ombra/frontend/list_search.h"

namespace ombra::frontend {

namespace {

// Keys are made with "%s%d".
std::string keyFor(const std::string& prefix, int index) { return prefix + std::to_string(index); }

// The last history key a save clears: "<prefix>999".
constexpr int kLastClearedKey = 999;

std::string trimSpaces(const std::string& s)
{
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

std::string trimWhiteSpace(const std::string& s)
{
    auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    std::size_t b = 0, e = s.size();
    while (b < e && space(s[b]))
        ++b;
    while (e > b && space(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

}  // namespace

void HistoryList::setMaximum(int n)
{
    maximum_ = n < 0 ? 0 : n;
    while (entries_.size() > static_cast<std::size_t>(maximum_))
        removeAt(static_cast<std::size_t>(maximum_));
}

std::string HistoryList::lastKeyName() const
{
    if (!lastKey_.empty())
        return lastKey_;
    if (!prefix_.empty())
        return prefix_;
    return "Last";
}

std::string HistoryList::load(const AppProfile& profile, const std::string& section, const std::string& prefix,
                              bool rememberLast, const std::string& lastKey)
{
    if (section.empty() || prefix.empty())
        return "";
    section_ = section;
    prefix_ = prefix;
    lastKey_ = lastKey;
    rememberLast_ = rememberLast;
    std::string text;
    for (int i = 0; i < maximum_; ++i) {
        text = profile.getString(section_, keyFor(prefix_, i), "");
        if (text.empty())
            break;
        entries_.push_back(text);
    }
    if (rememberLast_) {
        text = profile.getString(section_, lastKeyName(), "");
        if (!text.empty()) {
            const int found = findStringExact(entries_, text);
            if (found >= 0)
                select(found);
            else
                editText_ = text;
        }
    }
    return text;
}

void HistoryList::add(const std::string& text)
{
    if (section_.empty() || prefix_.empty()) {
        entries_.push_back(text);
        return;
    }
    const std::string entry = trimSpaces(text);
    entries_.insert(entries_.begin(), entry);
    if (selected_ >= 0)
        ++selected_;
    for (std::size_t i = 1; i < entries_.size(); ++i) {
        if (equalsIgnoreCase(entries_[i], entry)) {
            removeAt(i);
            break;
        }
    }
    while (entries_.size() > static_cast<std::size_t>(maximum_))
        removeAt(static_cast<std::size_t>(maximum_));
    select(0);
}

void HistoryList::save(AppProfile& profile, bool addCurrent)
{
    if (section_.empty())
        return;
    if (addCurrent) {
        const std::string current = trimWhiteSpace(editText_);
        if (!current.empty())
            add(current);
    }
    const std::size_t limit = static_cast<std::size_t>(maximum_) + 1;
    int written = 0;
    for (std::size_t i = 0; i < entries_.size() && i < limit; ++i, ++written)
        profile.writeString(section_, keyFor(prefix_, written), entries_[i]);
    for (int i = written; i <= kLastClearedKey; ++i) {
        const std::string key = keyFor(prefix_, i);
        if (profile.getString(section_, key, "").empty())
            break;
        profile.deleteEntry(section_, key);
    }
    if (rememberLast_)
        profile.writeString(section_, lastKeyName(), editText_);
}

void HistoryList::select(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= entries_.size()) {
        selected_ = -1;
        editText_.clear();
        return;
    }
    selected_ = index;
    editText_ = entries_[static_cast<std::size_t>(index)];
}

std::string HistoryList::selectedText() const
{
    if (selected_ < 0 || static_cast<std::size_t>(selected_) >= entries_.size())
        return "";
    return entries_[static_cast<std::size_t>(selected_)];
}

void HistoryList::removeAt(std::size_t index)
{
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
    const int i = static_cast<int>(index);
    if (selected_ == i)
        selected_ = -1;  // the edit field keeps its text
    else if (selected_ > i)
        --selected_;
}

}  // namespace ombra::frontend
