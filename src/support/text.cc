// Placeholder: replaced by the real helpers.
#include "support/text.h"

const char DirSlash[2] = "/";
