// qorobs1: the batch driver, build row qorobs1_build.
#include "driver.h"

int main(int argc, char** argv) {
    return qobs::main_of(qobs::qorobs1_build, argc, argv);
}
