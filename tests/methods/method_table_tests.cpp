#include "tests/methods/method_observer.h"

#include <gtest/gtest.h>

namespace {

struct MethodCase {
    const wchar_t* displayName;
    const wchar_t* successMessage;
    std::vector<uint8_t> methodDraws;  // what the method itself asks the random source for
    std::vector<PassSpec> passes;      // what must land on the file, in order
};

const PassSpec R = RandomPass();

// The Gutmann row is checked with draws r = i, which keep the published order.
std::vector<uint8_t> KeepOrderDraws()
{
    std::vector<uint8_t> draws;
    for (uint8_t i = 26; i >= 1; --i) draws.insert(draws.end(), {i, 0, 0, 0});
    return draws;
}

std::vector<MethodCase> Methods()
{
    return {
        {L"Random (1-pass) -- Recommended (NIST SP 800-88 Rev.2)",
         L"File successfully overwritten (NIST-aligned single-pass random) and deleted.", {}, {R}},
        {L"Zero fill (1-pass)", L"File successfully overwritten (Zero fill, 1-pass) and deleted.", {}, {Fixed(0x00)}},
        {L"GOST R 50739-95 (2-pass)", L"File successfully overwritten (GOST R 50739-95, 2-pass) and deleted.", {},
         {Fixed(0x00), R}},
        {L"DoD 5220.22-M (3-pass) -- Legacy", L"File successfully overwritten (DoD 5220.22-M, 3-pass) and deleted.",
         {0x12}, {Fixed(0x12), Fixed(0xED), R}},
        {L"DoD 5220.22-M ECE (7-pass) -- Legacy",
         L"File successfully overwritten (DoD 5220.22-M ECE, 7-pass) and deleted.", {0x12, 0xA0},
         {Fixed(0x12), Fixed(0xED), R, Fixed(0xA0), Fixed(0x5F), R, R}},
        {L"HMG IS5 Enhanced (3-pass) -- Legacy (IS5 deprecated by NCSC)",
         L"File successfully overwritten (HMG IS5 Enhanced, 3-pass) and deleted.", {}, {Fixed(0x00), Fixed(0xFF), R}},
        {L"Schneier (7-pass) -- Legacy", L"File successfully overwritten (Schneier, 7-pass) and deleted.", {},
         {Fixed(0xFF), Fixed(0x00), R, R, R, R, R}},
        {L"BSI/VSITR (7-pass) -- Legacy", L"File successfully overwritten (BSI/VSITR, 7-pass) and deleted.", {},
         {Fixed(0x00), Fixed(0xFF), Fixed(0x00), Fixed(0xFF), Fixed(0x00), Fixed(0xFF), R}},
        {L"Gutmann (35-pass) -- Legacy (magnetic-media era)",
         L"File successfully wiped (Gutmann 35-pass historical profile) and deleted.", KeepOrderDraws(),
         GutmannPasses(PublishedGutmannSequences())},
    };
}

}  // namespace

TEST(SelectEraseMethod, TakesRowsZeroToEightAndTheDefaultForAnythingElse)
{
    for (intptr_t index = 0; index < kEraseMethodCount; ++index)
        EXPECT_EQ(&EraseMethodTable[index], &SelectEraseMethod(index));
    for (intptr_t index : {intptr_t{-1}, intptr_t{9}, intptr_t{1000}, INTPTR_MIN, INTPTR_MAX})
        EXPECT_EQ(&EraseMethodTable[0], &SelectEraseMethod(index)) << index;
}

// Each row is judged by what the engine writes over a real file and what it
// announces: the passes in order, their count, and the row's own message,
// once, after the file is gone.
TEST(EraseMethodTable, EachRowWritesItsPassesAndReportsItsMessageAfterTheDelete)
{
    verifyReadBack.store(0);
    const std::vector<MethodCase> methods = Methods();
    ASSERT_EQ(size_t{kEraseMethodCount}, methods.size());
    for (int index = 0; index < kEraseMethodCount; ++index) {
        SCOPED_TRACE(index);
        const MethodCase& expected = methods[index];
        const EraseMethod& method = SelectEraseMethod(index);
        EXPECT_STREQ(expected.displayName, method.displayName);

        TempFolder folder;
        FakeOs fake;
        const uint64_t seed = 0x0123456789ABCDEFULL + static_cast<uint64_t>(index);
        fake.ScriptRandom(Script({expected.methodDraws, SeedBytes(seed), NameBytes()}));
        ObservedErase observed = ObserveErase(fake, method.run, folder.File(L"victim.bin", Ramp(kObservedSize)));

        EXPECT_EQ(EraseResult::Success, observed.result);
        EXPECT_TRUE(folder.Names().empty());
        EXPECT_TRUE(observed.passes == ExpectedPasses(expected.passes, seed));
        EXPECT_EQ(expected.passes.size(), observed.passes.size());
        std::vector<std::wstring> announced = Announcements(observed.events);
        ASSERT_EQ(expected.passes.size(), announced.size());
        const std::wstring total = std::to_wstring(announced.size());
        EXPECT_EQ(0u, announced.back().rfind(L"Pass " + total + L"/" + total + L":", 0)) << announced.back();
        EXPECT_EQ(1, Occurrences(observed.events, L"File name scrambled."));
        EXPECT_EQ(L"%100", observed.events.end()[-3]);
        EXPECT_EQ(kDeletedMark, observed.events.end()[-2]);
        EXPECT_EQ(expected.successMessage, observed.events.back());
        EXPECT_EQ(1, Occurrences(observed.events, expected.successMessage));
        EXPECT_LEDGER_BALANCED(fake);
    }
}

