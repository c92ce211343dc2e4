// Small helpers shared by the picture pages.
#pragma once

#include <QFont>
#include <QString>

// The default font at the given point size.
inline QFont page_font(int pointSize)
{
    QFont font;
    font.setPointSize(pointSize);
    return font;
}

// A field's text as a signed 16-bit decimal number; anything else is 0.
inline int page_short(const QString& text)
{
    bool ok = false;
    const short value = text.toShort(&ok, 10);
    return ok ? value : 0;
}
