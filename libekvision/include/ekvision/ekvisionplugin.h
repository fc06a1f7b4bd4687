/// @file
/// Vision modules built as plugin shared libraries: the factory a plugin exports and the
/// version a host checks before it calls it.
///
/// A plugin is a shared library holding one vision module (a class derived from
/// EK::EKVisionExtractor whose constructor takes the broker and the module's name) and one
/// line that defines its two entry points:
/// @code
///   #include <ekvision/ekvisionplugin.h>
///   class MyDetector : public EK::EKVisionExtractor { ... };
///   EKVISION_PLUGIN(MyDetector)
/// @endcode
/// A host opens the library (dlopen), looks up the two C-linkage symbols named by
/// EK::kVisionPluginAbiSymbol and EK::kVisionPluginFactorySymbol, refuses the plugin when
/// its ABI version differs from EKVISION_PLUGIN_ABI_VERSION, and calls the factory.
/// `ekvision run --module PATH.so` is such a host.
///
/// The plugin links the same libekvision and framework libraries as the host and shares
/// its C++ runtime: the factory's parameters are C++ objects passed by address, and an
/// exception thrown while the module is built reaches the host. The host keeps the library
/// open until the module is destroyed and the broker's tasks have ended, since the module's
/// code lives in it.
#ifndef EKVISION_EKVISIONPLUGIN_H
#define EKVISION_EKVISIONPLUGIN_H

#include <string>

#include <boost/shared_ptr.hpp>

#include <ekcommon/ekbroker.h>
#include <ekcommon/ekmodule.h>
#include <ekvision/ekvisionextractor.h>

/// @brief Version of the plugin interface: the factory's signature and the classes it hands
/// over. A host loads only plugins built for the version it was built for.
#define EKVISION_PLUGIN_ABI_VERSION 1

/// Gives a plugin's entry points default visibility in a library built with hidden ones.
#define EKVISION_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

/// @brief The ABI version the plugin was built for: EKVISION_PLUGIN_ABI_VERSION at the time.
EKVISION_PLUGIN_EXPORT int ekvisionPluginAbiVersion();

/// @brief Builds the plugin's module, registers it with the broker and calls its init().
/// @param broker the broker the module lives in; it lists the camera "EKVideoDevice"
/// @param name the module's name, a null-terminated string
/// @param module receives the module; one that failed while it was built (it reached no
///   camera, say) is returned already exited (EKModule::hasExited())
/// @throws EKError (or another std::exception) when the module cannot be built, for
///   instance when a module of that name is already registered
EKVISION_PLUGIN_EXPORT void ekvisionCreateModule(const boost::shared_ptr<EK::EKBroker>* broker,
                                                 const char* name,
                                                 boost::shared_ptr<EK::EKVisionExtractor>* module);

namespace EK {

/// Name of the symbol of the ABI version function.
constexpr const char* kVisionPluginAbiSymbol = "ekvisionPluginAbiVersion";
/// Name of the symbol of the factory.
constexpr const char* kVisionPluginFactorySymbol = "ekvisionCreateModule";

/// Type of the ABI version function, as a host finds it with dlsym.
using EKVisionPluginAbiFunction = int (*)();
/// Type of the factory, as a host finds it with dlsym.
using EKVisionPluginFactory = void (*)(const boost::shared_ptr<EKBroker>* broker, const char* name,
                                       boost::shared_ptr<EKVisionExtractor>* module);

}  // namespace EK

/// @brief Defines the two entry points of a plugin whose module is @p ClassName.
///
/// Use it once, at namespace scope, in one source file of the plugin. @p ClassName derives
/// from EK::EKVisionExtractor and has a constructor (boost::shared_ptr<EK::EKBroker>,
/// const std::string&); the factory builds it with EK::createModule.
#define EKVISION_PLUGIN(ClassName)                                       \
  EKVISION_PLUGIN_EXPORT int ekvisionPluginAbiVersion() {                \
    return EKVISION_PLUGIN_ABI_VERSION;                                  \
  }                                                                      \
  EKVISION_PLUGIN_EXPORT void ekvisionCreateModule(                      \
      const boost::shared_ptr<::EK::EKBroker>* broker, const char* name, \
      boost::shared_ptr<::EK::EKVisionExtractor>* module) {              \
    *module = ::EK::createModule<ClassName>(*broker, std::string(name)); \
  }

#endif  // EKVISION_EKVISIONPLUGIN_H
