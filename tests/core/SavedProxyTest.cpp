#include "core/SavedProxy.h"

#include <gtest/gtest.h>

namespace {

const SavedProxy kUserProxy{RegistryValue{4, std::string("\1\0\0\0", 4)},
                            RegistryValue{1, std::string("corp:3128\0", 10)}, "127.0.0.9:8080"};

TEST(SavedProxy, EveryValueComesBackAsItWasStored)
{
    for (const SavedProxy& saved :
         {kUserProxy, SavedProxy{std::nullopt, std::nullopt, ""},
          SavedProxy{RegistryValue{3, std::string("\0\xff", 2)}, std::nullopt, "a:1"},
          SavedProxy{std::nullopt, RegistryValue{1, ""}, std::string(5000, 'x')}})
        EXPECT_EQ(DecodeSavedProxy(EncodeSavedProxy(saved)), saved);
}

TEST(SavedProxy, AnythingElseIsRefused)
{
    const std::string bytes = EncodeSavedProxy(kUserProxy);
    for (std::size_t length = 0; length < bytes.size(); ++length)
        EXPECT_FALSE(DecodeSavedProxy(bytes.substr(0, length))) << "cut at " << length;
    EXPECT_FALSE(DecodeSavedProxy(bytes + '\0'));
    EXPECT_FALSE(DecodeSavedProxy("ZSP2" + bytes.substr(4)));
    EXPECT_FALSE(DecodeSavedProxy("corp:3128"));

    std::string badPresence = bytes;
    badPresence[4] = '\2';
    EXPECT_FALSE(DecodeSavedProxy(badPresence));

    std::string hugeLength = bytes;
    hugeLength.replace(9, 4, "\xff\xff\xff\xff");
    EXPECT_FALSE(DecodeSavedProxy(hugeLength));
}

} // namespace
