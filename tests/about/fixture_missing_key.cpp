// An executable whose string table lacks "InternalName" and "Comments".
#include "about/version_block.h"

namespace {

constexpr varnok::VersionString kStrings[] = {
    {"CompanyName", "Fixture Company"},   {"FileDescription", "Fixture"}, {"FileVersion", "2.3.4.5"},
    {"LegalCopyright", "None"},           {"LegalTrademarks", "None"},    {"OriginalFilename", "fixture"},
    {"ProductName", "Fixture Product"},   {"ProductVersion", "2.3"},
};
constexpr varnok::VersionTranslation kTranslations[] = {{0x0407, 0x04E4}};
constexpr varnok::VersionStringTable kTables[] = {{kTranslations[0], kStrings}};
constexpr varnok::VersionBlockContents kContents{kTranslations, kTables};

VARNOK_VERSION_BLOCK constexpr auto kVersionBlock =
    varnok::BuildVersionBlock<varnok::VersionBlockSize(kContents)>(kContents);

}  // namespace

int main() { return 0; }
