#include <algorithm>

#include "skip_flag.h"

namespace kes {

// Elements before the first match are not touched; the rest are moved down
// once each, in order, and the storage is not reallocated.
void stripSkipFlag(std::vector<std::string>& args) {
    args.erase(std::remove(args.begin(), args.end(), kSkipSelfUpdateFlag), args.end());
}

}  // namespace kes
