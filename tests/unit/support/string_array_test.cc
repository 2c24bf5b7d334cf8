#include "support/string_array.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

class StringListTest : public ::testing::Test {
protected:
    void SetUp() override { arrayInit(&list); }
    void TearDown() override { clearArrayContent(&list); }
    StringArray list;
};

TEST_F(StringListTest, FreshListIsEmpty) {
    EXPECT_EQ(0, getArraySize(&list));
    EXPECT_EQ(0, getArrayTotalContentByteSize(&list));
    EXPECT_EQ(nullptr, getArrayItem(&list, 1));
}

TEST_F(StringListTest, ItemsByPositionAndOutOfRange) {
    arrayAppend(&list, "a");
    arrayAppend(&list, "bc");
    EXPECT_EQ(2, getArraySize(&list));
    EXPECT_EQ(3, getArrayTotalContentByteSize(&list));
    EXPECT_STREQ("a", getArrayItem(&list, 1));
    EXPECT_STREQ("bc", getArrayItem(&list, 2));
    EXPECT_EQ(nullptr, getArrayItem(&list, 0));
    EXPECT_EQ(nullptr, getArrayItem(&list, -1));
    EXPECT_EQ(nullptr, getArrayItem(&list, 3));
    // The remembered place must not break reads that go backwards.
    EXPECT_STREQ("a", getArrayItem(&list, 1));
    EXPECT_STREQ("bc", getArrayItem(&list, 2));
    EXPECT_STREQ("bc", getArrayItem(&list, 2));
    EXPECT_STREQ("a", getArrayItem(&list, 1));
}

TEST_F(StringListTest, ItemIsACopyAndEmptyTextCounts) {
    char buf[8];
    strcpy(buf, "abc");
    arrayAppend(&list, buf);
    strcpy(buf, "xyz");
    arrayAppend(&list, "");
    EXPECT_STREQ("abc", getArrayItem(&list, 1));
    EXPECT_STREQ("", getArrayItem(&list, 2));
    EXPECT_EQ(2, getArraySize(&list));
    EXPECT_EQ(3, getArrayTotalContentByteSize(&list));
}

TEST_F(StringListTest, ClearedListIsUsableAgain) {
    arrayAppend(&list, "a");
    getArrayItem(&list, 1);
    clearArrayContent(&list);
    EXPECT_EQ(0, getArraySize(&list));
    EXPECT_EQ(nullptr, getArrayItem(&list, 1));
    arrayAppend(&list, "new");
    EXPECT_EQ(1, getArraySize(&list));
    EXPECT_STREQ("new", getArrayItem(&list, 1));
    EXPECT_EQ(nullptr, getArrayItem(&list, 2));
}

TEST_F(StringListTest, ReadingInTurnAfterLateAppends) {
    for (int i = 1; i <= 1000; i++) arrayAppend(&list, std::to_string(i).c_str());
    for (int i = 1; i <= 1000; i++) ASSERT_EQ(std::to_string(i), getArrayItem(&list, i));
    arrayAppend(&list, "1001");
    EXPECT_STREQ("1001", getArrayItem(&list, 1001));
    EXPECT_STREQ("500", getArrayItem(&list, 500));
}
