// The host's line rate as the pty holds it. Read through termios2, so rates
// set with BOTHER (any value, as the product's serial layer sets them) are
// seen as well as the standard ones. Kept apart: <asm/termbits.h> and
// <termios.h> cannot share a file.
#include <asm/termbits.h>
#include <cstdint>
#include <sys/ioctl.h>

namespace ombra::sim {

std::uint32_t ptyOutputBaud(int fd) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return 0;
    return t.c_ospeed;
}

} // namespace ombra::sim
