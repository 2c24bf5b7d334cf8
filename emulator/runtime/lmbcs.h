// LMBCS, the platform's character set, to and from UTF-8 (the native one).
// OSTranslate, in lmbcs.cc, serves the same conversions to the program.
#ifndef NOTESEMU_RUNTIME_LMBCS_H
#define NOTESEMU_RUNTIME_LMBCS_H

#include <string>
#include <string_view>

namespace emu {

std::string LmbcsToNative(std::string_view lmbcs);
std::string NativeToLmbcs(std::string_view native);

}  // namespace emu

#endif
