// Fuzz support: the input format of fuzz_method_table, shared by the target, which reads
// it, and the seed writer, which writes inputs with the project's own values.
//
//   resolution, color space, frame rate   one byte each (modulo 5, 20 and 122)
//   call count                            one byte (modulo 24)
//   per call                              one byte choosing what to do (modulo kChoiceCount),
//                                         then what that choice reads:
//     a method (0 to 10)                  its argument list (see readArguments)
//     kFailCamera                         a camera call (modulo 6), a count (modulo 4)
//     kNonImages                          a count (modulo 3)
//     kUnknownMethod                      a name of kUnknownMethods (modulo 4), an argument
//                                         list
#ifndef EKVISION_FUZZ_METHODSCRIPT_H
#define EKVISION_FUZZ_METHODSCRIPT_H

#include <cstdint>
#include <string>

#include <ekvalue/ekvalue.h>

#include "fuzzvalue.h"

namespace ekfuzz {

/// The remote methods of every vision module, in the order of registration.
const char* const kMethods[] = {
    "setFrameRate",  "setResolution",   "setActiveCamera", "setParameter", "getFrameRate",
    "getResolution", "getActiveCamera", "isPaused",        "isProcessing", "pause",
    "_run",
};
const int kMethodCount = sizeof kMethods / sizeof kMethods[0];
/// Names no vision module has: the table must refuse them (none may reach "_run").
const char* const kUnknownMethods[] = {"run", "__run", "setframerate", ""};
const int kUnknownMethodCount = sizeof kUnknownMethods / sizeof kUnknownMethods[0];
const int kFailCamera = kMethodCount;
const int kNonImages = kMethodCount + 1;
const int kUnknownMethod = kMethodCount + 2;
const int kChoiceCount = kMethodCount + 3;

/// @brief An argument list: mostly an array of zero to three elements of any kind,
/// sometimes a value of any shape at all.
inline EK::EKValue readArguments(ValueReader& reader) {
  if (reader.byte() % 4 == 0) {
    return reader.value();
  }
  EK::EKValue list;
  const int count = reader.byte() % 4;
  list.arraySetSize(count);
  for (int i = 0; i < count; ++i) {
    list[i] = reader.value(1);
  }
  return list;
}

}  // namespace ekfuzz

#endif  // EKVISION_FUZZ_METHODSCRIPT_H
