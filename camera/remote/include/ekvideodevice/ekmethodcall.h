/// @file
/// The checks of a call of a module's remote method, the same for a call made in the
/// module's own process (`ekvision run --call`) and one that came over the network
/// (EKMethodServer): the number of arguments and each one's type against the method's
/// description.
#ifndef EKVIDEODEVICE_EKMETHODCALL_H
#define EKVIDEODEVICE_EKMETHODCALL_H

#include <cstddef>
#include <string>

#include <ekcommon/ekmethodinfo.h>
#include <ekvalue/ekvalue.h>
#include <ekvideodevice/ekremote_api.h>
#include <ekvision/ekstatus.h>

namespace EK {

/// @brief Fits @p value to a parameter whose type name is @p typeName (as in
/// EKMethodInfo: "bool", "int", "float", "std::string", "EKValue").
///
/// A bool takes true or false, or a whole number; an int a whole number; a float a decimal
/// or a whole number (made a float); a string text; an EKValue anything.
/// @return whether @p value may be passed; it may have been made a float
EKREMOTE_API bool fitArgument(EKValue& value, const std::string& typeName);

/// @brief What @p value is, in words for a message: "true or false", "a whole number",
/// "a decimal number", "text", "binary data", "a list", "nothing".
EKREMOTE_API std::string valueKindName(const EKValue& value);

/// @brief Checks @p arguments (an array) against @p method, fitting each one.
/// @return ok, or kInvalidArgument with one line: "pause takes 1 argument(s): paused; 0
///   given", "argument paused of pause is a bool, not text"
EKREMOTE_API EKStatus checkCallArguments(const EKMethodInfo& method, EKValue& arguments);

/// @brief The line for a call of @p method with @p given arguments when it takes another
/// number: "pause takes 1 argument(s): paused; 0 given".
EKREMOTE_API std::string argumentCountMismatch(const EKMethodInfo& method, std::size_t given);

/// @brief The line for an argument that does not fit: "argument paused of pause is a bool,
/// not text".
EKREMOTE_API std::string argumentTypeMismatch(const EKMethodInfo& method, std::size_t index,
                                              const EKValue& value);

}  // namespace EK

#endif  // EKVIDEODEVICE_EKMETHODCALL_H
