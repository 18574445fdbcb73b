// Writes the systemd unit that the Debian package installs: the unit the program would write on
// registering itself, for the program and the data folder of the package.
//
//     service-unit OUTPUT PROGRAM DATA_FOLDER
#include "platform/linux/SystemdUnit.h"
#include "settings/AppError.h"

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: service-unit OUTPUT PROGRAM DATA_FOLDER\n", stderr);
        return 2;
    }
    const std::optional<std::string> text = serviceUnitText(
        {.description = AppTitle, .program = argv[2], .programFolder = argv[3], .user = "", .shipped = true});
    if (!text) {
        std::fprintf(stderr, "service-unit: systemd cannot run %s\n", argv[2]);
        return 1;
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << *text;
    out.close();
    if (!out) {
        std::fprintf(stderr, "service-unit: could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
