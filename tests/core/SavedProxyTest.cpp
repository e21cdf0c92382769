#include "core/SavedProxy.h"

#include "Latin1.h"

#include <gtest/gtest.h>

namespace {

template <std::size_t N>
std::string Bytes(const char (&literal)[N])
{
    return std::string(literal, N - 1);
}

SavedProxy UsersSettings()
{
    SavedProxy saved;
    saved.enable = DwordValue(1);
    saved.server = WideTextValue(u"\u043f\u0440\u043e\u043a\u0441\u0438.corp:3128");
    saved.bypass = WideTextValue(u"*.corp.example;intranet");
    saved.autoConfigUrl = RegistryValue{kRegExpandSz, std::string("w\0", 2)};
    saved.connection = ConnectionSettings{kProxyTypeDirect | kProxyTypeAutoDetect, u"corp:3128", u"", u"http://pac/"};
    saved.applied = {u"127.0.0.9:8080", u"127.0.0.10:80"};
    return saved;
}

TEST(SavedProxy, EverythingComesBackAsItWasSaved)
{
    SavedProxy restoring = UsersSettings();
    restoring.restoring = true;
    SavedProxy nothing;
    nothing.applied = {u""};
    SavedProxy odd;
    odd.enable = RegistryValue{kRegBinary, std::string("\0\xff", 2)};
    odd.applied = {std::u16string(5000, u'x')};
    for (const SavedProxy& saved : {UsersSettings(), restoring, nothing, odd, SavedProxy{}})
        EXPECT_EQ(DecodeSavedProxy(EncodeSavedProxy(saved), Latin1), saved);
}

TEST(SavedProxy, TheFirstLayoutIsReadAsTheWideFormOfItsText)
{
    // "ZSP1", "ProxyEnable" a REG_DWORD 1, "ProxyServer" a REG_SZ "c\xe9:1", the address.
    const std::string first = Bytes("ZSP1\1\4\0\0\0\4\0\0\0\1\0\0\0") +
                              Bytes("\1\1\0\0\0\5\0\0\0c\xe9:1\0") + Bytes("\x0e\0\0\0") + "127.0.0.9:8080";
    const auto saved = DecodeSavedProxy(first, Latin1);
    ASSERT_TRUE(saved);
    EXPECT_FALSE(saved->holdsEverything);
    EXPECT_EQ(saved->enable, DwordValue(1));
    EXPECT_EQ(saved->server, WideTextValue(u"c\u00e9:1"));
    EXPECT_FALSE(saved->bypass);
    EXPECT_EQ(saved->applied, std::vector<std::u16string>{u"127.0.0.9:8080"});
}

TEST(SavedProxy, AnythingElseIsRefused)
{
    const std::string bytes = EncodeSavedProxy(UsersSettings());
    for (std::size_t length = 0; length < bytes.size(); ++length)
        EXPECT_FALSE(DecodeSavedProxy(bytes.substr(0, length), Latin1)) << "cut at " << length;
    EXPECT_FALSE(DecodeSavedProxy(bytes + '\0', Latin1));
    EXPECT_FALSE(DecodeSavedProxy("ZSP3" + bytes.substr(4), Latin1)); // a later version's
    EXPECT_FALSE(DecodeSavedProxy("corp:3128", Latin1));

    std::string badPresence = bytes;
    badPresence[4] = '\2';
    EXPECT_FALSE(DecodeSavedProxy(badPresence, Latin1));
    // A damaged presence byte where the value is absent reads on as if it were whole: refused all
    // the same.
    std::string damagedAbsence = EncodeSavedProxy(SavedProxy{});
    damagedAbsence[4] = '\2';
    EXPECT_FALSE(DecodeSavedProxy(damagedAbsence, Latin1));

    std::string hugeLength = bytes;
    hugeLength.replace(9, 4, "\xff\xff\xff\xff");
    EXPECT_FALSE(DecodeSavedProxy(hugeLength, Latin1));

    // An address of an odd number of bytes, and more addresses than bytes.
    SavedProxy one;
    one.applied = {u"a"};
    std::string oddAddress = EncodeSavedProxy(one);
    oddAddress.replace(oddAddress.size() - 7, 4, std::string("\1\0\0\0", 4));
    oddAddress.erase(oddAddress.size() - 2, 1);
    EXPECT_FALSE(DecodeSavedProxy(oddAddress, Latin1));
    std::string manyAddresses = EncodeSavedProxy(SavedProxy{});
    manyAddresses.replace(manyAddresses.size() - 5, 4, "\xff\xff\xff\x0f");
    EXPECT_FALSE(DecodeSavedProxy(manyAddresses, Latin1));
}

} // namespace
