#include "display.h"

#include <algorithm>
#include <mutex>

#include "ombra/platform/clock.h"

namespace ombra::cli {

namespace {

std::string percentText(DWORD done, DWORD total) {
    const unsigned percent = total != 0 ? static_cast<unsigned>(100ull * done / total) : 0;
    char b[16];
    std::snprintf(b, sizeof b, "[%3u%%]", percent);
    return b;
}

// A worker's text on one screen line: no line breaks or escapes of its own.
std::string printable(const std::string& text) {
    std::string s = text;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return s;
}

// Keeps the tail, which tells ports apart ("/dev/pts/12", ".../board3").
std::string tail(const std::string& s, std::size_t width) {
    if (s.size() <= width) return s + std::string(width - s.size(), ' ');
    if (width <= 3) return s.substr(s.size() - width);
    return "..." + s.substr(s.size() - (width - 3));
}

class PlainDisplay final : public Display {
public:
    PlainDisplay(std::size_t boards, std::FILE* out) : out_(out), prefixed_(boards > 1), lastTenth_(boards + 1, -1) {}

    void line(const std::string& text) override { print(0, text, false); }

    void operationStarted(std::size_t board, const std::string& heading, const std::string&,
                          unsigned attempt) override {
        {
            std::lock_guard guard(lock_);
            lastTenth_.at(board) = -1;
        }
        print(board, attempt > 1 ? heading + " (attempt " + std::to_string(attempt) + ")" : heading, false);
    }
    void text(std::size_t board, const std::string& text) override { print(board, text, true); }
    void progress(std::size_t board, DWORD done, DWORD total) override {
        // Every tenth is enough in a log.
        const int tenth = total != 0 ? static_cast<int>(10ull * done / total) : 0;
        {
            std::lock_guard guard(lock_);
            if (lastTenth_.at(board) == tenth) return;
            lastTenth_.at(board) = tenth;
        }
        print(board, percentText(done, total), true);
    }
    void completion(std::size_t board, DWORD status, DWORD value) override {
        print(board, std::string("status ") + statusName(status) + " (" + std::to_string(value) + ")", true);
    }
    void note(std::size_t board, const std::string& line) override { print(board, line, true); }
    void boardEnded(const BoardResult& r) override {
        if (prefixed_) print(r.number, std::string("board ") + verdictName(r.verdict), false);
    }

private:
    void print(std::size_t board, const std::string& text, bool indented) {
        std::lock_guard guard(lock_);
        if (prefixed_ && board != 0) std::fprintf(out_, "[%zu] ", board);
        std::fprintf(out_, "%s%s\n", indented ? "  " : "", text.c_str());
        std::fflush(out_);
    }

    std::mutex lock_;
    std::FILE* out_;
    bool prefixed_;
    std::vector<int> lastTenth_;  // by board number
};

class LiveDisplay final : public Display {
public:
    LiveDisplay(const std::vector<std::string>& ports, std::FILE* out, int columns)
        : out_(out), columns_(std::max(columns, 20)) {
        for (std::size_t i = 0; i < ports.size(); ++i) {
            BoardLine l;
            l.number = i + 1;
            l.port = ports[i];
            l.latest = "waiting";
            lines_.push_back(l);
            started_.push_back(GetTickCount());
        }
    }

    void line(const std::string& text) override { scroll(0, text); }

