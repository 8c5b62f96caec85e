// fitpeek: the quick-look previews of a FITS frame.
#include "peek.h"

int main(int argc, char** argv) {
    qor::RealSystem system;
    return peek::fitpeek(system, {argv, argv + argc});
}
