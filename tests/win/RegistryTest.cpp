#include "win/Registry.h"

#include "RawRegistry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

const std::string kRoot = "Software\\ZarnuTests";
const std::string kKey = kRoot + "\\Registry";
// A key name longer than the registry allows (255 characters) cannot be created.
const std::string kUncreatable = kRoot + "\\" + std::string(300, 'k');

class RegistryTest : public testing::Test {
protected:
    void SetUp() override { raw::RemoveTree(kRoot); }
    void TearDown() override { raw::RemoveTree(kRoot); }

    static std::string MessageOf(const std::function<void()>& action)
    {
        try {
            action();
        } catch (const ERegistryException& error) {
            return error.what();
        }
        return "(nothing raised)";
    }
};

TEST_F(RegistryTest, OpenUserKeyCreatesTheKeyWithItsMissingParentsAndMakesItCurrent)
{
    TRegistry registry;
    ASSERT_TRUE(registry.OpenUserKey(kKey + "\\A\\B"));
    EXPECT_TRUE(raw::KeyExists(kKey + "\\A\\B"));
    registry.StoreText("where", "here");
    EXPECT_EQ(raw::GetText(kKey + "\\A\\B", "where"), "here");

    ASSERT_TRUE(registry.OpenUserKey(kKey)); // an existing key opens as well
    registry.StoreText("where", "there");
    EXPECT_EQ(raw::GetText(kKey, "where"), "there");
    EXPECT_EQ(raw::GetText(kKey + "\\A\\B", "where"), "here");
}

TEST_F(RegistryTest, AFailedOpenLeavesNoKeyCurrent)
{
    TRegistry registry;
    ASSERT_TRUE(registry.OpenUserKey(kKey));
    EXPECT_FALSE(registry.OpenUserKey(kUncreatable));
    EXPECT_EQ(MessageOf([&] { registry.StoreText("v", "x"); }), "Failed to set data for 'v'");
    EXPECT_EQ(MessageOf([&] { registry.StoreNumber("n", 1); }), "Failed to set data for 'n'");
    EXPECT_EQ(registry.LoadText("v"), "");
    EXPECT_FALSE(raw::Get(kKey, "v"));
}

TEST_F(RegistryTest, StoresWithoutAnOpenKeyFail)
{
    TRegistry registry;
    EXPECT_EQ(MessageOf([&] { registry.StoreText("Zarnuinfo", "x"); }),
              "Failed to set data for 'Zarnuinfo'");
    EXPECT_EQ(MessageOf([&] { registry.StoreNumber("ProxyEnable", 0); }),
              "Failed to set data for 'ProxyEnable'");
    EXPECT_FALSE(registry.RemoveKeyTree("anything"));
}

TEST_F(RegistryTest, CreateUserKeyCreatesWithoutChangingTheCurrentKey)
{
    TRegistry registry;
    ASSERT_TRUE(registry.OpenUserKey(kKey));
    registry.CreateUserKey(kKey + "\\Other\\Deep");
    EXPECT_TRUE(raw::KeyExists(kKey + "\\Other\\Deep"));
    registry.StoreText("v", "still the first key");
    EXPECT_EQ(raw::GetText(kKey, "v"), "still the first key");
    EXPECT_FALSE(raw::Get(kKey + "\\Other\\Deep", "v"));
}

TEST_F(RegistryTest, CreateUserKeyRaisesWithThePath)
{
    TRegistry registry;
    EXPECT_EQ(MessageOf([&] { registry.CreateUserKey(kUncreatable); }),
              "Failed to create key " + kUncreatable);
}

