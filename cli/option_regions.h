#pragma once

#include <ostream>

#include "options.h"

namespace varnok {

// Reads the scripts the options name (their warnings go to err), makes the regions in the order of the options and
// turns the region demands and the expected digests into the layout's; false with the message on err and the
// status set. A region named twice, a script that gives no regions, an unknown region name or a malformed limit or
// digest is a usage error.
bool MakeRegions(ScanOptions& options, std::ostream& err, int& status);

}  // namespace varnok
