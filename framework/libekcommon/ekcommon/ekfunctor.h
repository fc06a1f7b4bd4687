/// @file
/// Functors that turn a module's member functions into remote methods.
///
/// A method table executes a method with an EKValue argument list and an EKValue result.
/// The functors below convert each argument to the member function's parameter type (see
/// ekvalue/detail/ekfunctorconvert.h), call the member function on the module, and wrap its
/// result, if it has one, in the result value.
#ifndef EKCOMMON_EKFUNCTOR_H
#define EKCOMMON_EKFUNCTOR_H

#include <type_traits>

#include <boost/shared_ptr.hpp>

#include <ekcommon/ekfunctorbase.h>
#include <ekvalue/detail/ekfunctorconvert.h>
#include <ekvalue/ekvalue.h>

namespace EK {
namespace detail {

/// Argument @p index of a list, read as the parameter type P.
template <typename P>
std::decay_t<P> convertArgument(const EKValue& arguments, int index) {
  return converter<std::decay_t<P>>::convertFromEKValue(arguments[index]);
}

/// Calls @p method on @p object and, unless R is void, stores its answer in @p result.
template <typename R, typename C, typename Method, typename... Args>
void invokeInto(EKValue& result, C* object, Method method, Args&... args) {
  if constexpr (std::is_void_v<R>) {
    (object->*method)(args...);
  } else {
    result = EKValue((object->*method)(args...));
  }
}

/// @brief A member function without parameters as a method. The object is not owned.
template <typename C, typename R>
class EKFunctor_0 : public EKFunctorBase {
 public:
  /// The member function bound.
  using Method = R (C::*)();
  /// Binds @p method of @p object.
  EKFunctor_0(C* object, Method method) : object_(object), method_(method) {}
  /// Calls the member function; the argument list is not read.
  void call(const EKValue& /*arguments*/, EKValue& result) override {
    invokeInto<R>(result, object_, method_);
  }

 private:
  C* object_;
  Method method_;
};

/// @brief A member function of one parameter as a method. The object is not owned.
template <typename C, typename P1, typename R>
class EKFunctor_1 : public EKFunctorBase {
 public:
  /// The member function bound.
  using Method = R (C::*)(P1);
  /// Binds @p method of @p object.
  EKFunctor_1(C* object, Method method) : object_(object), method_(method) {}
  /// Converts argument 0, then calls the member function.
  void call(const EKValue& arguments, EKValue& result) override {
    auto a1 = convertArgument<P1>(arguments, 0);
    invokeInto<R>(result, object_, method_, a1);
  }

 private:
  C* object_;
  Method method_;
};

/// @brief A member function of two parameters as a method. The object is not owned.
template <typename C, typename P1, typename P2, typename R>
class EKFunctor_2 : public EKFunctorBase {
 public:
  /// The member function bound.
  using Method = R (C::*)(P1, P2);
  /// Binds @p method of @p object.
  EKFunctor_2(C* object, Method method) : object_(object), method_(method) {}
  /// Converts arguments 0 and 1 (a dynamic-value parameter is copied as it is), then calls.
  void call(const EKValue& arguments, EKValue& result) override {
    auto a1 = convertArgument<P1>(arguments, 0);
    auto a2 = convertArgument<P2>(arguments, 1);
    invokeInto<R>(result, object_, method_, a1, a2);
  }

 private:
  C* object_;
  Method method_;
};

}  // namespace detail

/// @brief A new functor for a member function without parameters, owned by the pointer.
/// @param object the module that the method is called on; it must outlive the functor
/// @param method the member function; the other overloads take member functions of one and
///   of two parameters
template <typename C, typename R>
boost::shared_ptr<EKFunctorBase> createFunctor(C* object, R (C::*method)()) {
  // shared_ptr deletes the functor itself when it cannot allocate its count.
  return boost::shared_ptr<EKFunctorBase>(new detail::EKFunctor_0<C, R>(object, method));
}

/// @brief A new functor for a member function of one parameter, owned by the pointer.
template <typename C, typename P1, typename R>
boost::shared_ptr<EKFunctorBase> createFunctor(C* object, R (C::*method)(P1)) {
  return boost::shared_ptr<EKFunctorBase>(new detail::EKFunctor_1<C, P1, R>(object, method));
}

/// @brief A new functor for a member function of two parameters, owned by the pointer.
template <typename C, typename P1, typename P2, typename R>
boost::shared_ptr<EKFunctorBase> createFunctor(C* object, R (C::*method)(P1, P2)) {
  return boost::shared_ptr<EKFunctorBase>(new detail::EKFunctor_2<C, P1, P2, R>(object, method));
}

}  // namespace EK

#endif  // EKCOMMON_EKFUNCTOR_H
