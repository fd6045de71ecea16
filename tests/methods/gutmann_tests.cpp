#include "tests/methods/method_observer.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Sequence = std::vector<uint8_t>;

const std::vector<Sequence> kPublished = PublishedGutmannSequences();

// Returns the 26 shuffle draws, each r = value(i) for i = 26 down to 1, little-endian.
template <typename Value>
std::vector<uint8_t> Draws(Value value)
{
    std::vector<uint8_t> draws;
    for (uint32_t i = 26; i >= 1; --i) {
        uint32_t r = value(i);
        draws.insert(draws.end(), {uint8_t(r), uint8_t(r >> 8), uint8_t(r >> 16), uint8_t(r >> 24)});
    }
    return draws;
}

// Returns the sequence a written pass repeats: its byte when all bytes are
// equal, its first three bytes when it repeats with period three, or nothing.
Sequence Repeated(const std::vector<uint8_t>& pass)
{
    const size_t period = std::all_of(pass.begin(), pass.end(), [&](uint8_t b) { return b == pass[0]; }) ? 1 : 3;
    for (size_t i = period; i < pass.size(); ++i)
        if (pass[i] != pass[i - period]) return {};
    return Sequence(pass.begin(), pass.begin() + period);
}

// Returns the sequences of passes 5 to 31 of an observed Gutmann erase.
std::vector<Sequence> MiddlePasses(const ObservedErase& observed)
{
    std::vector<Sequence> middle;
    for (size_t pass = 4; pass < 31 && pass < observed.passes.size(); ++pass) middle.push_back(Repeated(observed.passes[pass]));
    return middle;
}

}  // namespace

// Two files in one run, each with its own scripted draws: all zero moves
// position 1 to the end; r leaving remainder i at every step keeps the
// published order, and as those draws fill all four bytes they must be read
// little-endian.
TEST(Gutmann, EachFileGetsTheOrderOfItsOwnDraws)
{
    verifyReadBack.store(0);
    TempFolder folder;
    FakeOs fake;
    fake.ScriptRandom(Script({Draws([](uint32_t) { return 0u; }), SeedBytes(77), NameBytes(),
                              Draws([](uint32_t i) { return i + (i + 1) * 0xABCDEFu; }), SeedBytes(2), Ramp(16, 20)}));
    ObservedErase first = ObserveErase(fake, EraseGutmann, folder.File(L"a", Ramp(kObservedSize)));
    ObservedErase second = ObserveErase(fake, EraseGutmann, folder.File(L"b", Ramp(kObservedSize)));
    ASSERT_EQ(EraseResult::Success, first.result);
    ASSERT_EQ(EraseResult::Success, second.result);

    std::vector<Sequence> order(kPublished.begin() + 1, kPublished.end());
    order.push_back(kPublished[0]);
    EXPECT_TRUE(first.passes == ExpectedPasses(GutmannPasses(order), 77));
    std::vector<std::wstring> announced = Announcements(first.events);
    ASSERT_EQ(35u, announced.size());
    EXPECT_EQ(L"Pass 4/35: Random overwrite...", announced[3]);
    EXPECT_EQ(L"Pass 5/35: Overwrite with 0xAA...", announced[4]);
    EXPECT_EQ(L"Pass 6/35: Overwrite with 0x924924 (rotation)...", announced[5]);
    EXPECT_EQ(L"Pass 31/35: Overwrite with 0x55...", announced[30]);
    EXPECT_EQ(L"Pass 35/35: Random overwrite...", announced[34]);
    EXPECT_EQ(kPublished, MiddlePasses(second));
}

// With real shuffle draws the order is unknown, but its make-up is not: the
// seed alone is pinned so the random passes can be checked byte for byte.
TEST(Gutmann, WritesFourRandomPassesOnEachSideOfEverySequenceOnce)
{
    verifyReadBack.store(0);
    TempFolder folder;
    FakeOs fake;
    fake.hooks.BCryptGenRandom = [](BCRYPT_ALG_HANDLE algorithm, PUCHAR buffer, ULONG count, ULONG flags) {
        if (count == 8) {
            std::vector<uint8_t> seed = SeedBytes(99);
            std::copy(seed.begin(), seed.end(), buffer);
            return NTSTATUS{0};
        }
        return RealOsCalls().BCryptGenRandom(algorithm, buffer, count, flags);
    };
    ObservedErase observed = ObserveErase(fake, EraseGutmann, folder.File(L"g.bin", Ramp(kObservedSize)));
    ASSERT_EQ(EraseResult::Success, observed.result);
    ASSERT_EQ(35u, observed.passes.size());
    std::vector<Sequence> middle = MiddlePasses(observed);
    EXPECT_TRUE(observed.passes == ExpectedPasses(GutmannPasses(middle), 99));
    EXPECT_EQ(18, std::count_if(middle.begin(), middle.end(), [](const Sequence& s) { return s.size() == 1; }));
    std::vector<Sequence> sortedMiddle = middle, sortedPublished = kPublished;
    std::sort(sortedMiddle.begin(), sortedMiddle.end());
    std::sort(sortedPublished.begin(), sortedPublished.end());
    EXPECT_EQ(sortedPublished, sortedMiddle);
}
