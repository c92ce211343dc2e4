// Texts and pictures of the touch pages in the four display languages:
// 0 Chinese, 1 English, 2 Russian, 3 Vietnamese. Any other value of
// g_language shows English.
#pragma once

#include <QString>

// The language the pages show for g_language.
int ui_language();

// One text in the four languages, picked for g_language.
QString ui_text(const char* zh, const char* en, const char* ru, const char* vi);

// A picture of the resource tree with lettering in the current language:
// ":/png/" + "" (Chinese), "en_", "ru_" or "vn_" + name.
QString ui_png(const char* name);

// The pictures that come in the four languages (plain name = Chinese).
extern const char* const kLanguagePictures[];
extern const int kLanguagePictureCount;

// Makes the compiled-in pictures reachable under ":/png/". The home page
// calls it; calling it again does no harm.
void shell_resources_init();
