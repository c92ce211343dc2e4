// Texts that fit their widgets in every language.
//
// The forms give each label and button the size of its text in the first
// language; another language's text can be longer. Before a label or a
// button is painted, its text is fitted into the room the widget has
// (positions and sizes stay): first the font of the form, then a smaller
// one step by step down to kFloorPx; a label whose text still does not fit
// breaks it into lines (from the form's font down again). A combo box is
// fitted so that each of its items fits the box; its open list keeps the
// form's font and is widened to its widest item as far as the window
// reaches. A widget whose text or size changes is fitted again from the
// form's font.
#pragma once

class QWidget;

namespace text_fit {

// The smallest font (pixel size) a text is set in.
constexpr int kFloorPx = 10;

// Fits every label, button and combo box of the application when it is
// painted, a combo box also when it is pressed (once; the application must
// exist).
void install();

// Fits one widget now (a label, a button or a combo box; anything else is
// left alone).
void fit(QWidget* widget);

} // namespace text_fit