TEST(EraseMethodTable, NoRowReportsSuccessForAnEmptyFile)
{
    const std::vector<MethodCase> methods = Methods();
    for (int index = 0; index < kEraseMethodCount; ++index) {
        SCOPED_TRACE(index);
        TempFolder folder;
        FakeOs fake;
        ObservedErase observed = ObserveErase(fake, EraseMethodTable[index].run, folder.File(L"empty.bin", {}), 0);
        EXPECT_EQ(EraseResult::Success, observed.result);
        EXPECT_TRUE(folder.Names().empty());
        EXPECT_EQ(1, Occurrences(observed.events, L"File size is 0. Deleting file."));
        EXPECT_EQ(0, Occurrences(observed.events, methods[index].successMessage));
        EXPECT_TRUE(Announcements(observed.events).empty());
    }
}

TEST(DodMethods, DrawTheirBytesInOneRequestFromTheSystemGenerator)
{
    TempFolder folder;
    FakeOs fake;
    std::vector<ULONG> counts;
    fake.hooks.BCryptGenRandom = [&](BCRYPT_ALG_HANDLE algorithm, PUCHAR buffer, ULONG count, ULONG flags) {
        EXPECT_EQ(nullptr, algorithm);
        EXPECT_EQ(ULONG{BCRYPT_USE_SYSTEM_PREFERRED_RNG}, flags);
        counts.push_back(count);
        return RealOsCalls().BCryptGenRandom(algorithm, buffer, count, flags);
    };
    StopFlag stop{0};
    EXPECT_EQ(EraseResult::Success, EraseDod3Pass(folder.File(L"a", Ramp(10)).c_str(), nullptr, nullptr, nullptr, &stop, true));
    EXPECT_EQ(EraseResult::Success, EraseDodEce7Pass(folder.File(L"b", Ramp(10)).c_str(), nullptr, nullptr, nullptr, &stop, true));
    // The method's own draw, then the engine's 8-byte seed.
    EXPECT_EQ((std::vector<ULONG>{1, 8, 2, 8}), counts);
}

TEST(DodMethods, ComplementTheDrawnByteAndDrawAfreshForEveryFile)
{
    verifyReadBack.store(0);
    TempFolder folder;
    FakeOs fake;
    // keepName: no name draws, so the script holds only the method bytes and seeds.
    fake.ScriptRandom(Script({{0x00}, SeedBytes(1), {0xFF}, SeedBytes(2), {0x12}, SeedBytes(3)}));
    ObservedErase zero = ObserveErase(fake, EraseDod3Pass, folder.File(L"a", Ramp(kObservedSize)), kObservedSize, true);
    ObservedErase ones = ObserveErase(fake, EraseDod3Pass, folder.File(L"b", Ramp(kObservedSize)), kObservedSize, true);
    ObservedErase other = ObserveErase(fake, EraseDod3Pass, folder.File(L"c", Ramp(kObservedSize)), kObservedSize, true);
    EXPECT_TRUE(zero.passes == ExpectedPasses({Fixed(0x00), Fixed(0xFF), R}, 1));
    EXPECT_TRUE(ones.passes == ExpectedPasses({Fixed(0xFF), Fixed(0x00), R}, 2));
    std::vector<std::wstring> announced = Announcements(other.events);
    ASSERT_EQ(3u, announced.size());
    EXPECT_EQ(L"Pass 1/3: Overwrite with 0x12...", announced[0]);
    EXPECT_EQ(L"Pass 2/3: Overwrite with 0xED...", announced[1]);
    EXPECT_EQ(0, fake.Calls(OsFn::MoveFileW));
    EXPECT_TRUE(folder.Names().empty());
}

// A method whose own draw (DoD's byte, any of Gutmann's shuffle draws)
// fails must not touch the file at all.
TEST(EraseMethods, AFailedDrawLeavesTheFileAsItWasAndSaysNothing)
{
    const std::pair<EraseMethodFn, int> cases[] = {{EraseDod3Pass, 1}, {EraseDodEce7Pass, 1}, {EraseGutmann, 1},
                                                   {EraseGutmann, 2},  {EraseGutmann, 14},     {EraseGutmann, 26}};
    for (const auto& [method, failing] : cases) {
        SCOPED_TRACE(failing);
        TempFolder folder;
        FakeOs fake;
        fake.FailNthCall(OsFn::BCryptGenRandom, failing);
        const std::wstring path = folder.File(L"keep.bin", Ramp(5000));
        ObservedErase observed = ObserveErase(fake, method, path);
        EXPECT_EQ(EraseResult::Error, observed.result);
        EXPECT_TRUE(observed.events.empty());
        EXPECT_EQ(std::vector<std::wstring>{L"keep.bin"}, folder.Names());
        EXPECT_EQ(Ramp(5000), ReadAll(path));
        EXPECT_EQ(failing, fake.Calls(OsFn::BCryptGenRandom));
        EXPECT_EQ(0, fake.Calls(OsFn::CreateFileW));
    }
}
