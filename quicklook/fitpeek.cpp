// fitpeek: the quick-look previews of a FITS frame.
#include "peek.h"

int main(int argc, char** argv) {
    return peek::main(peek::fitpeek_build, argc, argv);
}
