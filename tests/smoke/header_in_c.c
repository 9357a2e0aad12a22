/* The public header compiles as C: applications in C include it too. Its
 * layout checks then run in C as well (_Static_assert). */
#include "tavcam.h"

unsigned tavcam_header_in_c_record_size(void) { return (unsigned)sizeof(CameraRecord); }
