// ccdpeek: the quick-look previews of a raw frame from the camera.
#include "peek.h"

int main(int argc, char** argv) {
    qor::RealSystem system;
    return peek::ccdpeek(system, {argv, argv + argc});
}
