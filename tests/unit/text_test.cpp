// Bounded text and the percentage: the cases the exports cannot reach (cut results, megabyte
// rounding, the halving of large counts).
#include <gtest/gtest.h>

#include <string>

#include "delivery/job.h"
#include "delivery/wstr.h"

namespace {

std::wstring Append(HRESULT (*op)(wchar_t*, DWORD, const wchar_t*), const wchar_t* start, DWORD capacity,
                    const wchar_t* src, HRESULT* result)
{
    wchar_t buffer[32];
    for (wchar_t& c : buffer) c = L'#';
    WStrCopy(buffer, 32, start);
    *result = op(buffer, capacity, src);
    return buffer;
}

TEST(Text, CopyFitsOrCutsWithTerminator)
{
    HRESULT r;
    EXPECT_EQ(Append(WStrCopy, L"", 4, L"abc", &r), L"abc");
    EXPECT_EQ(r, S_OK);
    EXPECT_EQ(Append(WStrCopy, L"", 4, L"abcd", &r), L"abc");
    EXPECT_EQ(r, TextCut);
    EXPECT_EQ(Append(WStrCopy, L"", 1, L"x", &r), L"");
    EXPECT_EQ(r, TextCut);
}

TEST(Text, CopyRefusesBadCapacity)
{
    wchar_t buffer[4] = {L'a', L'b', 0, 0};
    EXPECT_EQ(WStrCopy(buffer, 0, L"x"), TextBadArg);
    EXPECT_EQ(std::wstring(buffer), L"ab");  // capacity 0: nothing written
    EXPECT_EQ(WStrCopy(buffer, 0x80000000u, L"x"), TextBadArg);
    EXPECT_EQ(std::wstring(buffer), L"");  // too large: emptied
}

TEST(Text, AppendOntoFullOrUnterminatedBuffer)
{
    HRESULT r;
    EXPECT_EQ(Append(WStrAppend, L"abc", 4, L"d", &r), L"abc");
    EXPECT_EQ(r, TextCut);
    EXPECT_EQ(Append(WStrAppend, L"abc", 4, L"", &r), L"abc");
    EXPECT_EQ(r, S_OK);
    EXPECT_EQ(Append(WStrAppend, L"ab", 6, L"cdef", &r), L"abcde");
    EXPECT_EQ(r, TextCut);

    wchar_t full[3] = {L'a', L'b', L'c'};
    EXPECT_EQ(WStrAppend(full, 3, L"x"), TextBadArg);
    EXPECT_EQ(full[0], L'a');
    EXPECT_EQ(full[2], L'c');
    EXPECT_EQ(WStrAppend(full, 0, L"x"), TextBadArg);
}

std::wstring Decimal(DWORD value, DWORD minDigits)
{
    wchar_t buffer[32] = L"";
    EXPECT_EQ(AppendDecimal(buffer, 32, value, minDigits), S_OK);
    return buffer;
}

TEST(Text, DecimalPadding)
{
    EXPECT_EQ(Decimal(0, 1), L"0");
    EXPECT_EQ(Decimal(7, 4), L"0007");
    EXPECT_EQ(Decimal(12345, 4), L"12345");
    EXPECT_EQ(Decimal(5, 20), L"0000000005");
    EXPECT_EQ(Decimal(4294967295u, 1), L"4294967295");
    wchar_t small[3] = L"";
    EXPECT_EQ(AppendDecimal(small, 3, 123, 1), TextCut);
    EXPECT_EQ(std::wstring(small), L"12");
}

TEST(Text, MegabytesRoundHalfUp)
{
    const struct {
        ULONGLONG bytes;
        const wchar_t* text;
    } cases[] = {{0, L"0.00"},          {4999, L"0.00"},          {5000, L"0.01"},
                 {1234567, L"1.23"},    {1048576, L"1.05"},       {999999999, L"1000.00"},
                 {2000000000, L"2000.00"}, {12345678, L"12.35"}, {45678901, L"45.68"}};
    for (const auto& c : cases) {
        wchar_t buffer[32] = L"MB ";
        AppendMegabytes(buffer, 32, c.bytes);
        EXPECT_EQ(std::wstring(buffer), std::wstring(L"MB ") + c.text) << c.bytes;
    }
}

TEST(Percent, HalvesLargeCountsAndNeverReaches100Early)
{
    EXPECT_EQ(PercentOf(5, 0), 0);
    EXPECT_EQ(PercentOf(10, 10), 100);
    EXPECT_EQ(PercentOf(11, 10), 100);
    EXPECT_EQ(PercentOf(999, 1000), 99);
    EXPECT_EQ(PercentOf(1, 3), 33);
    EXPECT_EQ(PercentOf(1000000000, 2000000000), 50);
    EXPECT_EQ(PercentOf(100000000, 100000001), 99);
    EXPECT_EQ(PercentOf(1999999999, 2000000000), 99);
    EXPECT_EQ(PercentOf(0, 2000000000), 0);
}

}  // namespace
