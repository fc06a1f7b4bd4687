// Test support: small modules that exercise the framework.
#ifndef EKFRAMEWORK_TESTS_TESTMODULES_H
#define EKFRAMEWORK_TESTS_TESTMODULES_H

#include <atomic>
#include <string>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include <ekcommon/ekcompleteandcheck.h>
#include <ekcommon/ekfunctor.h>
#include <ekcommon/ekmodule.h>
#include <ekerror/ekerror.h>

namespace ektest {

/// A module with one method of each bound signature, and a method that blocks until told.
class Calculator : public EK::EKModule {
 public:
  Calculator(boost::shared_ptr<EK::EKBroker> broker, const std::string& name)
      : EKModule(std::move(broker), name) {
    functionName("twice", "Calculator", "Doubles a number", 0);
    addParam("value", "Number to double");
    setReturn("result", "Twice the number");
    EK::completeAndCheck(&Calculator::twice, getCurrentMethodDescription());
    bindMethod(EK::createFunctor(this, &Calculator::twice));

    functionName("setFlag", "Calculator", "Stores a flag", 0);
    EK::completeAndCheck(&Calculator::setFlag, getCurrentMethodDescription());
    bindMethod(EK::createFunctor(this, &Calculator::setFlag));

    functionName("remember", "Calculator", "Stores a key and a value", 0);
    EK::completeAndCheck(&Calculator::remember, getCurrentMethodDescription());
    bindMethod(EK::createFunctor(this, &Calculator::remember));

    functionName("count", "Calculator", "Counts its calls", 0);
    getCurrentMethodDescription().returnValue.typeName = EK::getTypeString(3);
    bindMethod(EK::createFunctor(this, &Calculator::count));

    functionName("block", "Calculator", "Waits until released or interrupted", 0);
    bindMethod(EK::createFunctor(this, &Calculator::block));

    functionName("fail", "Calculator", "Throws", 0);
    bindMethod(EK::createFunctor(this, &Calculator::fail));
  }

  int twice(const int& value) { return 2 * value; }
  void setFlag(const bool& value) { flag = value; }
  void remember(const std::string& key, const EK::EKValue& value) {
    lastKey = key;
    lastValue = value;
  }
  int count() { return ++calls; }
  void block() {
    boost::unique_lock<boost::mutex> lock(mutex);
    ++blocked;
    changed.notify_all();
    while (!released) {
      changed.wait(lock);  // an interruption point
    }
  }
  void fail() { throw EKERROR("Calculator", "fail", "failing on purpose"); }

  /// Lets every block() call return.
  void release() {
    boost::lock_guard<boost::mutex> lock(mutex);
    released = true;
    changed.notify_all();
  }
  /// Waits until @p count calls of block() have begun; false after @p timeoutMs.
  bool waitBlocked(int count, int timeoutMs) {
    boost::unique_lock<boost::mutex> lock(mutex);
    return changed.wait_for(lock, boost::chrono::milliseconds(timeoutMs),
                            [&] { return blocked >= count; });
  }

  bool flag = false;
  std::string lastKey;
  EK::EKValue lastValue;
  std::atomic<int> calls{0};

 private:
  boost::mutex mutex;
  boost::condition_variable changed;
  int blocked = 0;
  bool released = false;
};

}  // namespace ektest

#endif  // EKFRAMEWORK_TESTS_TESTMODULES_H
