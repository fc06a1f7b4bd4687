#include <ekcommon/ekextractor.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include <ekerror/ekerror.h>

namespace EK {
// A named namespace rather than an anonymous one: Impl, which has external linkage, holds
// these types.
namespace extractordetail {

struct Subscription {
  int period;
  float precision;
};

using Subscriptions = std::map<std::string, Subscription>;

enum class Hook { kNone, kStart, kUpdate, kStop };

}  // namespace extractordetail

using extractordetail::Hook;
using extractordetail::Subscription;
using extractordetail::Subscriptions;

struct EKExtractor::Impl {
  // Serialises subscription changes with the hooks they cause; held while a hook runs.
  std::mutex transitionMutex;
  std::atomic<std::thread::id> transitionOwner{};
  // Guards the fields below; never held while a hook runs.
  mutable std::mutex stateMutex;
  Subscriptions subscriptions;
  bool detecting = false;
};

namespace {

// The most demanding values asked: the smallest period and precision.
template <typename Field>
auto smallest(const Subscriptions& subscriptions, Field field) {
  auto best = subscriptions.begin()->second.*field;
  for (const auto& entry : subscriptions) {
    best = std::min(best, entry.second.*field);
  }
  return best;
}

void checkPeriod(const char* method, int period) {
  if (period < 1) {
    throw EKERROR("EKExtractor", method,
                  "period must be at least 1 ms, not " + std::to_string(period));
  }
}

void checkPrecision(const char* method, float precision) {
  if (!(precision >= 0.0f && precision <= 1.0f)) {
    throw EKERROR("EKExtractor", method,
                  "precision must lie between 0 and 1, not " + std::to_string(precision));
  }
}

}  // namespace

EKExtractor::EKExtractor(boost::shared_ptr<EKBroker> broker, const std::string& name)
    : EKModule(std::move(broker), name), impl_(new Impl) {}

EKExtractor::~EKExtractor() = default;

namespace {

// Applies one change to the subscriptions and calls the hook it causes.
class Transition {
 public:
  Transition(std::mutex& transitionMutex, std::atomic<std::thread::id>& owner, const char* method)
      : owner_(owner) {
    if (owner.load() == std::this_thread::get_id()) {
      throw EKERROR("EKExtractor", method,
                    "a detection hook cannot change the subscriptions of its own extractor");
    }
    lock_ = std::unique_lock<std::mutex>(transitionMutex);
    owner_.store(std::this_thread::get_id());
  }
  ~Transition() { owner_.store(std::thread::id()); }

