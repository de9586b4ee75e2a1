// The meaning of a system error for the link.
//
// Thread rule: pure.
#include "link/link_error.h"

#include <cerrno>

LinkCause CauseOfErrno(int errorNumber) {
  switch (errorNumber) {
    case 0: return LinkCause::None;
    case ENOENT:
    case ENODEV:
    case ENXIO: return LinkCause::Missing;
    case EACCES:
    case EPERM: return LinkCause::Permission;
    case EBUSY: return LinkCause::Busy;
    case ENOTTY: return LinkCause::NotSerial;
    default: return LinkCause::Other;
  }
}
