/// @file
/// Completion of a method description from the bound member function's signature.
#ifndef EKCOMMON_EKCOMPLETEANDCHECK_H
#define EKCOMMON_EKCOMPLETEANDCHECK_H

#include <string>
#include <type_traits>
#include <vector>

#include <ekcommon/ekmethodinfo.h>
#include <ekvalue/ekvalue.h>

namespace EK {
namespace detail {

/// Code of a parameter or result type for EK::getTypeString.
template <typename T, typename Decayed = std::decay_t<T>>
constexpr int typeCode() {
  if constexpr (std::is_void_v<Decayed>) {
    return 1;
  } else if constexpr (std::is_same_v<Decayed, bool>) {
    return 2;
  } else if constexpr (std::is_same_v<Decayed, int>) {
    return 3;
  } else if constexpr (std::is_same_v<Decayed, float>) {
    return 4;
  } else if constexpr (std::is_same_v<Decayed, std::string>) {
    return 5;
  } else {
    static_assert(std::is_same_v<Decayed, EKValue>, "no type name for this parameter type");
    return 6;
  }
}

/// @brief Sets the return type name and gives every parameter position a described type.
///
/// Positions that addParam did not describe get the name "arg1", "arg2", ... and the
/// description "arg". Descriptions beyond the signature are left as they are.
inline void completeDescription(EKMethodInfo& info, int returnCode,
                                const std::vector<int>& parameterCodes) {
  info.returnValue.typeName = getTypeString(returnCode);
  for (std::size_t position = info.parameters.size(); position < parameterCodes.size();
       ++position) {
    EKMethodInfo::EKParameterInfo added;
    added.name = std::string("arg") + static_cast<char>('1' + position);
    added.description = "arg";
    info.parameters.push_back(added);
  }
  for (std::size_t position = 0; position < parameterCodes.size(); ++position) {
    info.parameters[position].typeName = getTypeString(parameterCodes[position]);
  }
}

}  // namespace detail

/// @brief Completes @p info with the type names of a one-parameter member function.
template <typename C, typename P1, typename R>
void completeAndCheck(R (C::*)(P1), EKMethodInfo& info) {
  detail::completeDescription(info, detail::typeCode<R>(), {detail::typeCode<P1>()});
}

/// @brief Completes @p info with the type names of a two-parameter member function.
template <typename C, typename P1, typename P2, typename R>
void completeAndCheck(R (C::*)(P1, P2), EKMethodInfo& info) {
  detail::completeDescription(info, detail::typeCode<R>(),
                              {detail::typeCode<P1>(), detail::typeCode<P2>()});
}

}  // namespace EK

#endif  // EKCOMMON_EKCOMPLETEANDCHECK_H
