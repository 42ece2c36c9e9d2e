// nki-readers: lists the PC/SC readers as the library sees them, and for each one
// whether it holds a token.
#include <cstdio>
#include <cstring>

#include "kcarlib/nki.h"

int main(int argc, char **argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("usage: nki-readers\nLists the PC/SC readers and the kind of carrier each one holds.\n");
        return 0;
    }
    std::printf("%s\n", nkiGetDllDescription());
    char name[NKI_MAX_READER_NAME];
    int readers = 0;
    for (int i = 1; nkiEnumDevices(i, 0, name) == NKI_OK; ++i) {
        ++readers;
        int32_t kind = 0;
        uint32_t rc = nkiGetDeviceType(name, &kind);
        if (rc == NKI_OK)
            std::printf("reader %d: %s: token present (kind %d)\n", i, name, kind);
        else
            std::printf("reader %d: %s: no card\n", i, name);
    }
    if (readers == 0) {
        std::printf("no readers found\n");
        return 1;
    }
    return 0;
}
