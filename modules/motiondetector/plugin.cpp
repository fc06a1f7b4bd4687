// The motion detector as a plugin: `ekvision run --module libekmotiondetector.so`.
#include <ekvision/ekvisionplugin.h>

#include "motiondetectormodule.h"

EKVISION_PLUGIN(ekmotion::MotionDetectorModule)
