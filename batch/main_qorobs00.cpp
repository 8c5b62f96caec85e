// qorobs00: the batch driver, build row qorobs00_build.
#include "driver.h"

int main(int argc, char** argv) {
    return qobs::main_of(qobs::qorobs00_build, argc, argv);
}
