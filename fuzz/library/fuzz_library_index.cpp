// Any bytes as library.sqlite: opening the library either serves them as an index, rebuilds the
// index from the folder, or refuses with a reason; searches over what it serves end with rows or
// an error, never a crash. The folder holds no recordings, so a rebuilt index must be empty.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "library/index.h"
#include "library/search.h"
#include "library/sqlite.h"

namespace {

const std::string& folder() {
    static const std::string path = [] {
        std::string templ = (std::filesystem::temp_directory_path() / "orvik-fuzz-XXXXXX").string();
        if (!::mkdtemp(templ.data()))
            std::abort();
        return templ;
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orvik::library;
    namespace fs = std::filesystem;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(folder(), ec))
        fs::remove_all(e.path(), ec);
    const std::string index = folder() + "/" + std::string(kIndexFileName);
    {
        std::ofstream out(index, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    OpenReport report;
    auto opened = LibraryIndex::open(folder(), LibraryIndex::Check::Thorough, &report);
    if (!opened)
        return 0;
    try {
        if (report.rebuilt && opened->count() != 0)
            std::abort();
        SearchQuery q;
        q.box = GeoBox{-10, 170, 60, -170};
        q.minSpeedKmh = 10;
        (void)search(*opened, q);
        SearchQuery near;
        near.near = GeoCircle{89.9, 0, 50'000};
        near.from = 0;
        (void)search(*opened, near);
        (void)opened->all();
        opened->rebuildTrips();
    } catch (const sql::SqlError&) {
        // Damage below what the open checked: the command line rebuilds and asks again.
    }
    return 0;
}
