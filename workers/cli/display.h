// What ombra-cli shows while boards run: on a terminal a live block of one
// line per board (operation, progress, time, latest text) under the texts
// as they scroll by; otherwise plain lines, "[n] " before each when there
// are several boards. Every call may come from any board's thread.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "board_run.h"

namespace ombra::cli {

class Display : public BoardObserver {
public:
    // `columns`: the terminal's width (live only).
    static std::unique_ptr<Display> plain(std::size_t boards, std::FILE* out);
    static std::unique_ptr<Display> live(const std::vector<std::string>& ports, std::FILE* out, int columns);
    virtual ~Display() = default;

    // A line of the front end's own, above any live block.
    virtual void line(const std::string& text) = 0;
    // Redraws the live block (its clocks); nothing for plain lines.
    virtual void refresh() {}
    // The live block keeps its last state; what follows goes below it.
    virtual void close() {}
};

// A board's line in the live block, `columns` wide at most.
struct BoardLine {
    std::size_t number = 0;
    std::string port, operation;
    unsigned attempt = 1;
    int percent = -1;  // -1: no progress yet
    double seconds = 0;
    std::string latest;  // the latest text, or the verdict at the end
    bool ended = false;
};
std::string formatBoardLine(const BoardLine& line, int columns);

}  // namespace ombra::cli
