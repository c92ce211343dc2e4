// Whether the texts of a page fit their widgets, measured with the font
// metrics of the fonts installed here.
#pragma once

#include <QStringList>

class QWidget;

// The labels and buttons shown under root (root included) whose text does
// not fit the room the widget gives it with the font it draws in: one line
// per widget, "<object name> \"<text>\" needs WxH, has wxh". A text cut
// short with an ellipsis counts as not fitting unless the widget's tool tip
// holds the whole text.
QStringList textsThatDoNotFit(QWidget* root);
