#include "core/SavedProxy.h"

namespace {

// "ZSP" and the layout's version, then per value a presence byte and, when present, its type
// and length-prefixed bytes, then the length-prefixed address. Numbers are 32 bits, little-endian.
constexpr std::string_view kMagic = "ZSP1";

void PutNumber(std::string& out, std::uint32_t number)
{
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>((number >> shift) & 0xFF);
}

void PutBytes(std::string& out, std::string_view bytes)
{
    PutNumber(out, static_cast<std::uint32_t>(bytes.size()));
    out += bytes;
}

void PutValue(std::string& out, const std::optional<RegistryValue>& value)
{
    out += value ? '\1' : '\0';
    if (value) {
        PutNumber(out, value->type);
        PutBytes(out, value->data);
    }
}

// Takes fields off the front of the bytes; once a take fails, every later one fails too.
class Reader {
public:
    explicit Reader(std::string_view bytes) : rest_(bytes) {}

    bool Ok() const { return ok_; }
    bool AtEnd() const { return rest_.empty(); }

    std::string_view Take(std::size_t count)
    {
        if (!ok_ || count > rest_.size()) {
            ok_ = false;
            return {};
        }
        const std::string_view taken = rest_.substr(0, count);
        rest_.remove_prefix(count);
        return taken;
    }

    std::uint32_t Number()
    {
        const std::string_view bytes = Take(4);
        std::uint32_t number = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i)
            number |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
        return number;
    }

    std::string Bytes() { return std::string(Take(Number())); }

    std::optional<RegistryValue> Value()
    {
        const std::string_view presence = Take(1);
        if (!ok_ || presence[0] == '\0')
            return std::nullopt;
        if (presence[0] != '\1')
            ok_ = false;
        RegistryValue value;
        value.type = Number();
        value.data = Bytes();
        return value;
    }

private:
    std::string_view rest_;
    bool ok_ = true;
};

} // namespace

std::string EncodeSavedProxy(const SavedProxy& saved)
{
    std::string out(kMagic);
    PutValue(out, saved.enable);
    PutValue(out, saved.server);
    PutBytes(out, saved.applied);
    return out;
}

std::optional<SavedProxy> DecodeSavedProxy(std::string_view bytes)
{
    Reader reader(bytes);
    if (reader.Take(kMagic.size()) != kMagic)
        return std::nullopt;
    SavedProxy saved;
    saved.enable = reader.Value();
    saved.server = reader.Value();
    saved.applied = reader.Bytes();
    if (!reader.Ok() || !reader.AtEnd())
        return std::nullopt;
    return saved;
}
