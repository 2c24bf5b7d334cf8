// Placeholder: replaced by the real driver.
#include <stdio.h>

int main() {
    printf("Media Recovery Utility for Lotus Domino 8.0 or above\n\n");
    return 0;
}
