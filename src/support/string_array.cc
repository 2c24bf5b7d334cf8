// The append-only list of owned string copies, read by 1-based position.
#include "support/string_array.h"

#include <stdlib.h>
#include <string.h>

#include <new>

void arrayInit(StringArray *list) {
    list->head = nullptr;
    list->tail = nullptr;
    list->cursor = nullptr;
    list->cursorPosition = 0;
}

// Out of memory leaves the list as it was; callers that must not lose an item
// compare the tail before and after.
void arrayAppend(StringArray *list, const char *text) {
    StringArrayNode *node = (StringArrayNode *)malloc(sizeof(StringArrayNode));
    if (node == nullptr) return;
    size_t len = strlen(text);
    node->text = (char *)malloc(len + 1);
    if (node->text == nullptr) {
        free(node);
        return;
    }
    memcpy(node->text, text, len + 1);
    node->next = nullptr;
    if (list->head == nullptr) {
        list->tail = node;
        list->head = list->tail;
    } else {
        list->tail->next = node;
        list->tail = node;
    }
}

int getArraySize(StringArray *list) {
    int count = 0;
    for (StringArrayNode *n = list->head; n != nullptr; n = n->next) count++;
    return count;
}

long getArrayTotalContentByteSize(StringArray *list) {
    long total = 0;
    for (StringArrayNode *n = list->head; n != nullptr; n = n->next) total += (long)strlen(n->text);
    return total;
}

char *getArrayItem(StringArray *list, int position) {
    if (list->head == nullptr || position <= 0) return nullptr;
    StringArrayNode *node = list->head;
    int count = 1;
    // Resume where the previous read ended, so reading 1..n in turn is linear.
    if (list->cursor != nullptr && list->cursorPosition >= 1 && list->cursorPosition <= position) {
        node = list->cursor;
        count = list->cursorPosition;
    }
    while (count < position && node != nullptr) {
        node = node->next;
        count++;
    }
    if (node == nullptr) return nullptr;
    list->cursor = node;
    list->cursorPosition = count;
    return node->text;
}

void clearArrayContent(StringArray *list) {
    StringArrayNode *node = list->head;
    while (node != nullptr) {
        StringArrayNode *next = node->next;
        free(node->text);
        free(node);
        node = next;
    }
    arrayInit(list);
}

namespace nsfmend {

void StringArrayDeleter::operator()(StringArray *list) const {
    clearArrayContent(list);
    delete list;
}

OwnedStringArray newStringArray() {
    OwnedStringArray list(new (std::nothrow) StringArray());
    if (list) arrayInit(list.get());
    return list;
}

}  // namespace nsfmend
