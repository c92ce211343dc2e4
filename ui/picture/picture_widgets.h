// Small widget helpers shared by the input and picture pages.
#pragma once

#include "ui/shell/numberkeyboard.h"

#include <QFont>
#include <QString>

class QLabel;
class QWidget;

// The application font at the given point size.
QFont point_font(int points);
// A label with object name, geometry, point size (0: inherited) and style.
QLabel* point_label(QWidget* parent, const QString& name, int x, int y, int w, int h, int points,
                    const char* style);
// A page dialog of the picture pages: 800 x 480 at the top left, frameless,
// with the dark background the forms give all their widgets.
void picture_page_frame(QWidget* page, const char* objectName);
// The text of the small in-use badge of an input or mode tile: the word
// may break at a marked point (shown with a hyphen) where the badge is too
// narrow for it.
QString in_use_badge_text();
