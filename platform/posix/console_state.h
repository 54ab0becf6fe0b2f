// Inside the platform library only: what the console's interrupt handling
// means for the processes this process starts.
#pragma once

namespace ombra::platform::detail {

// True once the process takes the console's interrupt itself: its children
// then start in a process group of their own, out of the terminal's reach.
bool childrenOutsideConsoleGroup();

}  // namespace ombra::platform::detail
