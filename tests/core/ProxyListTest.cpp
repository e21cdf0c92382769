#include "core/ProxyList.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

TEST(DecodeProxyList, MapsDigitsAndTheThreePunctuationCharacters)
{
    EXPECT_EQ(DecodeProxyList("0123456789"), "0198765432");
    EXPECT_EQ(DecodeProxyList("%&@"), ".:;");
    EXPECT_EQ(DecodeProxyList(".:;"), ".:;"); // not its own inverse: decoded text stays as it is
    EXPECT_EQ(DecodeProxyList(""), "");
    const std::string list = "203.0.113.7:8080;United States\r\n10.0.0.1:3128;St. Kitts\r\n";
    EXPECT_EQ(DecodeProxyList(EncodeProxyList(list)), list);
}

TEST(DecodeProxyList, LeavesEveryOtherByteAndTheLengthAlone)
{
    const std::string other = std::string("US de\r\n\t\0xyz", 12) + "\x80\xE9\xFF";
    EXPECT_EQ(DecodeProxyList(other), other);
    EXPECT_EQ(DecodeProxyList("10%90%80%70&3030@US\r\n"), "10.20.30.40:8080;US\r\n");
}

struct FieldCase {
    const char* line;
    const char* label;
    const char* country;
    const char* host;
};

TEST(HostLineFields, SplitAtTheFirstSeparatorWithoutTrimming)
{
    const FieldCase cases[] = {
        {"10.20.30.40:8080;US", "10.20.30.40:8080", "US", "10.20.30.40"},
        {"10.20.30.40:8080", "10.20.30.40:8080", "", "10.20.30.40"},
        {";US", "", "US", ";US"},
        {"10.20.30.40:8080;", "10.20.30.40:8080", "", "10.20.30.40"},
        {":8080;US", ":8080", "US", ""},
        {"10.20.30.40;US", "10.20.30.40", "US", "10.20.30.40;US"},
        {"a;b;c", "a", "b;c", "a;b;c"},
        {"", "", "", ""},
        {" 10.0.0.1 :80; Costa Rica", " 10.0.0.1 :80", " Costa Rica", " 10.0.0.1 "},
    };
    for (const FieldCase& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(ProxyLineLabel(c.line), c.label);
        EXPECT_EQ(ProxyLineCountry(c.line), c.country);
        EXPECT_EQ(ProxyLineHost(c.line), c.host);
    }
}

TEST(HostLineFields, LongLinesAreScannedToTheirEnd)
{
    const std::string noSemicolon(255, 'h');
    EXPECT_EQ(ProxyLineCountry(noSemicolon), "");
    EXPECT_EQ(ProxyLineLabel(noSemicolon), noSemicolon);

    const std::string longLine = std::string(299, 'a') + ";" + std::string(500, 'c');
    EXPECT_EQ(ProxyLineLabel(longLine), std::string(299, 'a'));
    EXPECT_EQ(ProxyLineCountry(longLine), std::string(500, 'c'));
}

TEST(SplitLines, CountsBreaksPlusOneLessAFinalEmptyLine)
{
    EXPECT_EQ(SplitLines(""), Lines{});
    EXPECT_EQ(SplitLines("a"), Lines{"a"});
    EXPECT_EQ(SplitLines("a\r\n"), Lines{"a"});
    EXPECT_EQ(SplitLines("a\r\n\r\nb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(SplitLines("\r\n\r\n\r\n"), (Lines{"", "", ""}));
    EXPECT_EQ(SplitLines("\r\na\r\n\r\n"), (Lines{"", "a", ""}));
}

TEST(NormalizeLineEnds, BareLfAndBareCrBecomeCrLf)
{
    EXPECT_EQ(NormalizeLineEnds("a\nb\rc\r\nd"), "a\r\nb\r\nc\r\nd");
    EXPECT_EQ(NormalizeLineEnds("\n\r"), "\r\n\r\n"); // LF then CR: two breaks, not one
    EXPECT_EQ(NormalizeLineEnds("\r\r\n"), "\r\n\r\n");
    EXPECT_EQ(NormalizeLineEnds("end\r"), "end\r\n");
    EXPECT_EQ(NormalizeLineEnds(""), "");
}

TEST(ProxyListFile, CrLfLfAndCrFilesGiveTheSameLines)
{
    const Lines expected{"10.20.30.40:8080;US", "", "127.0.0.2:3128;DE"};
    for (const char* file : {"10%90%80%70&3030@US\r\n\r\n194%0%0%9&8193@DE\r\n",
                             "10%90%80%70&3030@US\n\n194%0%0%9&8193@DE\n",
                             "10%90%80%70&3030@US\r\r194%0%0%9&8193@DE\r",
                             "10%90%80%70&3030@US\n\r194%0%0%9&8193@DE"}) {
        SCOPED_TRACE(file);
        EXPECT_EQ(SplitLines(DecodeProxyList(NormalizeLineEnds(file))), expected);
    }
}

} // namespace
