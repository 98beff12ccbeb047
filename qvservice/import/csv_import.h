// qvservice import: activity records from a CSV file into the store, all in
// one transaction. A bad row names its line and imports nothing; a file
// whose exact content was imported before is refused.
#pragma once

#include "qvservice/support/progress_line.h"
#include "records/csv_records.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qv::server {

struct ImportOptions {
    std::string storePath;
    std::string csvPath;
    std::string iconsDir;  // empty: no icons
};

struct ImportSummary {
    std::int64_t records = 0;
    std::size_t newEntities = 0;
    std::size_t icons = 0;
};

class ImportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Creates the store when it does not exist. Throws ImportError for bad input
// and StoreError when the store fails; either way nothing is imported, and a
// store that did not exist still does not. progress hears of each chunk parsed.
ImportSummary ImportCsv(const ImportOptions& options, const ProgressCallback& progress = {});

}  // namespace qv::server
