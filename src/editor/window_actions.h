// What the fixed window offers beyond its buttons: a context menu anywhere on
// it and keyboard shortcuts, and the added windows they open. The buttons,
// their captions and places stay as they are.
#pragma once

#include <QIcon>

namespace pelloran::editor {

class Form1;

// Adds to form the actions of its context menu, each with its shortcut, and
// keeps each enabled exactly when its button is (or, for the added windows,
// when a pair is open). Every action calls the handler its button calls.
void addWindowActions(Form1& form);

// The program's icon in every size it ships, from the program's resources.
QIcon programIcon();

}  // namespace pelloran::editor
