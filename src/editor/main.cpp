// Pelloran: the portrait editor's one window.
#include "editor/application.h"

int main(int argc, char* argv[])
{
    return pelloran::editor::runEditor(argc, argv);
}
