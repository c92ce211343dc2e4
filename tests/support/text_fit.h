// Whether the texts of a page fit their widgets, measured with the font
// metrics of the fonts installed here.
#pragma once

#include <QStringList>

class QWidget;

// The texts shown under root (root included) that do not fit the room their
// widget gives them with the font they are drawn in: labels, buttons (the
// check mark of a check box or radio button left aside), line edits (the
// text, else the placeholder), the items of lists and tables, group titles,
// and combo boxes, both the item shown in the box and every item of its
// list as the list opens (opened here and closed again). One line per text,
// "<object name> \"<text>\" needs WxH, has wxh"; an item is named
// "<object name>[row]", an item of an open list "<object name>.list[row]".
// A text cut short with an ellipsis counts as not fitting unless the
// widget's tool tip holds the whole text.
QStringList textsThatDoNotFit(QWidget* root);
