// flatbuild: the flat-field reference from one flat exposure.
#include "flatref.h"

int main(int argc, char** argv) {
    return flat::run(argc, argv);
}
