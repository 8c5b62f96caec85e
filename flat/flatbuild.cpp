// flatbuild: the flat-field reference from one flat exposure.
#include "flatref.h"

int main(int argc, char** argv) {
    qor::RealSystem system;
    return flat::flatbuild(system, {argv, argv + argc});
}
