#pragma once
// A country database in MaxMind's format (GeoLite2-Country, say), read with libmaxminddb: the
// country of an address, in English.

#include <filesystem>
#include <memory>
#include <string>

struct MMDB_s;

class CountryDatabase {
public:
    // Raises std::runtime_error when the file is no such database.
    explicit CountryDatabase(const std::filesystem::path& path);
    ~CountryDatabase();
    CountryDatabase(const CountryDatabase&) = delete;
    CountryDatabase& operator=(const CountryDatabase&) = delete;

    // The country's English name; empty where the database does not know the address.
    std::string Country(const std::string& address) const;

private:
    std::unique_ptr<MMDB_s> database_;
};
