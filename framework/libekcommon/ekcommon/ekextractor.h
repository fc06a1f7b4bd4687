/// @file
/// The base of extractor modules: clients subscribe to them, and detection runs while any
/// client is subscribed.
#ifndef EKCOMMON_EKEXTRACTOR_H
#define EKCOMMON_EKEXTRACTOR_H

#include <memory>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include <ekcommon/api.h>
#include <ekcommon/ekmodule.h>

namespace EK {

/// @brief A module that detects something for its subscribers.
///
/// Each subscriber asks for a period (milliseconds between results) and a precision (0 to
/// 1). The extractor works for the most demanding of them: the current period and precision
/// are the smallest ones asked, or the defaults while nobody is subscribed.
///
/// The first subscription calls xStartDetection(), a later change of the current period or
/// precision calls xUpdateParameters(), the last unsubscription calls xStopDetection().
///
/// Threads: every operation may be called from any thread. The hooks are called on the
/// thread of the operation that caused them, one at a time and in the order of the
/// changes: subscriptions and their hooks are serialised by a transition lock, held while a
/// hook runs (a hook may block for a frame period). The subscriber list has a lock of its
/// own that is never held while a hook runs, so the getters answer at once even then. A hook
/// must not subscribe, unsubscribe or update on its own extractor (EKError says so).
class EKFRAMEWORK_API EKExtractor : public EKModule {
 public:
  /// An extractor without subscribers. @throws EKError as EKModuleCore does
  EKExtractor(boost::shared_ptr<EKBroker> broker, const std::string& name);
  /// Calls no hook: stop detection (unsubscribe everybody) before destroying it.
  ~EKExtractor() override;

  /// The subscribers with their periods and precisions, and the current values.
  std::string httpGet() override;

  /// @brief Subscribes @p name, or changes its period and precision when already subscribed.
  /// @throws EKError for an empty name, a period below 1 or a precision outside 0 to 1; what
  ///   a hook throws passes on, and a subscription whose start failed is withdrawn
  virtual void subscribe(const std::string& name, const int& period, const float& precision);
  /// Changes the period of subscriber @p name. @throws EKError for an unknown name
  virtual void updatePeriod(const std::string& name, const int& period);
  /// Changes the precision of subscriber @p name. @throws EKError for an unknown name
  virtual void updatePrecision(const std::string& name, const float& precision);
  /// Withdraws subscriber @p name. @throws EKError for an unknown name
  virtual void unsubscribe(const std::string& name);
  /// The smallest period asked, or getDefaultPeriod() without subscribers.
  virtual int getCurrentPeriod();
  /// The smallest precision asked, or getDefaultPrecision() without subscribers.
  virtual float getCurrentPrecision();
  /// The period subscriber @p name asked for. @throws EKError for an unknown name
  virtual int getMyPeriod(const std::string& name);
  /// The precision subscriber @p name asked for. @throws EKError for an unknown name
  virtual float getMyPrecision(const std::string& name);

  /// Starts detection for the first subscriber, with the current period and precision.
  virtual void xStartDetection(int period, float precision) = 0;
  /// Adapts running detection to a new current period or precision.
  virtual void xUpdateParameters(int period, float precision) = 0;
  /// Stops detection after the last subscriber left.
  virtual void xStopDetection() = 0;

  /// Period used while nobody is subscribed: 30 ms.
  virtual int getDefaultPeriod();
  /// Precision used while nobody is subscribed: 0.
  virtual float getDefaultPrecision();

  /// Names of the subscribers, sorted.
  std::vector<std::string> getSubscribers() const;
  /// Whether detection runs: the last start hook succeeded and no stop followed.
  bool isDetecting() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace EK

#endif  // EKCOMMON_EKEXTRACTOR_H
