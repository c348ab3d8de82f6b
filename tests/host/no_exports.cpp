// A shared library that is not a module: it exports only one of the two entry points.
#include "se_types.h"

SE_EXPORT int32_t getModuleProperties(int32_t, ModuleProperties*) {
    return 0;
}
