#include "child.h"
namespace platform_test {
int RoleWindowServer(const Args&) {
    return 99;
}
int RoleWatchDevices(const Args&) {
    return 99;
}
}  // namespace platform_test
