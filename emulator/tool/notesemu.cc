// Placeholder: replaced by the real tool.
#include <stdio.h>

int main() {
    fprintf(stderr, "notesemu: not built yet\n");
    return 2;
}
