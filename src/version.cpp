#include "version.h"
namespace morvel {
const char* versionText() { return "Morvel 0.1"; }
}  // namespace morvel
