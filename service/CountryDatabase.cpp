#include "CountryDatabase.h"

#include <maxminddb.h>

#include <stdexcept>

CountryDatabase::CountryDatabase(const std::filesystem::path& path) : database_(std::make_unique<MMDB_s>())
{
    const int status = MMDB_open(path.c_str(), MMDB_MODE_MMAP, database_.get());
    if (status != MMDB_SUCCESS) {
        database_.reset();
        throw std::runtime_error(path.string() + ": " + MMDB_strerror(status));
    }
}

CountryDatabase::~CountryDatabase()
{
    if (database_)
        MMDB_close(database_.get());
}

std::string CountryDatabase::Country(const std::string& address) const
{
    int addressError = 0;
    int databaseError = 0;
    MMDB_lookup_result_s found = MMDB_lookup_string(database_.get(), address.c_str(), &addressError, &databaseError);
    if (addressError != 0 || databaseError != MMDB_SUCCESS || !found.found_entry)
        return {};
    MMDB_entry_data_s name{};
    if (MMDB_get_value(&found.entry, &name, "country", "names", "en", nullptr) != MMDB_SUCCESS || !name.has_data ||
        name.type != MMDB_DATA_TYPE_UTF8_STRING)
        return {};
    return std::string(name.utf8_string, name.data_size);
}
