// ccdtemp: the detector temperature as the camera database holds it.
#include "run.h"

int main() {
    return qor::run({"dbshow", "cameradata.temperature.current.detector"});
}
