// The process-wide verbose switch.
#include "app.h"

namespace spinmap {

bool verbose = false;

}  // namespace spinmap
