#include <gtest/gtest.h>

#include "session/numbers.h"

namespace pelloran::session {
namespace {

using archive::Slot;

TEST(NumberList, NamesExactlyTheNumbersTyped)
{
    struct Row {
        const char* list;
        std::optional<std::vector<int>> numbers;
    };
    const Row rows[] = {
        {"57", std::vector{57}},   {"1,5,9-12", std::vector{1, 5, 9, 10, 11, 12}},
        {"12-9", std::nullopt},    {"9-12,10,1", std::vector{1, 9, 10, 11, 12}},
        {"832", std::vector{832}}, {"0", std::nullopt},
        {"833", std::nullopt},     {"-5", std::nullopt},
        {"+5", std::nullopt},      {"5,", std::nullopt},
        {"", std::nullopt},        {"1-", std::nullopt},
        {"a", std::nullopt},       {"5 ", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.list);
        EXPECT_EQ(parseNumbers(row.list), row.numbers);
    }
    EXPECT_EQ(parseNumbers("723-832")->size(), 110u);
    EXPECT_EQ(parseNumbers("1-832"), allNumbers());
}

TEST(PackNames, AreNumbersWhateverTheirCaseAndOtherPictureNamesAreToldFromOtherFiles)
{
    struct Row {
        const char* name;
        std::optional<PackEntry> entry;
        bool picture = true;  // by its extension
    };
    const Row rows[] = {
        {"057.bmp", PackEntry{57, Slot::Large}},
        {"057T.BMP", PackEntry{57, Slot::Small}},
        {"057t.bmp", PackEntry{57, Slot::Small}},
        {"832.PNG", PackEntry{832, Slot::Large}},
        {"001T.png", PackEntry{1, Slot::Small}},
        {"57.bmp", PackEntry{57, Slot::Large}},
        {"0057.BMP", PackEntry{57, Slot::Large}},
        {"7T.png", PackEntry{7, Slot::Small}},
        {"000.bmp", std::nullopt},
        {"833.bmp", std::nullopt},
        {"0833.bmp", std::nullopt},
        {"057.jpg", std::nullopt},
        {"057 (2).bmp", std::nullopt},
        {"face.png", std::nullopt},
        {"057TT.bmp", std::nullopt},
        {"notes.txt", std::nullopt, false},
        {"Thumbs.db", std::nullopt, false},
        {"desktop.ini", std::nullopt, false},
        {"057.bmp.bak", std::nullopt, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(parsePackFileName(row.name), row.entry);
        EXPECT_EQ(isPictureFileName(row.name), row.picture);
    }
    for (auto kind : {session::FileKind::Bmp, session::FileKind::Png})
        for (Slot slot : {Slot::Large, Slot::Small})
            for (int number : {1, 57, 832})
                EXPECT_EQ(parsePackFileName(packFileName(number, slot, kind)),
                          (PackEntry{number, slot}));
    EXPECT_EQ(packFileName(57, Slot::Small, session::FileKind::Bmp), "057T.BMP");
}

}  // namespace
}  // namespace pelloran::session
