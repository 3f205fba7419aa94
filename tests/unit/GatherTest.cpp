// The record in which a run hands its arguments to the gathering run: names
// of any script and length arrive whole; what the limits do not hold is not
// made, and a record that does not add up is refused whole.
#include "GatherUnit.h"
#include "TestFiles.h"

TEST(HandOver, NamesArriveWholeAndHostileRecordsAreRefused)
{
    const std::string longest(MaxHandOverArgument, 'x'), head = "KVH1" + Le32(1);
    const std::vector<std::string> args = {"/x", "C:\\Песня.mp3", "", "\\\\?\\D:\\東京\\🎵*.mp?", "\xED\xA0\x80.mp3", longest};
    std::vector<std::string> back;
    EXPECT_TRUE(DecodeHandOver(EncodeHandOver(args), back));
    EXPECT_EQ(back, args);
    for (const auto& tooMuch : {std::vector<std::string>{longest + "x"}, std::vector<std::string>(11, longest),
                                std::vector<std::string>()})
        EXPECT_EQ(EncodeHandOver(tooMuch), "");
    const std::string good = EncodeHandOver({"C:\\a.mp3", "C:\\b.mp3"});
    std::vector<std::string> records = {
        "KVH2" + good.substr(4), good + "x", "KVH1" + Le32(0), "KVH1" + Le32(0xFFFFFFFF) + Le32(1) + "a",
        head + Le32(0xFFFFFFFF) + "a", head + Le32(MaxHandOverArgument + 1) + std::string(MaxHandOverArgument + 1, 'a'),
        "KVH1" + Le32(2) + Le32(1) + "a" + Le32(5) + "b", head + Le32(3) + std::string("a\0b", 3),
        head + Le32(2) + "\xC0\xAF", head + Le32(1) + "\xE2", head + Le32(MaxHandOverRecord) + std::string(MaxHandOverRecord, 'a')};
    for (std::size_t n = 0; n < good.size(); ++n)
        records.push_back(good.substr(0, n));
    for (const std::string& record : records) {
        back = {"left over"};
        EXPECT_FALSE(DecodeHandOver(record, back)) << record.substr(0, 40);
        EXPECT_TRUE(back.empty());
    }
}
