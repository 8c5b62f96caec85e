// qorobs10: the batch driver, build row qorobs10_build.
#include "driver.h"

int main(int argc, char** argv) {
    return qobs::main_of(qobs::qorobs10_build, argc, argv);
}
