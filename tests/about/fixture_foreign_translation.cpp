// An executable whose first translation (0409/04B0) has no string table, while a table for 0407/04E4 exists.
#include "about/version_block.h"

namespace {

constexpr varnok::VersionString kStrings[] = {{"CompanyName", "Fixture"}, {"FileVersion", "9.9.9.9"}};
constexpr varnok::VersionTranslation kTranslations[] = {{0x0409, 0x04B0}, {0x0407, 0x04E4}};
constexpr varnok::VersionStringTable kTables[] = {{kTranslations[1], kStrings}};
constexpr varnok::VersionBlockContents kContents{kTranslations, kTables};

VARNOK_VERSION_BLOCK constexpr auto kVersionBlock =
    varnok::BuildVersionBlock<varnok::VersionBlockSize(kContents)>(kContents);

}  // namespace

int main() { return 0; }