    void operationStarted(std::size_t board, const std::string& heading, const std::string& operation,
                          unsigned attempt) override {
        {
            std::lock_guard guard(lock_);
            BoardLine& l = at(board);
            l.operation = operation;
            l.attempt = attempt;
            l.percent = -1;
        }
        scroll(board, attempt > 1 ? heading + " (attempt " + std::to_string(attempt) + ")" : heading);
    }
    void text(std::size_t board, const std::string& text) override {
        const std::string shown = printable(text);
        {
            std::lock_guard guard(lock_);
            at(board).latest = shown;
        }
        scroll(board, "  " + shown);
    }
    void progress(std::size_t board, DWORD done, DWORD total) override {
        const int percent = total != 0 ? static_cast<int>(100ull * done / total) : 0;
        std::lock_guard guard(lock_);
        BoardLine& l = at(board);
        if (l.percent == percent) return;
        l.percent = percent;
        redraw();
    }
    void completion(std::size_t, DWORD, DWORD) override {}
    void note(std::size_t board, const std::string& line) override {
        {
            std::lock_guard guard(lock_);
            at(board).latest = line;
        }
        scroll(board, "  " + line);
    }
    void boardEnded(const BoardResult& r) override {
        std::lock_guard guard(lock_);
        BoardLine& l = at(r.number);
        l.ended = true;
        l.latest = verdictName(r.verdict);
        if (r.verdict != Verdict::passed && !r.failures.empty()) l.latest += ": " + printable(r.failures.front());
        redraw();
    }
    void refresh() override {
        std::lock_guard guard(lock_);
        redraw();
    }
    void close() override {
        std::lock_guard guard(lock_);
        redraw();
        closed_ = true;
    }

private:
    BoardLine& at(std::size_t board) { return lines_.at(board - 1); }

    // Texts scroll above the block: the block is wiped, the line written,
    // the block drawn again below it.
    void scroll(std::size_t board, const std::string& text) {
        std::lock_guard guard(lock_);
        if (closed_) return;
        wipe();
        std::string shown = board != 0 ? "[" + std::to_string(board) + "] " + text : text;
        std::fprintf(out_, "%s\n", shown.c_str());
        draw();
    }
    void redraw() {
        if (closed_) return;
        wipe();
        draw();
    }
    void wipe() {
        // Up to the block's first line, then clear to the end of the screen.
        if (drawn_) std::fprintf(out_, "\r\x1b[%zuA\x1b[J", lines_.size());
        drawn_ = false;
    }
    void draw() {
        const DWORD now = GetTickCount();
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            BoardLine& l = lines_[i];
            if (!l.ended) l.seconds = (now - started_[i]) / 1000.0;
            std::fprintf(out_, "%s\n", formatBoardLine(l, columns_).c_str());
        }
        std::fflush(out_);
        drawn_ = true;
    }

    std::mutex lock_;
    std::FILE* out_;
    int columns_;
    std::vector<BoardLine> lines_;
    std::vector<DWORD> started_;
    bool drawn_ = false, closed_ = false;
};

}  // namespace

std::string formatBoardLine(const BoardLine& l, int columns) {
    std::string s = "[" + std::to_string(l.number) + "] " + tail(l.port, 14) + " ";
    std::string op = l.operation.empty() ? "-" : l.operation;
    if (l.attempt > 1) op += " #" + std::to_string(l.attempt);
    s += op + std::string(op.size() < 20 ? 20 - op.size() : 1, ' ');
    if (l.percent >= 0) {
        const int filled = std::clamp(l.percent, 0, 100) / 5;
        char pct[8];
        std::snprintf(pct, sizeof pct, "%3d%%", std::clamp(l.percent, 0, 100));
        s += "[" + std::string(static_cast<std::size_t>(filled), '#') + std::string(static_cast<std::size_t>(20 - filled), '.') +
             "] " + pct;
    } else {
        s += std::string(27, ' ');
    }
    char t[16];
    std::snprintf(t, sizeof t, " %6.1f s  ", l.seconds);
    s += t;
    s += l.latest;
    // One screen line each, or the block's cursor moves go wrong.
    const std::size_t width = static_cast<std::size_t>(std::max(columns - 1, 10));
    if (s.size() > width) s.resize(width);
    return s;
}

std::unique_ptr<Display> Display::plain(std::size_t boards, std::FILE* out) {
    return std::make_unique<PlainDisplay>(boards, out);
}

std::unique_ptr<Display> Display::live(const std::vector<std::string>& ports, std::FILE* out, int columns) {
    return std::make_unique<LiveDisplay>(ports, out, columns);
}

}  // namespace ombra::cli
