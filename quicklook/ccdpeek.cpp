// ccdpeek: the quick-look previews of a raw frame from the camera.
#include "peek.h"

int main(int argc, char** argv) {
    return peek::main(peek::ccdpeek_build, argc, argv);
}
