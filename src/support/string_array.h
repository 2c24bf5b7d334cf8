// StringArray: the program's append-only list of owned string copies, read
// back by 1-based position.
#ifndef NSFMEND_SUPPORT_STRING_ARRAY_H
#define NSFMEND_SUPPORT_STRING_ARRAY_H

#include <memory>

typedef struct StringArrayNode {
    char *text;
    struct StringArrayNode *next;
} StringArrayNode;

typedef struct StringArray {
    StringArrayNode *head;
    StringArrayNode *tail;
    // Where the last getArrayItem ended, so reading positions 1..n in turn
    // stays linear instead of walking from head every time.
    StringArrayNode *cursor;
    int cursorPosition;
} StringArray;

void arrayInit(StringArray *list);
void arrayAppend(StringArray *list, const char *text);
int getArraySize(StringArray *list);
long getArrayTotalContentByteSize(StringArray *list);
char *getArrayItem(StringArray *list, int position);
void clearArrayContent(StringArray *list);

namespace nsfmend {

struct StringArrayDeleter {
    void operator()(StringArray *list) const;
};
// A list on the heap, emptied and freed on every return of its owner.
using OwnedStringArray = std::unique_ptr<StringArray, StringArrayDeleter>;
// A new empty list; null when there is no memory for it.
OwnedStringArray newStringArray();

}  // namespace nsfmend

#endif