TEST_F(RegistryTest, StoresNumbersAsDwordAndTextsWithTheirTerminatingZero)
{
    TRegistry registry;
    ASSERT_TRUE(registry.OpenUserKey(kKey));
    registry.StoreNumber("ProxyEnable", 1);
    registry.StoreNumber("Big", 0xFFFFFFFFu);
    registry.StoreText("ProxyServer", ":");
    registry.StoreText("Empty", "");
    registry.StoreText("Eight", "caf\xE9");

    const auto number = raw::Get(kKey, "ProxyEnable");
    ASSERT_TRUE(number);
    EXPECT_EQ(number->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(number->bytes, std::string("\x01\x00\x00\x00", 4));
    EXPECT_EQ(raw::GetNumber(kKey, "Big"), 0xFFFFFFFFu);

    const auto text = raw::Get(kKey, "ProxyServer");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(text->bytes, std::string(":\0", 2));
    EXPECT_EQ(raw::Get(kKey, "Empty")->bytes, std::string("\0", 1));
    EXPECT_EQ(raw::GetText(kKey, "Eight"), "caf\xE9");
}

TEST_F(RegistryTest, StoringReplacesAValueOfAnotherType)
{
    raw::SetNumber(kKey, "Zarnuinfo", 7);
    TRegistry registry;
    ASSERT_TRUE(registry.OpenUserKey(kKey));
    registry.StoreText("Zarnuinfo", "alice");
    EXPECT_EQ(registry.LoadText("Zarnuinfo"), "alice");
}

TEST_F(RegistryTest, LoadTextReadsStringsUpToTheirFirstZero)
{
    raw::SetText(kKey, "plain", "C:\\Program Files\\Browser\\b.exe");
    raw::Set(kKey, "expand", REG_EXPAND_SZ, std::string("%SystemRoot%\\x.exe\0", 19));
    raw::Set(kKey, "inner zero", REG_SZ, std::string("ab\0cd\0", 6));
    raw::Set(kKey, "no terminator", REG_SZ, "abc");
    raw::Set(kKey, "leading zero", REG_SZ, std::string("\0abc\0", 5));

    TRegistry registry;
    ASSERT_TRUE(registry.OpenUserKey(kKey));
    EXPECT_EQ(registry.LoadText("plain"), "C:\\Program Files\\Browser\\b.exe");
    EXPECT_EQ(registry.LoadText("expand"), "%SystemRoot%\\x.exe");
    EXPECT_EQ(registry.LoadText("inner zero"), "ab");
    EXPECT_EQ(registry.LoadText("no terminator"), "abc");
    EXPECT_EQ(registry.LoadText("leading zero"), "");
}

TEST_F(RegistryTest, LoadTextGivesEmptyTextForMissingAndEmptyValues)
{
    raw::Set(kKey, "zero bytes", REG_SZ, "");
    raw::Set(kKey, "just the terminator", REG_SZ, std::string("\0", 1));
    raw::Set(kKey, "empty expand", REG_EXPAND_SZ, "");

    TRegistry registry;
    EXPECT_EQ(registry.LoadText("anything"), ""); // no key open yet
    ASSERT_TRUE(registry.OpenUserKey(kKey));
    EXPECT_EQ(registry.LoadText("missing"), "");
    EXPECT_EQ(registry.LoadText("zero bytes"), "");
    EXPECT_EQ(registry.LoadText("just the terminator"), "");
    EXPECT_EQ(registry.LoadText("empty expand"), "");
}

TEST_F(RegistryTest, LoadTextRejectsEveryOtherValueType)
{
    raw::SetNumber(kKey, "Zarnuinfo", 1);
    raw::Set(kKey, "binary", REG_BINARY, "abc");
    raw::Set(kKey, "multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5));
    raw::Set(kKey, "qword", REG_QWORD, std::string(8, '\1'));
    raw::Set(kKey, "none", REG_NONE, "x");

    TRegistry registry;
    ASSERT_TRUE(registry.OpenUserKey(kKey));
    for (const char* name : {"Zarnuinfo", "binary", "multi", "qword", "none"})
        EXPECT_EQ(MessageOf([&] { registry.LoadText(name); }),
                  std::string("Invalid data type for '") + name + "'");
}

TEST_F(RegistryTest, LoadTextOfAValueThatGrowsMeanwhileNeverGivesACutText)
{
    // The data query fails when the value grows between the size query and the data query; the
    // result is then the error, never a part of the text.
    const std::string small = "s";
    const std::string large(4000, 'L');
    raw::SetText(kKey, "growing", small);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i)
            raw::SetText(kKey, "growing", i % 2 ? large : small);
    });

    TRegistry registry;
    ASSERT_TRUE(registry.OpenUserKey(kKey));
    int failures = 0;
    for (int i = 0; i < 3000; ++i) {
        try {
            const std::string text = registry.LoadText("growing");
            ASSERT_TRUE(text == small || text == large) << "read " << text.size() << " bytes";
        } catch (const ERegistryException& error) {
            ASSERT_STREQ(error.what(), "Failed to get data for 'growing'");
            ++failures;
        }
    }
    stop = true;
    writer.join();
    RecordProperty("data_query_failures", failures);
}

