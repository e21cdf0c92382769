#include "core/SavedProxy.h"

namespace {

// "ZSP" and the layout's version. Numbers are 32 bits, little-endian; bytes are length-prefixed.
//   1: per value ("ProxyEnable", "ProxyServer") a presence byte and, when present, its type and
//      bytes; then the address.
//   2: the four values so; a presence byte and, when present, the connection's flags and its
//      three texts; the number of addresses, then each; a byte 1 while the values are being
//      put back, else 0.
constexpr std::string_view kFirstLayout = "ZSP1";
constexpr std::string_view kLayout = "ZSP2";

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

std::string WideBytes(const std::u16string& text)
{
    std::string bytes = WideTextValue(text).data;
    bytes.resize(bytes.size() - 2);
    return bytes;
}

std::u16string FromWideBytes(std::string_view bytes)
{
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8);
    return text;
}

void PutValue(std::string& out, const UserValue& value)
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
    std::size_t Left() const { return rest_.size(); }

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
    std::u16string Wide()
    {
        const std::string_view bytes = Take(Number());
        if (bytes.size() % 2 != 0)
            ok_ = false;
        return FromWideBytes(bytes);
    }

    bool Present()
    {
        const std::string_view presence = Take(1);
        if (ok_ && presence[0] != '\0' && presence[0] != '\1')
            ok_ = false;
        return ok_ && presence[0] == '\1';
    }

    UserValue Value()
    {
        if (!Present())
            return std::nullopt;
        RegistryValue value;
        value.type = Number();
        value.data = Bytes();
        return value;
    }

private:
    std::string_view rest_;
    bool ok_ = true;
};

// A value of the first layout in the wide form: its text, if it is text, as the wide calls give it.
UserValue Widened(UserValue value, const std::function<std::u16string(std::string_view)>& fromAnsi)
{
    constexpr std::uint32_t kRegMultiSz = 7;
    if (value && (value->type == kRegSz || value->type == kRegExpandSz || value->type == kRegMultiSz))
        value->data = WideBytes(fromAnsi(value->data));
    return value;
}

std::optional<SavedProxy> DecodeFirstLayout(Reader& reader,
                                            const std::function<std::u16string(std::string_view)>& fromAnsi)
{
    SavedProxy saved;
    saved.holdsEverything = false;
    saved.enable = Widened(reader.Value(), fromAnsi);
    saved.server = Widened(reader.Value(), fromAnsi);
    saved.applied.push_back(fromAnsi(reader.Bytes()));
    if (!reader.Ok() || !reader.AtEnd())
        return std::nullopt;
    return saved;
}

} // namespace

std::string EncodeSavedProxy(const SavedProxy& saved)
{
    std::string out(kLayout);
    for (const UserValue* value : {&saved.enable, &saved.server, &saved.bypass, &saved.autoConfigUrl})
        PutValue(out, *value);
    out += saved.connection ? '\1' : '\0';
    if (saved.connection) {
        PutNumber(out, saved.connection->flags);
        for (const std::u16string* text :
             {&saved.connection->server, &saved.connection->bypass, &saved.connection->autoConfigUrl})
            PutBytes(out, WideBytes(*text));
    }
    PutNumber(out, static_cast<std::uint32_t>(saved.applied.size()));
    for (const std::u16string& address : saved.applied)
        PutBytes(out, WideBytes(address));
    out += saved.restoring ? '\1' : '\0';
    return out;
}

std::optional<SavedProxy> DecodeSavedProxy(std::string_view bytes,
                                           const std::function<std::u16string(std::string_view)>& fromAnsi)
{
    Reader reader(bytes);
    const std::string_view layout = reader.Take(kLayout.size());
    if (layout == kFirstLayout)
        return DecodeFirstLayout(reader, fromAnsi);
    if (layout != kLayout)
        return std::nullopt;

    SavedProxy saved;
    for (UserValue* value : {&saved.enable, &saved.server, &saved.bypass, &saved.autoConfigUrl})
        *value = reader.Value();
    if (reader.Present()) {
        ConnectionSettings connection;
        connection.flags = reader.Number();
        connection.server = reader.Wide();
        connection.bypass = reader.Wide();
        connection.autoConfigUrl = reader.Wide();
        saved.connection = connection;
    }
    const std::uint32_t count = reader.Number();
    if (count > reader.Left() / 4) // each address takes at least its length
        return std::nullopt;
    for (std::uint32_t i = 0; i < count; ++i)
        saved.applied.push_back(reader.Wide());
    saved.restoring = reader.Present();
    if (!reader.Ok() || !reader.AtEnd())
        return std::nullopt;
    return saved;
}
