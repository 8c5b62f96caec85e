// qorobs: the batch driver, build row qorobs_build.
#include "driver.h"

int main(int argc, char** argv) {
    return qobs::main_of(qobs::qorobs_build, argc, argv);
}
