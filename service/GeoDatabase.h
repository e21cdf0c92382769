#pragma once
// A database in MaxMind's format, read with libmaxminddb: a country database (GeoLite2-Country,
// say) tells an address's country, an ASN database (GeoLite2-ASN) its network.

#include <filesystem>
#include <memory>
#include <string>

struct MMDB_s;

class GeoDatabase {
public:
    // Raises std::runtime_error when the file is no such database.
    explicit GeoDatabase(const std::filesystem::path& path);
    ~GeoDatabase();
    GeoDatabase(const GeoDatabase&) = delete;
    GeoDatabase& operator=(const GeoDatabase&) = delete;

    // The country's English name; empty where the database does not know the address.
    std::string Country(const std::string& address) const;
    // The country's ISO code and English name ("JP Japan"); empty where either is unknown.
    std::string CountryCodeAndName(const std::string& address) const;
    // The network's AS number and organisation ("AS2516 KDDI CORPORATION"); empty where unknown.
    std::string Network(const std::string& address) const;

private:
    std::string Text(const std::string& address, const char* const* path) const;

    std::unique_ptr<MMDB_s> database_;
};
