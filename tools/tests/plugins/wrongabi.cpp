// A plugin built for the next version of the plugin interface: a host of this version
// must refuse it before calling its factory.
#include <ekerror/ekerror.h>
#include <ekvision/ekvisionplugin.h>

EKVISION_PLUGIN_EXPORT int ekvisionPluginAbiVersion() {
  return EKVISION_PLUGIN_ABI_VERSION + 1;
}

EKVISION_PLUGIN_EXPORT void ekvisionCreateModule(const boost::shared_ptr<EK::EKBroker>*,
                                                 const char*,
                                                 boost::shared_ptr<EK::EKVisionExtractor>*) {
  throw EK::EKError("wrongabi", "ekvisionCreateModule", "a host called a refused factory");
}
