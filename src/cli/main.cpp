#include "cli/Cli.h"

int main(int argc, char** argv) {
    return kiv::cli::Main(argc, argv);
}