TEST_F(RegistryTest, RemoveKeyTreeRemovesEverySubkeyBeforeItsParent)
{
    for (const char* path : {"\\Tree\\A\\A1\\A11", "\\Tree\\A\\A2", "\\Tree\\B", "\\Tree\\C\\C1"})
        raw::SetText(kKey + path, "value", "x");
    raw::SetText(kKey + "\\Tree", "own value", "y");
    raw::SetText(kKey + "\\Sibling", "value", "kept");

    TRegistry registry;
    ASSERT_TRUE(registry.OpenUserKey(kKey));
    EXPECT_TRUE(registry.RemoveKeyTree("Tree"));
    EXPECT_FALSE(raw::KeyExists(kKey + "\\Tree"));
    EXPECT_TRUE(raw::KeyExists(kKey));
    EXPECT_EQ(raw::GetText(kKey + "\\Sibling", "value"), "kept");
}

TEST_F(RegistryTest, RemoveKeyTreeOfAMissingKeyGivesFalseWithoutAnError)
{
    TRegistry registry;
    ASSERT_TRUE(registry.OpenUserKey(kKey));
    EXPECT_FALSE(registry.RemoveKeyTree("Missing"));
    EXPECT_TRUE(raw::KeyExists(kKey));
}

TEST_F(RegistryTest, RemoveValueRemovesOnlyThatValue)
{
    raw::SetText(kKey, "Platform", "p");
    raw::SetText(kKey, "Other", "o");
    TRegistry registry;
    ASSERT_TRUE(registry.OpenUserKey(kKey));
    EXPECT_TRUE(registry.RemoveValue("Platform"));
    EXPECT_FALSE(registry.RemoveValue("Platform"));
    EXPECT_FALSE(raw::Get(kKey, "Platform"));
    EXPECT_EQ(raw::GetText(kKey, "Other"), "o");
}

TEST_F(RegistryTest, OpenExistingUserKeyCreatesNothing)
{
    TRegistry registry;
    EXPECT_FALSE(registry.OpenExistingUserKey(kKey + "\\Absent"));
    EXPECT_FALSE(raw::KeyExists(kKey + "\\Absent"));
    raw::SetText(kKey, "v", "x");
    ASSERT_TRUE(registry.OpenExistingUserKey(kKey));
    EXPECT_EQ(registry.LoadText("v"), "x");
}

// The values the next 16 opened keys get. Handle slots are reused lowest first, so the values
// only change when a handle opened in between is still open.
std::vector<HKEY> NextKeyHandles()
{
    std::vector<HKEY> keys;
    for (int i = 0; i < 16; ++i)
        keys.push_back(raw::Create(kKey));
    for (HKEY key : keys)
        RegCloseKey(key);
    return keys;
}

TEST_F(RegistryTest, KeysAreClosedWhenTheObjectGoes)
{
    const std::vector<HKEY> before = NextKeyHandles();
    {
        TRegistry registry;
        ASSERT_TRUE(registry.OpenUserKey(kKey));
        ASSERT_TRUE(registry.OpenUserKey(kKey + "\\Other")); // closes the first one
        registry.CreateUserKey(kKey + "\\Child");
        raw::SetText(kKey + "\\Tree\\Sub", "v", "x");
        registry.RemoveKeyTree("Tree");
        EXPECT_FALSE(registry.OpenExistingUserKey(kKey + "\\Absent"));
        ASSERT_TRUE(registry.OpenExistingUserKey(kKey));
    }
    EXPECT_EQ(NextKeyHandles(), before);
}

} // namespace
