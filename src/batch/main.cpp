// pelloran-batch: the editor's export, import and checks over many portrait
// numbers at once, from a terminal or a script.
#include <string>
#include <vector>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "batch/cli.h"
#include "fileio/host.h"

int main(int argc, char* argv[])
{
#ifdef __GLIBC__
    // Every PNG file written takes a quarter megabyte for zlib and gives it
    // back; by default the C library hands that to the system and asks for it
    // again each time, which cost a third of a PNG pack's time. A batch run is
    // short: the memory is kept until it ends.
    mallopt(M_MMAP_THRESHOLD, 16 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
    return static_cast<int>(pelloran::batch::run(pelloran::host::arguments(argc, argv)));
}
