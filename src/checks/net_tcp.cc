// The TCP check the appliance names, for which this daemon has no module:
// a rule of it is loaded and never triggers.
#include "checks/check_type.h"

extern const CheckType kNetTcpCheck = {
    .name = "net_tcp",
    .domain = "net.tcp",
    .has_resolve = true,
    .level = true,
};
