// qorobs0: the batch driver, build row qorobs0_build.
#include "driver.h"

int main(int argc, char** argv) {
    return qobs::main_of(qobs::qorobs0_build, argc, argv);
}
