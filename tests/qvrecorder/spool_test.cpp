#include "qvrecorder/spool.h"
#include "tests/support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qv::recorder {
namespace {

ActivityRecord Record(const std::string& title) {
    return {"anna", "WS-01", "cmd.exe", "", title, 1'700'000'000'000, 1000, 1, 2};
}

TEST(Spool, KeepsRecordsIdAndNumbersAcrossRestartsAndNeverReusesANumber) {
    TempDir dir;
    std::string id;
    {
        Spool spool(dir.Path(), 1 << 20);
        id = spool.RecorderId();
        EXPECT_EQ(id.size(), 16u);
        EXPECT_EQ(spool.Add({Record("a"), Record(std::string("b\xFF\0c", 4))}), 1u);
        EXPECT_EQ(spool.Add({Record("d")}), 3u);
        EXPECT_THROW(Spool(dir.Path(), 1 << 20), std::runtime_error) << "a second daemon on the same spool";
    }
    {
        Spool spool(dir.Path(), 1 << 20);
        EXPECT_EQ(spool.RecorderId(), id);
        const SpooledBatch batch = spool.Oldest(2, 1 << 20);
        EXPECT_EQ(batch.firstSequence, 1u);
        ASSERT_EQ(batch.records.size(), 2u);
        EXPECT_EQ(batch.records[0].windowTitle + "|" + batch.records[1].windowTitle, std::string("a|b\xFF\0c", 6));
        spool.Remove(1, 2);
        spool.Remove(3, 1);
        EXPECT_EQ(spool.Counts().waiting, 0u);
        EXPECT_EQ(spool.Oldest(10, 1 << 20).records.size(), 0u);
    }
    Spool spool(dir.Path(), 1 << 20);
    EXPECT_EQ(spool.Add({Record("e")}), 4u);
    EXPECT_EQ(spool.Oldest(10, 1 << 20).firstSequence, 4u);
}

TEST(Spool, RefusesRecordsPastItsSizeLimitUntilThereIsRoomAndBoundsABatchByBytes) {
    TempDir dir;
    Spool spool(dir.Path(), 1000);
    spool.Add({Record(std::string(600, 'a'))});
    const auto overfill = [&] { spool.Add({Record("b"), Record(std::string(600, 'c'))}); };
    EXPECT_THAT(overfill, testing::ThrowsMessage<SpoolFull>(testing::HasSubstr("the spool is full")));
    EXPECT_EQ(spool.Counts().waiting, 1u) << "nothing of a refused message stays";
    spool.Remove(1, 1);
    EXPECT_EQ(spool.Add({Record(std::string(600, 'c')), Record("y")}), 2u);
    // A batch stops at its byte bound, but always holds one record.
    EXPECT_EQ(spool.Oldest(10, 100).records.size(), 1u);
    EXPECT_EQ(spool.Oldest(10, 1000).records.size(), 2u);
}

TEST(Spool, KeepsIconsWithinTheirBoundAndMakesRoomOnlyWithThoseTheServiceHas) {
    TempDir dir;
    const auto names = [](const std::vector<ProgramIcon>& icons) {
        std::vector<std::string> found;
        for (const ProgramIcon& icon : icons) found.push_back(icon.process);
        return found;
    };
    const std::string mb(1 << 20, 'i');
    {
        Spool spool(dir.Path(), 1 << 20);
        for (int i = 0; i < 16; ++i) spool.Add({}, {{"p" + std::to_string(i), mb}});
        spool.Remove(0, 0, {"p0", "p1"});
        spool.Add({Record("a")}, {{"new", mb}, {"newer", mb}, {"no room", mb}});
        EXPECT_EQ(spool.Counts().waiting, 1u) << "an icon without room costs no record";
        EXPECT_EQ(names(spool.IconsToSend({"p0", "p1", "p2", "new", "newer", "no room"}, 10 << 20)),
                  (std::vector<std::string>{"p2", "new", "newer"}));
        EXPECT_EQ(names(spool.IconsToSend({"p2", "new"}, 1)), std::vector<std::string>{"p2"}) << "one at least";
        spool.Remove(1, 1, {"p2", "p3"}, {"p3"});
    }
    Spool spool(dir.Path(), 1 << 20);
    EXPECT_EQ(names(spool.IconsToSend({}, 10 << 20)), std::vector<std::string>{"p3"});
    EXPECT_TRUE(spool.IconsToSend({"p2"}, 10 << 20).empty());
    spool.DropIcons({"p3"});
    EXPECT_TRUE(spool.IconsToSend({}, 10 << 20).empty());
}

}  // namespace
}  // namespace qv::recorder
