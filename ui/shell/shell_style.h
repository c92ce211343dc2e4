// The common look of the shell's pages: an 800 x 480 frameless dark page
// with a Back button at the top left and a centred title, tab buttons with
// the selected and plain styles, and dark tiles.
#pragma once

#include <QString>

class QDialog;
class QFrame;
class QLabel;
class QObject;
class QPushButton;
class QWidget;

extern const char* const kPageStyle;
extern const char* const kTabSelected;
extern const char* const kTabPlain;
extern const char* const kTileStyle;
extern const char* const kActionStyle;

// Makes dialog an 800 x 480 frameless page at the top left of the screen.
void shell_page_frame(QDialog* dialog, const char* objectName);
// "Button_back" at (11, 11), 50 x 50, no focus, icon ":/png/back.png" at
// 32 x 32.
QPushButton* shell_back_button(QWidget* parent);
// The one look of every page's Back button: the arrow alone, flat, without
// a frame.
void shell_back_look(QPushButton* back);
// "label_title": the title row's label, centred, 24 pixels.
QLabel* shell_title(QWidget* parent);
// A plain label with the given object name, geometry and pixel size.
QLabel* shell_label(QWidget* parent, const char* objectName, int x, int y, int w, int h, int pixels,
                    const QString& style = QString());
// The end of a page's Back: the focus goes to the page below, the page
// closes and is deleted once its event loop has ended.
void shell_close_page(QDialog* page, int focusBelow);
// Takes a run-time frame off its page at once and deletes it with all it
// holds later: the button whose click rebuilds the frame may still be
// delivering that click. The pointer is cleared.
void dispose_frame(QFrame*& frame);
// The index a run-time button carries as its object name ("0", "1", ...),
// or -1 when it is not one of count buttons.
int shell_button_index(const QObject* button, int count);
// A push button with the given object name and geometry, no keyboard focus.
QPushButton* shell_button(QWidget* parent, const char* objectName, int x, int y, int w, int h,
                          const char* style = kActionStyle);
