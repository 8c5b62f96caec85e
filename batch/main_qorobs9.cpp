// qorobs9: the batch driver, build row qorobs9_build.
#include "driver.h"

int main(int argc, char** argv) {
    return qobs::main_of(qobs::qorobs9_build, argc, argv);
}
