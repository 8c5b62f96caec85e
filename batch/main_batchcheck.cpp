#include "batchcheck.h"

int main(int argc, char** argv) {
    qor::RealSystem system;
    return qobs::batchcheck(system, {argv, argv + argc});
}