 private:
  std::atomic<std::thread::id>& owner_;
  std::unique_lock<std::mutex> lock_;
};

}  // namespace

namespace {

// One path for every change: edit the list under the state lock, decide the hook from the
// lists before and after, call the hook without the state lock, and undo the edit when the
// hook that should have started detection fails.
template <typename Edit>
void applyChange(EKExtractor& extractor, std::mutex& stateMutex, Subscriptions& list,
                 bool& detecting, Edit edit) {
  Hook hook = Hook::kNone;
  Subscriptions before;
  int period = 0;
  float precision = 0.0f;
  {
    std::lock_guard<std::mutex> lock(stateMutex);
    before = list;
    edit(list);
    if (list.empty()) {
      hook = detecting ? Hook::kStop : Hook::kNone;
    } else {
      period = smallest(list, &Subscription::period);
      precision = smallest(list, &Subscription::precision);
      if (!detecting) {
        hook = Hook::kStart;
      } else if (period != smallest(before, &Subscription::period) ||
                 precision != smallest(before, &Subscription::precision)) {
        hook = Hook::kUpdate;
      }
    }
    // Detection counts as stopped even when the stop hook fails: nobody is left to serve.
    if (hook == Hook::kStop) {
      detecting = false;
    }
  }
  switch (hook) {
    case Hook::kStart:
      try {
        extractor.xStartDetection(period, precision);
      } catch (...) {
        std::lock_guard<std::mutex> lock(stateMutex);
        list = before;
        throw;
      }
      {
        std::lock_guard<std::mutex> lock(stateMutex);
        detecting = true;
      }
      break;
    case Hook::kUpdate:
      extractor.xUpdateParameters(period, precision);
      break;
    case Hook::kStop:
      extractor.xStopDetection();
      break;
    case Hook::kNone:
      break;
  }
}

}  // namespace

void EKExtractor::subscribe(const std::string& name, const int& period, const float& precision) {
  if (name.empty()) {
    throw EKERROR("EKExtractor", "subscribe", "a subscriber needs a name");
  }
  checkPeriod("subscribe", period);
  checkPrecision("subscribe", precision);
  Transition transition(impl_->transitionMutex, impl_->transitionOwner, "subscribe");
  applyChange(*this, impl_->stateMutex, impl_->subscriptions, impl_->detecting,
              [&](Subscriptions& list) {
                list[name] = Subscription{period, precision};
              });
}

namespace {

Subscription& findSubscriber(Subscriptions& list, const std::string& name, const char* method,
                             const std::string& extractor) {
  auto found = list.find(name);
  if (found == list.end()) {
    throw EKERROR("EKExtractor", method, name + " is not subscribed to " + extractor);
  }
  return found->second;
}

}  // namespace

void EKExtractor::updatePeriod(const std::string& name, const int& period) {
  checkPeriod("updatePeriod", period);
  Transition transition(impl_->transitionMutex, impl_->transitionOwner, "updatePeriod");
  applyChange(*this, impl_->stateMutex, impl_->subscriptions, impl_->detecting,
              [&](Subscriptions& list) {
                findSubscriber(list, name, "updatePeriod", getName()).period = period;
              });
}

void EKExtractor::updatePrecision(const std::string& name, const float& precision) {
  checkPrecision("updatePrecision", precision);
  Transition transition(impl_->transitionMutex, impl_->transitionOwner, "updatePrecision");
  applyChange(*this, impl_->stateMutex, impl_->subscriptions, impl_->detecting,
              [&](Subscriptions& list) {
                findSubscriber(list, name, "updatePrecision", getName()).precision = precision;
              });
}

void EKExtractor::unsubscribe(const std::string& name) {
  Transition transition(impl_->transitionMutex, impl_->transitionOwner, "unsubscribe");
  applyChange(*this, impl_->stateMutex, impl_->subscriptions, impl_->detecting,
              [&](Subscriptions& list) {
                findSubscriber(list, name, "unsubscribe", getName());
                list.erase(name);
              });
}

int EKExtractor::getCurrentPeriod() {
  {
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    if (!impl_->subscriptions.empty()) {
      return smallest(impl_->subscriptions, &Subscription::period);
    }
  }
  return getDefaultPeriod();
}

float EKExtractor::getCurrentPrecision() {
  {
    std::lock_guard<std::mutex> lock(impl_->stateMutex);
    if (!impl_->subscriptions.empty()) {
      return smallest(impl_->subscriptions, &Subscription::precision);
    }
  }
  return getDefaultPrecision();
}

int EKExtractor::getMyPeriod(const std::string& name) {
  std::lock_guard<std::mutex> lock(impl_->stateMutex);
  return findSubscriber(impl_->subscriptions, name, "getMyPeriod", getName()).period;
}

float EKExtractor::getMyPrecision(const std::string& name) {
  std::lock_guard<std::mutex> lock(impl_->stateMutex);
  return findSubscriber(impl_->subscriptions, name, "getMyPrecision", getName()).precision;
}

int EKExtractor::getDefaultPeriod() {
  return 30;
}

float EKExtractor::getDefaultPrecision() {
  return 0.0f;
}

std::vector<std::string> EKExtractor::getSubscribers() const {
  std::lock_guard<std::mutex> lock(impl_->stateMutex);
  std::vector<std::string> names;
  for (const auto& entry : impl_->subscriptions) {
    names.push_back(entry.first);
  }
  return names;
}

bool EKExtractor::isDetecting() const {
  std::lock_guard<std::mutex> lock(impl_->stateMutex);
  return impl_->detecting;
}

std::string EKExtractor::httpGet() {
  std::ostringstream page;
  page << EKModule::httpGet() << "current period " << getCurrentPeriod() << " ms, precision "
       << getCurrentPrecision() << (isDetecting() ? ", detecting" : ", idle") << "\n";
  std::lock_guard<std::mutex> lock(impl_->stateMutex);
  for (const auto& entry : impl_->subscriptions) {
    page << "  subscriber " << entry.first << ": period " << entry.second.period
         << " ms, precision " << entry.second.precision << "\n";
  }
  return page.str();
}

}  // namespace EK
