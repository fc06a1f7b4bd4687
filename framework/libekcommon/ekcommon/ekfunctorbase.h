/// @file
/// The interface through which a module's method table executes a bound method.
#ifndef EKCOMMON_EKFUNCTORBASE_H
#define EKCOMMON_EKFUNCTORBASE_H

#include <ekcommon/api.h>
#include <ekvalue/ekvalue.h>

namespace EK {

/// @brief A callable method: takes an argument list and writes a result, both as EKValues.
///
/// Functors are handed to the framework as boost::shared_ptr<EKFunctorBase>, which owns them.
class EKFRAMEWORK_API EKFunctorBase {
 public:
  /// @brief Executes the method.
  /// @param arguments the argument list, an array with one element per parameter
  /// @param result receives the method's result; left untouched by methods without one
  virtual void call(const EKValue& arguments, EKValue& result) = 0;
  /// Functors are owned and destroyed through this base.
  virtual ~EKFunctorBase();
};

}  // namespace EK

#endif  // EKCOMMON_EKFUNCTORBASE_H
