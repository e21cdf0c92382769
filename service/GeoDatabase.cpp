#include "GeoDatabase.h"

#include <maxminddb.h>

#include <stdexcept>

GeoDatabase::GeoDatabase(const std::filesystem::path& path) : database_(std::make_unique<MMDB_s>())
{
    const int status = MMDB_open(path.c_str(), MMDB_MODE_MMAP, database_.get());
    if (status != MMDB_SUCCESS) {
        database_.reset();
        throw std::runtime_error(path.string() + ": " + MMDB_strerror(status));
    }
}

GeoDatabase::~GeoDatabase()
{
    if (database_)
        MMDB_close(database_.get());
}

std::string GeoDatabase::Text(const std::string& address, const char* const* path) const
{
    int addressError = 0;
    int databaseError = 0;
    MMDB_lookup_result_s found = MMDB_lookup_string(database_.get(), address.c_str(), &addressError, &databaseError);
    if (addressError != 0 || databaseError != MMDB_SUCCESS || !found.found_entry)
        return {};
    MMDB_entry_data_s value{};
    if (MMDB_aget_value(&found.entry, &value, path) != MMDB_SUCCESS || !value.has_data)
        return {};
    if (value.type == MMDB_DATA_TYPE_UTF8_STRING)
        return std::string(value.utf8_string, value.data_size);
    if (value.type == MMDB_DATA_TYPE_UINT32)
        return std::to_string(value.uint32);
    return {};
}

std::string GeoDatabase::Country(const std::string& address) const
{
    static const char* const path[] = {"country", "names", "en", nullptr};
    return Text(address, path);
}

std::string GeoDatabase::CountryCodeAndName(const std::string& address) const
{
    static const char* const code[] = {"country", "iso_code", nullptr};
    const std::string iso = Text(address, code);
    const std::string name = Country(address);
    return iso.empty() || name.empty() ? std::string() : iso + " " + name;
}

std::string GeoDatabase::Network(const std::string& address) const
{
    static const char* const number[] = {"autonomous_system_number", nullptr};
    static const char* const organisation[] = {"autonomous_system_organization", nullptr};
    const std::string as = Text(address, number);
    if (as.empty())
        return {};
    const std::string name = Text(address, organisation);
    return "AS" + as + (name.empty() ? "" : " " + name);
}
