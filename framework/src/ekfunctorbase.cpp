#include <ekcommon/ekfunctorbase.h>

namespace EK {

// Out of line so that the vtable lives in the framework library.
EKFunctorBase::~EKFunctorBase() = default;

}  // namespace EK
