// ReadFamilyData: loads iway.dat, the trait file and the covariate files
// into a FamilyStore, checked and with its family weights.
#ifndef SEGMIX_DATA_READ_FAMILY_DATA_H_
#define SEGMIX_DATA_READ_FAMILY_DATA_H_

#include <span>
#include <string>
#include <string_view>

#include "data/family_store.h"
#include "textio/text_units.h"

namespace segmix {

// Loads the store and validates its structure (right after the seven
// iway.dat records, before any other file is opened). `data_file_name` and
// the covariate file names are the 16-character, blank-padded names of the
// control file (trailing blanks are not part of a name); one covariate file
// is read per name, at most kCovariateSlots. Every file is opened on `unit`
// (which must not be open) as an existing file and closed before the next.
// Writes the member count line and one "g c" line per family with observed
// members to the console. Throws StopRequest (exit 1) on a capacity excess, as
// soon as the count is read and before any value after it; TextIoError (exit 2)
// on a missing or unreadable file; InputRejected (exit 1) on an inconsistent
// structure, more covariate files than slots, a trait value beyond the 4-byte
// range (it reads as +infinity; one below -998, -infinity included, is missing)
// or an infinite covariate value. Storage is sized to the counts read.
void ReadFamilyData(TextUnits& units, int unit, std::string_view data_file_name,
                    std::span<const std::string> covariate_file_names,
                    FamilyStore& store);

}  // namespace segmix

#endif  // SEGMIX_DATA_READ_FAMILY_DATA_H_
