// Stand-ins for phases and services whose modules have not landed yet, so that the builder
// links and ends in a clear error. Each is weak: its module's own definition replaces it,
// and the module's author deletes its line here when it lands.
#include "common/util.h"
#include "varkel/varkel.h"
