// ombra-pack IN OUT: writes IN as the complete gzip file OUT (a build step
// of the installer's payload).
#include <zlib.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: ombra-pack IN OUT\n", stderr);
        return 1;
    }
    std::FILE* in = std::fopen(argv[1], "rb");
    if (!in) {
        std::perror(argv[1]);
        return 1;
    }
    gzFile out = gzopen(argv[2], "wb9");
    if (!out) {
        std::fprintf(stderr, "ombra-pack: cannot write %s\n", argv[2]);
        std::fclose(in);
        return 1;
    }
    std::vector<char> buffer(1 << 16);
    int status = 0;
    for (;;) {
        std::size_t count = std::fread(buffer.data(), 1, buffer.size(), in);
        if (count > 0 && gzwrite(out, buffer.data(), static_cast<unsigned>(count)) != static_cast<int>(count)) {
            std::fprintf(stderr, "ombra-pack: write to %s failed\n", argv[2]);
            status = 1;
            break;
        }
        if (count < buffer.size()) {
            if (std::ferror(in)) {
                std::perror(argv[1]);
                status = 1;
            }
            break;
        }
    }
    std::fclose(in);
    if (gzclose(out) != Z_OK) status = 1;
    if (status != 0) std::remove(argv[2]);
    return status;
}
