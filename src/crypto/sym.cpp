#include "crypto/sym.h"

namespace sym {

void init() {}

}  // namespace sym
