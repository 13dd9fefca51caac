// pelloran-batch: the editor's export, import and checks over many portrait
// numbers at once, from a terminal or a script.
#include <string>
#include <vector>

#include "batch/cli.h"

int main(int argc, char* argv[])
{
    return static_cast<int>(pelloran::batch::run(std::vector<std::string>(argv + 1, argv + argc)));
}
